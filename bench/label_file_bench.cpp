// Saving and loading a 1920 x 1080 label image with its record of painted pixels, beside the plain PNG write and
// read the labeller did before the record existed, in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "annotation/label_file.h"
#include "annotation/label_image_file.h"
#include "annotation/painted_record.h"
#include "common/files.h"

namespace labeler::bench {
namespace {

const cv::Size kFrame(1920, 1080);

// A label image with a few regions, of which the painted pixels are the discs of a dozen strokes: the rest is
// what label assist completed.
struct CompletedFrame {
  CompletedFrame() {
    std::string pattern = (std::filesystem::temp_directory_path() / "labeler-file-bench-XXXXXX").string();
    dir = mkdtemp(pattern.data());
    labels = cv::Mat(kFrame, CV_8UC3, cv::Scalar(180, 130, 70));
    cv::fillConvexPoly(labels, std::vector<cv::Point>{{800, 400}, {1100, 400}, {1920, 1080}, {0, 1080}},
                       cv::Scalar(128, 64, 128));
    cv::RNG rng(3);
    painted = cv::Mat::zeros(kFrame, CV_8UC1);
    for (int i = 0; i < 12; ++i) {
      const cv::Point at(rng.uniform(0, kFrame.width), rng.uniform(0, kFrame.height));
      cv::rectangle(labels, cv::Rect(at, cv::Size(120, 80)), cv::Scalar(142, 0, 0), cv::FILLED);
      cv::circle(painted, at, 20, cv::Scalar(255), cv::FILLED);
    }
  }
  ~CompletedFrame() { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
  cv::Mat labels;
  cv::Mat painted;
};

CompletedFrame& Frame() {
  static CompletedFrame frame;
  return frame;
}

void BM_LabelFileSaveWithRecord(benchmark::State& state) {
  LabelFile file(Frame().dir.string());
  file.Load(0, kFrame);
  for (auto _ : state) benchmark::DoNotOptimize(file.Save(0, Frame().labels, Frame().painted));
}
BENCHMARK(BM_LabelFileSaveWithRecord)->Unit(benchmark::kMillisecond);

void BM_LabelFileSavePlainPng(benchmark::State& state) {
  const std::string path = (Frame().dir / "plain.png").string();
  for (auto _ : state) {
    std::vector<uchar> png;
    cv::imencode(".png", Frame().labels, png);
    benchmark::DoNotOptimize(WriteFileAtomically(path, png));
  }
}
BENCHMARK(BM_LabelFileSavePlainPng)->Unit(benchmark::kMillisecond);

void BM_LabelFileLoadWithRecord(benchmark::State& state) {
  LabelFile file(Frame().dir.string());
  file.Load(0, kFrame);
  file.Save(0, Frame().labels, Frame().painted);
  for (auto _ : state) {
    file.Load(0, kFrame);
    benchmark::DoNotOptimize(file.storedPainted().data);
  }
}
BENCHMARK(BM_LabelFileLoadWithRecord)->Unit(benchmark::kMillisecond);

void BM_LabelFileLoadPlainPng(benchmark::State& state) {
  const std::string path = (Frame().dir / "plain.png").string();
  cv::imwrite(path, Frame().labels);
  for (auto _ : state) benchmark::DoNotOptimize(ReadStoredLabelImage(path, kFrame).data);
}
BENCHMARK(BM_LabelFileLoadPlainPng)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace labeler::bench
