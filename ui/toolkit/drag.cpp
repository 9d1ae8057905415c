#include "ui/toolkit/drag.h"

namespace toolkit {

void Drag::MouseDown(Point inControl) {
  dragging = true;
  offset = inControl;
}

std::optional<Point> Drag::MouseMove(Point inControl, Point clientToScreen) const {
  if (!dragging) return std::nullopt;
  // The dialog's own conversion even for a move on the label: the label's
  // place inside the dialog cancels out against the offset taken on it.
  const Point p{inControl.x + clientToScreen.x, inControl.y + clientToScreen.y};
  return Point{p.x - offset.x, p.y - offset.y};
}

void Drag::MouseUp() { dragging = false; }

}  // namespace toolkit
