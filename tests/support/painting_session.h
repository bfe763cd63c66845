// PaintingSession: a labelling project on disk (a still list of flat-coloured frames, label names, a meta
// file) and the labeller running on it through the test double.
#ifndef LABELER_TESTS_SUPPORT_PAINTING_SESSION_H_
#define LABELER_TESTS_SUPPORT_PAINTING_SESSION_H_

#include <filesystem>
#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "app/labeler.h"
#include "support/fake_window_system.h"
#include "support/temp_dir.h"
#include "support/test_media.h"

namespace labeler::testing {

inline constexpr const char* kFrameWin = "Click Me!";
inline constexpr const char* kPresegWin = "Rescaled PreSeg";
inline constexpr const char* kLabelWin = "Labeled Map";

// Label 0 road (hot key 1), label 1 car (hot key 2), label 2 sky (no hot key).
inline const cv::Vec3b kRoadBgr(128, 64, 128);
inline const cv::Vec3b kCarBgr(142, 0, 0);

class PaintingSession {
 public:
  // `frames` flat-coloured frames: a grey background with a blue box at (10, 10, 30, 20); frame i is i shades
  // lighter, so frames differ.
  // With `prepareNeighbours`, the labeller runs its worker thread, as it does for the annotator.
  explicit PaintingSession(int frames = 3, cv::Size size = {64, 48}, int maxWindowDim = 64,
                           bool prepareNeighbours = true)
      : app(windows, prepareNeighbours) {
    std::string list;
    for (int i = 0; i < frames; ++i) {
      cv::Mat frame(size, CV_8UC3, cv::Scalar(40 + i, 40 + i, 40 + i));
      cv::rectangle(frame, cv::Rect(10, 10, 30, 20), cv::Scalar(200, 30, 30), cv::FILLED);
      std::string name = dir.File("frame" + std::to_string(i) + ".png");
      cv::imwrite(name, frame);
      list += name + "\n";
    }
    std::filesystem::create_directory(LabelDir());
    std::string labels = dir.Write("labels.txt", "= 1 road 128 64 128\n= 2 car 0 0 142\nsky 70 130 180\n");
    meta = dir.Write("run.meta", MetaText(dir.Write("frames.txt", list), labels, LabelDir(), 10, maxWindowDim));
  }

  std::string LabelDir() const { return dir.File("labels"); }
  std::string LabelFile(int frame) const { return LabelImagePath(LabelDir(), frame); }
  cv::Mat Stored(int frame) const { return cv::imread(LabelFile(frame), cv::IMREAD_UNCHANGED); }

  // A left drag through `points` on `window` (frame coordinates on "Click Me!").
  void Drag(const std::vector<cv::Point>& points, const std::string& window = kFrameWin) {
    windows.Mouse(window, ui::kLeftPress, points.front().x, points.front().y, ui::kFlagLeft);
    for (size_t i = 1; i + 1 < points.size(); ++i) {
      windows.Mouse(window, ui::kMouseMove, points[i].x, points[i].y, ui::kFlagLeft);
    }
    windows.Mouse(window, ui::kLeftRelease, points.back().x, points.back().y, 0);
  }
  void Click(cv::Point at, const std::string& window = kFrameWin) { Drag({at, at}, window); }

  // Runs the labeller through the script; returns its status. Standard output is kept in `printed`.
  int Run() {
    std::string argument = meta;
    char program[] = "labeler";
    char* argv[] = {program, argument.data(), nullptr};
    ::testing::internal::CaptureStdout();
    int status = 0;
    try {
      status = app.Run(2, argv);
    } catch (...) {
      printed = ::testing::internal::GetCapturedStdout();
      throw;
    }
    std::fflush(stdout);
    printed = ::testing::internal::GetCapturedStdout();
    return status;
  }

  bool Printed(const std::string& text) const { return printed.find(text) != std::string::npos; }

  TempDir dir;
  std::string meta;
  FakeWindowSystem windows;
  Labeler app;
  std::string printed;
};

// Pixels of `image` (8-bit BGR) equal to `colour`.
inline int CountColour(const cv::Mat& image, cv::Vec3b colour) {
  int count = 0;
  for (int y = 0; y < image.rows; ++y) {
    for (int x = 0; x < image.cols; ++x) count += image.at<cv::Vec3b>(y, x) == colour;
  }
  return count;
}

}  // namespace labeler::testing

#endif  // LABELER_TESTS_SUPPORT_PAINTING_SESSION_H_
