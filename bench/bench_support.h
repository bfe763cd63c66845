// Shared pieces of the benchmarks: a realistic frame, and a windowing layer that shows nothing.
#ifndef LABELER_BENCH_BENCH_SUPPORT_H_
#define LABELER_BENCH_BENCH_SUPPORT_H_


#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "common/quiet_console.h"
#include "ui/window_system.h"

namespace labeler::bench {

using labeler::QuietConsole;

// The street clip of OpenCV's sample data (Debian package opencv-doc, which make bench installs).
inline constexpr const char* kStreetClip = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";

// A street-like frame: a sky gradient, textured regions, hard edges, a road and sensor noise.
inline cv::Mat RealisticFrame(cv::Size size) {
  cv::Mat frame(size, CV_8UC3);
  const int horizon = size.height * 2 / 5;
  for (int y = 0; y < size.height; ++y) {
    double t = static_cast<double>(y) / size.height;
    frame.row(y).setTo(y < horizon ? cv::Scalar(235 - 60 * t, 190 - 30 * t, 120 + 80 * t)
                                   : cv::Scalar(60 + 20 * t, 150 - 40 * t, 80));
  }
  cv::RNG rng(4242);
  const int scale = size.width / 64;
  for (int i = 0; i < 40; ++i) {  // trees and bushes along the horizon
    cv::Point centre(rng.uniform(0, size.width), horizon - rng.uniform(0, 4 * scale));
    cv::circle(frame, centre, rng.uniform(2 * scale, 5 * scale), cv::Scalar(30, rng.uniform(90, 170), 40),
               cv::FILLED);
  }
  std::vector<cv::Point> road = {{size.width * 2 / 5, horizon}, {size.width * 3 / 5, horizon},
                                 {size.width, size.height}, {0, size.height}};
  cv::fillConvexPoly(frame, road, cv::Scalar(95, 90, 90));
  for (int i = 0; i < 6; ++i) {  // vehicles with windows
    cv::Rect body(rng.uniform(0, size.width - 12 * scale), rng.uniform(horizon, size.height - 5 * scale),
                  rng.uniform(6, 12) * scale, rng.uniform(3, 5) * scale);
    cv::rectangle(frame, body, cv::Scalar(rng.uniform(0, 255), rng.uniform(0, 255), rng.uniform(0, 255)),
                  cv::FILLED);
    cv::rectangle(frame, cv::Rect(body.x + scale, body.y + scale / 2, body.width / 3, body.height / 3),
                  cv::Scalar(120, 90, 60), cv::FILLED);
  }
  cv::Mat noise(size, CV_16SC3);
  rng.fill(noise, cv::RNG::NORMAL, 0, 5);
  cv::Mat widened;
  frame.convertTo(widened, CV_16SC3);
  widened += noise;
  widened.convertTo(frame, CV_8UC3);
  return frame;
}

// Frame `index` of the street clip scaled to `size`, or, when the clip is not installed, the synthetic frame.
inline cv::Mat RealFootageFrame(cv::Size size, int index = 10) {
  cv::VideoCapture clip(kStreetClip, cv::CAP_FFMPEG);
  cv::Mat frame;
  for (int i = 0; i <= index && clip.isOpened(); ++i) clip.read(frame);
  if (frame.empty()) return RealisticFrame(size);
  cv::resize(frame, frame, size, 0, 0, cv::INTER_AREA);
  return frame;
}

// Records the callbacks and shows nothing: the benchmarks measure the labeller, not the screen.
class NullWindowSystem : public ui::WindowSystem {
 public:
  void CreateWindow(const std::string&) override {}
  void DestroyWindow(const std::string&) override {}
  void ShowImage(const std::string&, const cv::Mat&) override {}
  void ShowImageRect(const std::string&, const cv::Mat&, const cv::Rect&) override {}
  void SetTrackbarPosition(const std::string& name, const std::string&, int position) override {
    MoveTrackbar(name, position);
  }
  void ShareView(const std::vector<std::string>&) override {}
  void SetStatusLine(const std::string&, const std::vector<ui::StatusPart>&) override {}
  void ShowStatusNow(const std::string&, const std::vector<ui::StatusPart>&) override {}
  void CreateTrackbar(const std::string& name, const std::string&, int* value, int, ui::TrackbarCallback cb) override {
    trackbars[name] = {value, std::move(cb)};
  }
  // Moves a trackbar as the user would.
  void MoveTrackbar(const std::string& name, int position) {
    auto& [value, callback] = trackbars.at(name);
    *value = position;
    callback(position);
  }
  void SetMouseCallback(const std::string& window, ui::MouseCallback cb) override {
    if (window == "Click Me!") frameMouse = std::move(cb);
  }
  // The benchmark body runs inside the key wait, as the mouse handlers do; then the run ends.
  int WaitKey() override {
    if (body) body();
    body = nullptr;
    return 27;
  }
  void ShowMessageBox(const std::string&, const std::string&) override {}
  void ShowPoint(const std::string&, cv::Point) override {}

  std::function<void()> body;
  ui::MouseCallback frameMouse;
  std::map<std::string, std::pair<int*, ui::TrackbarCallback>> trackbars;
};

}  // namespace labeler::bench

#endif  // LABELER_BENCH_BENCH_SUPPORT_H_
