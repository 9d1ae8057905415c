// The dialogs' 96-DPI layout at other display scales, and which picture is
// drawn at each.
#include <gtest/gtest.h>

#include "ui/toolkit/scale.h"

namespace {

using toolkit::Bounds;
using toolkit::scaleToDpi;

TEST(Scale, TheLayoutAtEachDpiAndPictureMadeForIt) {
  struct Case {
    int dpi;
    Bounds window;   // the 640 x 288 client area
    Bounds right;    // the right action button, (445, 213) 175 x 45
    size_t picture;  // index into kPictureScales for the button plate
  };
  const Case cases[] = {
      {96, {0, 0, 640, 288}, {445, 213, 175, 45}, 0},
      {120, {0, 0, 800, 360}, {556, 266, 219, 56}, 1},
      {144, {0, 0, 960, 432}, {668, 320, 263, 68}, 2},
      {168, {0, 0, 1120, 504}, {779, 373, 306, 79}, 3},
      {192, {0, 0, 1280, 576}, {890, 426, 350, 90}, 4},
      // Beyond the scales the pictures are made for: the largest, shrunk
      // never; between two, the larger one, shrunk a little.
      {240, {0, 0, 1600, 720}, {1113, 533, 438, 113}, 4},
      {110, {0, 0, 733, 330}, {510, 244, 201, 52}, 1},
      // Out of bounds, as a window system should never report them.
      {0, {0, 0, 640, 288}, {445, 213, 175, 45}, 0},
      {100000, {0, 0, 6400, 2880}, {4450, 2130, 1750, 450}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    const Bounds window = scaleToDpi(Bounds{0, 0, 640, 288}, c.dpi);
    const Bounds right = scaleToDpi(Bounds{445, 213, 175, 45}, c.dpi);
    EXPECT_EQ(window.width, c.window.width);
    EXPECT_EQ(window.height, c.window.height);
    EXPECT_EQ(right.x, c.right.x);
    EXPECT_EQ(right.y, c.right.y);
    EXPECT_EQ(right.width, c.right.width);
    EXPECT_EQ(right.height, c.right.height);
    EXPECT_EQ(toolkit::pictureScaleFor(right.width, 175), c.picture);
  }
}

TEST(Scale, ALengthNeverScalesToNothing) {
  // The power dialog's 1 x 1 shrink stays a window, and a pixel-wide line a line.
  EXPECT_EQ(scaleToDpi(1, 96), 1);
  EXPECT_EQ(scaleToDpi(1, 120), 1);
  EXPECT_EQ(scaleToDpi(1, 144), 2);
  EXPECT_EQ(scaleToDpi(0, 192), 0);
  EXPECT_EQ(scaleToDpi(-1, 120), -1);
}

}  // namespace
