// save_loop DIR: saves the label image of frame 0 in DIR/labels over and over, alternating between two
// contents (noise from seeds 1 and 2), and says "saved" after the first save. The crash-safety test kills it
// at random moments.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>

#include "annotation/label_images.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::filesystem::path dir = argv[1];
  const cv::Size size(1280, 720);
  cv::imwrite((dir / "frame.png").string(), cv::Mat(size, CV_8UC3, cv::Scalar(1, 2, 3)));
  std::ofstream(dir / "frames.txt") << (dir / "frame.png").string() << "\n";
  std::filesystem::create_directories(dir / "labels");
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 2;  // the timeline's log lines
  labeler::Timeline timeline((dir / "frames.txt").string());
  timeline.ReloadMovie();
  labeler::PresegEngine preseg;
  labeler::StrokeStore strokes;
  labeler::RedrawRequests redraws;
  labeler::LabelImages images(timeline, preseg, strokes, redraws, (dir / "labels").string());
  images.Create(size);
  strokes.BeginStroke(1, 1, 1, cv::Scalar(1, 2, 3), "0 ");
  strokes.EndStroke(1, 1);
  images.Commit();  // the stroke is in the committed image, which the loop then overwrites with its contents
  cv::Mat contents[2] = {cv::Mat(size, CV_8UC3), cv::Mat(size, CV_8UC3)};
  for (int i = 0; i < 2; ++i) cv::RNG(i + 1).fill(contents[i], cv::RNG::UNIFORM, 0, 256);
  for (long long n = 0;; ++n) {
    contents[n % 2].copyTo(images.committed());
    if (!images.SaveLabelImage(0)) return 1;
    if (n == 0) {
      std::fputs("saved\n", stderr);
      std::fflush(stderr);
    }
  }
}
