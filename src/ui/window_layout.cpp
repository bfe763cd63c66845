#include "ui/window_layout.h"

#include <algorithm>

namespace labeler::ui {
namespace {

cv::Size Outer(const WindowBox& box, double scale, int decoration) {
  return {static_cast<int>(box.picture.width * scale),
          static_cast<int>(box.picture.height * scale) + box.controls + decoration};
}

// Side by side from the top-left corner, wrapping to a new row when the screen is too narrow. Returns whether
// every window stays inside the screen.
bool LayOutInRows(const cv::Rect& screen, const std::vector<WindowBox>& boxes, int decoration, int gap,
                  std::vector<WindowPlace>& places) {
  int x = screen.x;
  int rowTop = screen.y;
  int rowBottom = screen.y;
  bool inside = true;
  for (size_t i = 0; i < boxes.size(); ++i) {
    const cv::Size outer = Outer(boxes[i], 1.0, decoration);
    if (i > 0 && x + outer.width > screen.x + screen.width) {
      x = screen.x;
      rowTop = rowBottom;
    }
    places[i] = {{x, rowTop}, 1.0};
    inside = inside && x + outer.width <= screen.x + screen.width && rowTop + outer.height <= screen.y + screen.height;
    x += outer.width + gap;
    rowBottom = std::max(rowBottom, rowTop + outer.height + gap);
  }
  return inside;
}

// The largest scale at which the shared windows fit in `area`, side by side (`across`) or stacked.
double SharedScale(const cv::Size& area, const std::vector<const WindowBox*>& shared, bool across, int decoration,
                   int gap) {
  double width = 0;
  double height = 0;
  int fixedWidth = 0;
  int fixedHeight = 0;
  for (const WindowBox* box : shared) {
    if (across) {
      width += box->picture.width;
      height = std::max<double>(height, box->picture.height);
      fixedHeight = std::max(fixedHeight, box->controls + decoration);
    } else {
      width = std::max<double>(width, box->picture.width);
      height += box->picture.height;
      fixedHeight += box->controls + decoration;
    }
  }
  const int gaps = gap * static_cast<int>(shared.size() - 1);
  if (across) {
    fixedWidth = gaps;
  } else {
    fixedHeight += gaps;
  }
  return std::min({1.0, (area.width - fixedWidth) / width, (area.height - fixedHeight) / height});
}

}  // namespace

std::vector<WindowPlace> LayOutWindows(const cv::Rect& screen, const std::vector<WindowBox>& boxes, int decoration,
                                       int gap) {
  std::vector<WindowPlace> places(boxes.size());
  if (LayOutInRows(screen, boxes, decoration, gap, places)) return places;
  std::vector<const WindowBox*> shared;
  for (const WindowBox& box : boxes) {
    if (box.shared) shared.push_back(&box);
  }
  const double acrossScale = shared.empty() ? 1.0 : SharedScale(screen.size(), shared, true, decoration, gap);
  const double stackedScale = shared.empty() ? 1.0 : SharedScale(screen.size(), shared, false, decoration, gap);
  const bool across = acrossScale >= stackedScale;
  const double scale = std::max(0.01, across ? acrossScale : stackedScale);
  // The shared windows first, from the top-left corner.
  cv::Point next = screen.tl();
  cv::Rect used(screen.tl(), cv::Size());
  for (size_t i = 0; i < boxes.size(); ++i) {
    if (!boxes[i].shared) continue;
    const cv::Size outer = Outer(boxes[i], scale, decoration);
    places[i] = {next, scale};
    used |= cv::Rect(next, outer);
    next = across ? cv::Point(next.x + outer.width + gap, next.y) : cv::Point(next.x, next.y + outer.height + gap);
  }
  // The others right of the shared windows, else under them, else in the bottom-right corner over them.
  cv::Point right(used.x + used.width + gap, screen.y);
  cv::Point below(screen.x, used.y + used.height + gap);
  for (size_t i = 0; i < boxes.size(); ++i) {
    if (boxes[i].shared) continue;
    const double own = std::min({1.0, static_cast<double>(screen.width) / boxes[i].picture.width,
                                 static_cast<double>(screen.height - boxes[i].controls - decoration) /
                                     boxes[i].picture.height});
    const cv::Size outer = Outer(boxes[i], own, decoration);
    const cv::Rect screenArea = screen;
    if ((cv::Rect(right, outer) & screenArea) == cv::Rect(right, outer)) {
      places[i] = {right, own};
      right.y += outer.height + gap;
    } else if ((cv::Rect(below, outer) & screenArea) == cv::Rect(below, outer)) {
      places[i] = {below, own};
      below.x += outer.width + gap;
    } else {
      places[i] = {screen.br() - cv::Point(outer.width, outer.height), own};
    }
  }
  return places;
}

}  // namespace labeler::ui
