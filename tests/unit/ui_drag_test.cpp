// Dragging a dialog by its background or its label: the window follows the
// pointer exactly, wherever on the two controls the drag began.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "ui/toolkit/drag.h"

namespace {

using toolkit::Drag;
using toolkit::Point;

// A borderless dialog on a screen: its location is its client area's origin.
// Each event is reported in the coordinates of the control under the press,
// as a window system reports a captured pointer.
struct Screen {
  Point dialog;         // the dialog's location on the screen
  Point controlOrigin;  // where the receiving control sits inside the dialog
  Drag drag;

  Point inControl(Point pointer) const {
    return {pointer.x - dialog.x - controlOrigin.x, pointer.y - dialog.y - controlOrigin.y};
  }
  void press(Point pointer) { drag.MouseDown(inControl(pointer)); }
  void move(Point pointer) {
    if (const std::optional<Point> to = drag.MouseMove(inControl(pointer), dialog)) dialog = *to;
  }
};

TEST(Drag, TheDialogMovesByExactlyThePointersDisplacement) {
  struct Case {
    const char* control;
    Point controlOrigin;
  };
  const Case cases[] = {{"background", {0, 0}}, {"label1 at (20, 20)", {20, 20}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    Screen screen{{300, 200}, c.controlOrigin, {}};
    const Point start{400, 250};
    screen.press(start);
    EXPECT_TRUE(screen.drag.dragging);
    EXPECT_EQ(screen.drag.offset, (Point{100 - c.controlOrigin.x, 50 - c.controlOrigin.y}));

    // Every step, small or large, backwards or past the screen's edge,
    // leaves the pointer on the same spot of the dialog.
    const std::vector<Point> path{{400, 250}, {401, 250}, {430, 220}, {-50, 900}, {395, 260}};
    for (const Point& pointer : path) {
      screen.move(pointer);
      EXPECT_EQ(screen.dialog, (Point{300 + pointer.x - start.x, 200 + pointer.y - start.y}))
          << "pointer at " << pointer.x << "," << pointer.y;
    }

    screen.drag.MouseUp();
    EXPECT_FALSE(screen.drag.dragging);
    const Point before = screen.dialog;
    screen.move({10, 10});
    EXPECT_EQ(screen.dialog, before) << "a move after the release changes nothing";
  }
}

TEST(Drag, MovesWithoutAPressChangeNothing) {
  const Drag drag;
  EXPECT_EQ(drag.MouseMove({5, 5}, {100, 100}), std::nullopt);
}

TEST(Drag, ANewPressTakesANewOffset) {
  Screen screen{{0, 0}, {20, 20}, {}};
  screen.press({30, 30});
  screen.move({40, 40});
  screen.drag.MouseUp();
  screen.press({60, 45});  // the label is now at (30, 30) on the screen
  EXPECT_EQ(screen.drag.offset, (Point{30, 15}));
  screen.move({61, 45});
  EXPECT_EQ(screen.dialog, (Point{11, 10}));
}

}  // namespace
