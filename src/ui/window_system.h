// WindowSystem: the windows, trackbars, mouse, keyboard and message box the labeller talks to.
//
// The labeller sees the desktop only through this interface, so that whole sessions can run against a
// recording test double. The Qt implementation is QtWindowSystem. Everything happens on one thread: mouse and
// trackbar callbacks run from inside WaitKey.
#ifndef LABELER_UI_WINDOW_SYSTEM_H_
#define LABELER_UI_WINDOW_SYSTEM_H_

#include <functional>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace labeler::ui {

// Mouse event codes and flag bits passed to a MouseCallback.
enum MouseEvent {
  kMouseMove = 0,
  kLeftPress = 1,
  kRightPress = 2,
  kMiddlePress = 3,
  kLeftRelease = 4,
  kRightRelease = 5,
  kMiddleRelease = 6,
  kLeftDoubleClick = 7,
  kRightDoubleClick = 8,
  kMiddleDoubleClick = 9,
  kWheelForward = 10,
  kWheelBack = 11,
};
enum MouseFlag { kFlagLeft = 1, kFlagRight = 2, kFlagMiddle = 4, kFlagCtrl = 8, kFlagShift = 16, kFlagAlt = 32 };

// Key codes returned by WaitKey besides printable characters, which come as themselves. Ctrl with a letter
// comes as 1..26.
inline constexpr int kKeyBackspace = 8;
inline constexpr int kKeyEscape = 27;

// One part of a status line: its text, with a swatch of `colour` (blue, green, red) before it when `swatch`.
// Where the line is too narrow for all its parts, the least important give way first (see StatusFit); the
// zoom the windowing layer adds to the line has importance 1.
struct StatusPart {
  std::string text;
  bool swatch = false;
  cv::Vec3b colour;
  int importance = 0;
  bool operator==(const StatusPart&) const = default;
};

// (event, x, y, flags), x and y in image pixels of the window's picture.
using MouseCallback = std::function<void(int event, int x, int y, int flags)>;
// The new position; it has already been stored in the bound int.
using TrackbarCallback = std::function<void(int position)>;

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // Creates a window titled `name` that takes the size of the picture shown in it.
  virtual void CreateWindow(const std::string& name) = 0;
  virtual void DestroyWindow(const std::string& name) = 0;
  // Shows an 8-bit BGR or grey image; the picture is copied.
  virtual void ShowImage(const std::string& window, const cv::Mat& image) = 0;
  // Replaces the rectangle `rect` of the window's picture by the same rectangle of `image`, which has the size
  // and type of the picture shown last; only that rectangle is copied and repainted, so that a mouse move costs
  // the size of the brush, not of the frame.
  virtual void ShowImageRect(const std::string& window, const cv::Mat& image, const cv::Rect& rect) = 0;
  // A trackbar under the window's picture, editing `*value` in 0..max; `value` must outlive the window.
  virtual void CreateTrackbar(const std::string& trackbar, const std::string& window, int* value, int max,
                              TrackbarCallback onChange) = 0;
  // Moves a trackbar as a click on it would: the bound int and the callback follow.
  virtual void SetTrackbarPosition(const std::string& trackbar, const std::string& window, int position) = 0;
  // The windows named show the same frame-sized picture area: they zoom and pan together (inside the windowing
  // layer, which adds the zoom to their status lines), and they have the screen first when windows are laid out.
  virtual void ShareView(const std::vector<std::string>& windows) = 0;
  // A status line under the trackbars of `window`, its parts in order; it never covers or moves the picture.
  virtual void SetStatusLine(const std::string& window, const std::vector<StatusPart>& parts) = 0;
  // As SetStatusLine, and on the screen at once although the labeller is busy and no event is handled: progress
  // of long work. Input that arrives meanwhile stays queued, in order.
  virtual void ShowStatusNow(const std::string& window, const std::vector<StatusPart>& parts) = 0;
  virtual void SetMouseCallback(const std::string& window, MouseCallback onMouse) = 0;
  // Waits, without time-out, for a key and returns its code; closing any window returns kKeyEscape.
  virtual int WaitKey() = 0;
  // Brings the image point `at` of the window into view (a zoomed view pans to centre it) and moves the pointer
  // onto it, so the annotator's eye and hand are where the labeller points them.
  virtual void ShowPoint(const std::string& window, cv::Point at) = 0;
  // A modal box with the text, the caption and one OK button.
  virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;
};

}  // namespace labeler::ui

#endif  // LABELER_UI_WINDOW_SYSTEM_H_
