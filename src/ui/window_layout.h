// Where the labeller's windows go on the screen, and at what view scale their pictures are shown.
//
// Windows are laid side by side in the order they were created, wrapping to a new row, at one screen pixel per
// image pixel, as long as that keeps every window inside the screen. Otherwise the windows of the shared view
// (the frame and the label map, which show the same frame-sized picture) are scaled down together, side by side
// or one above the other, whichever shows them larger; the other windows go where they don't overlap those two if
// there is room, and may overlap them (never leave the screen) if there is not. Pure: no Qt, testable alone.
#ifndef LABELER_UI_WINDOW_LAYOUT_H_
#define LABELER_UI_WINDOW_LAYOUT_H_

#include <opencv2/core.hpp>
#include <vector>

namespace labeler::ui {

struct WindowBox {
  cv::Size picture;    // at one screen pixel per image pixel
  int controls = 0;    // height of what sits under the picture (trackbars, status line)
  bool shared = false; // part of the shared view
};

struct WindowPlace {
  cv::Point at;        // top-left corner of the window's client area
  double scale = 1.0;  // view scale of its picture, at most 1
};

// `decoration` is the height a window manager adds above a window, `gap` the space between windows.
std::vector<WindowPlace> LayOutWindows(const cv::Rect& screen, const std::vector<WindowBox>& boxes, int decoration,
                                       int gap);

}  // namespace labeler::ui

#endif  // LABELER_UI_WINDOW_LAYOUT_H_
