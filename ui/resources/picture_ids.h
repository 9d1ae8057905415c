// Resource names of the dialogs' pictures, shared by ui.rc and the win32
// toolkit that loads them. Each picture is made at every scale of
// kPictureScales (ui/toolkit/scale.h): its 100 % resource name, then one
// step further for each larger scale.
#pragma once

#define OVVB_ICON 1
#define OVVB_BACKGROUND_PNG 201
#define OVVB_BUTTON_PLATE_PNG 202
#define OVVB_MINIMIZE_GLYPH_PNG 203
#define OVVB_PICTURE_SCALE_STEP 10
