// FakeWindowSystem: the test double of the windowing layer.
//
// It records what the labeller creates and shows, and plays a script of mouse events, trackbar moves and keys
// from inside WaitKey, as the real key wait would. When the script runs out, WaitKey returns Escape.
#ifndef LABELER_TESTS_SUPPORT_FAKE_WINDOW_SYSTEM_H_
#define LABELER_TESTS_SUPPORT_FAKE_WINDOW_SYSTEM_H_

#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/window_system.h"

namespace labeler::testing {

class FakeWindowSystem : public ui::WindowSystem {
 public:
  struct Trackbar {
    std::string window;
    int* value;
    int max;
    ui::TrackbarCallback onChange;
  };

  // Script steps, played in order by WaitKey.
  void Key(int code) { script_.push_back([code] { return code; }); }
  void Mouse(const std::string& window, int event, int x, int y, int flags = 0) {
    script_.push_back([=, this] {
      mouseCallbacks.at(window)(event, x, y, flags);
      return -1;
    });
  }
  void MoveTrackbar(const std::string& name, int position) {
    script_.push_back([=, this] {
      Trackbar& bar = trackbars.at(name);
      *bar.value = position;
      if (bar.onChange) bar.onChange(position);
      return -1;
    });
  }
  // Runs `action` at this point of the script (to look at the state between events).
  void Do(std::function<void()> action) {
    script_.push_back([action] {
      action();
      return -1;
    });
  }

  void CreateWindow(const std::string& name) override { created.push_back(name); }
  void DestroyWindow(const std::string& name) override { destroyed.push_back(name); }
  void ShowImage(const std::string& window, const cv::Mat& image) override {
    FailIfAsked();
    lastShown[window] = image.clone();
    showLog.push_back(window);
  }
  // As the real window: only the rectangle changes in the picture shown.
  void ShowImageRect(const std::string& window, const cv::Mat& image, const cv::Rect& rect) override {
    FailIfAsked();
    cv::Mat& shown = lastShown[window];
    if (shown.size() != image.size() || shown.type() != image.type()) {
      ShowImage(window, image);
      return;
    }
    const cv::Rect clipped = rect & cv::Rect(0, 0, image.cols, image.rows);
    image(clipped).copyTo(shown(clipped));
    rectLog.push_back({window, clipped});
  }
  void CreateTrackbar(const std::string& trackbar, const std::string& window, int* value, int max,
                      ui::TrackbarCallback onChange) override {
    trackbars[trackbar] = Trackbar{window, value, max, std::move(onChange)};
    trackbarOrder.push_back(trackbar);
  }
  void SetTrackbarPosition(const std::string& trackbar, const std::string&, int position) override {
    Trackbar& bar = trackbars.at(trackbar);
    *bar.value = position;
    if (bar.onChange) bar.onChange(position);
  }
  void ShareView(const std::vector<std::string>& windows) override { sharedView = windows; }
  void SetStatusLine(const std::string& window, const std::vector<ui::StatusPart>& parts) override {
    statusLines[window] = parts;
  }
  void ShowStatusNow(const std::string& window, const std::vector<ui::StatusPart>& parts) override {
    FailIfAsked();
    SetStatusLine(window, parts);
    shownAtOnce.push_back(StatusText(window));
  }
  // The status line of `window` as plain text, parts separated by " | ", a swatch as "[b,g,r] ".
  std::string StatusText(const std::string& window) const {
    std::string text;
    auto it = statusLines.find(window);
    if (it == statusLines.end()) return text;
    for (const ui::StatusPart& part : it->second) {
      if (!text.empty()) text += " | ";
      if (part.swatch) {
        text += "[" + std::to_string(part.colour[0]) + "," + std::to_string(part.colour[1]) + "," +
                std::to_string(part.colour[2]) + "] ";
      }
      text += part.text;
    }
    return text;
  }
  void SetMouseCallback(const std::string& window, ui::MouseCallback onMouse) override {
    mouseCallbacks[window] = std::move(onMouse);
  }
  int WaitKey() override {
    ++waits;
    while (!script_.empty()) {
      auto step = std::move(script_.front());
      script_.pop_front();
      int key = step();
      if (key >= 0) return key;
    }
    return ui::kKeyEscape;
  }
  void ShowMessageBox(const std::string& text, const std::string& caption) override {
    messageBoxes.push_back({text, caption});
  }
  void ShowPoint(const std::string& window, cv::Point at) override { shownPoints.push_back({window, at}); }

  std::vector<std::string> created;
  std::vector<std::string> destroyed;
  std::map<std::string, cv::Mat> lastShown;
  std::vector<std::string> showLog;
  std::vector<std::pair<std::string, cv::Rect>> rectLog;
  std::map<std::string, Trackbar> trackbars;
  std::vector<std::string> trackbarOrder;
  std::map<std::string, ui::MouseCallback> mouseCallbacks;
  std::vector<std::pair<std::string, std::string>> messageBoxes;
  std::vector<std::pair<std::string, cv::Point>> shownPoints;
  std::vector<std::string> sharedView;
  std::map<std::string, std::vector<ui::StatusPart>> statusLines;
  std::vector<std::string> shownAtOnce;  // the status lines shown at once (ShowStatusNow), in order
  int waits = 0;
  int failingShows = 0;  // the next this many pictures or progress lines shown throw, as when out of memory

 private:
  void FailIfAsked() {
    if (failingShows == 0) return;
    --failingShows;
    throw std::runtime_error("no memory for the picture");
  }

  std::deque<std::function<int()>> script_;
};

}  // namespace labeler::testing

#endif  // LABELER_TESTS_SUPPORT_FAKE_WINDOW_SYSTEM_H_
