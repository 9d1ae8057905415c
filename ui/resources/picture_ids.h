// Resource names of the dialogs' pictures, shared by ui.rc and the win32
// toolkit that loads them.
#pragma once

#define OVVB_ICON 1
#define OVVB_BACKGROUND_PNG 201
#define OVVB_BUTTON_PLATE_PNG 202
#define OVVB_MINIMIZE_GLYPH_PNG 203
