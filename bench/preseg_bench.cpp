// The presegmentations against OpenCV's own segmentations on the same frame, in the same run.
#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>

#include "bench/bench_support.h"
#include "common/random.h"
#include "meanshift/mean_shift.h"
#include "preseg/graph_segmentation.h"
#include "preseg/preseg_engine.h"
#ifdef LABELER_HAVE_XIMGPROC
#include <opencv2/ximgproc/segmentation.hpp>
#endif

namespace labeler::bench {
namespace {

// The frame of a benchmark whose first two arguments are its size and whose argument `source` says which: 0 the
// synthetic street, 1 the real one.
inline cv::Mat BenchFrame(const benchmark::State& state, int source) {
  const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  return state.range(source) == 0 ? RealisticFrame(size) : RealFootageFrame(size);
}


// The pyramid step as the trackbar runs it: segmentation, then the Laplace edge image.
void BM_PyramidPreseg(benchmark::State& state) {
  cv::Mat frame = BenchFrame(state, 4);
  PresegEngine engine;
  engine.CreatePresegImages(frame.size());
  engine.currentPreseg().algorithm = kPyramidPreseg;
  engine.currentPreseg().pyrSeg1 = static_cast<int>(state.range(2));
  engine.currentPreseg().pyrSeg2 = static_cast<int>(state.range(3));
  QuietConsole quiet;
  engine.UpdatePresegmentation(frame, 0, 1);  // working storage is allocated once, at the first frame
  for (auto _ : state) {
    engine.InvalidatePresegCache();
    engine.UpdatePresegmentation(frame, 0, 1);
    benchmark::DoNotOptimize(engine.presegEdges().data);
  }
}
BENCHMARK(BM_PyramidPreseg)
    ->ArgsProduct({{640}, {480}, {24}, {30}, {0, 1}})->Args({640, 480, 0, 0, 0})
    ->ArgsProduct({{1280}, {720}, {24}, {30}, {0, 1}})->Args({1280, 720, 0, 0, 0})
    ->Unit(benchmark::kMillisecond);

void BM_Yardstick_PyrMeanShiftFiltering(benchmark::State& state) {
  cv::Mat frame = BenchFrame(state, 2);
  cv::Mat out;
  for (auto _ : state) {
    cv::pyrMeanShiftFiltering(frame, out, 10, 20, 1);
    benchmark::DoNotOptimize(out.data);
  }
}
BENCHMARK(BM_Yardstick_PyrMeanShiftFiltering)
    ->ArgsProduct({{640}, {480}, {0, 1}})->ArgsProduct({{1280}, {720}, {0, 1}})->Unit(benchmark::kMillisecond);

void BM_MeanShiftSegment(benchmark::State& state) {
  cv::Mat frame = BenchFrame(state, 3);
  cv::Mat colour, edges;
  MeanShiftSegmenter segmenter;  // as the labeller keeps one
  QuietConsole quiet;
  segmenter.Segment(frame, colour, edges, static_cast<int>(state.range(2)));
  for (auto _ : state) {
    segmenter.Segment(frame, colour, edges, static_cast<int>(state.range(2)));
    benchmark::DoNotOptimize(colour.data);
  }
}
BENCHMARK(BM_MeanShiftSegment)
    ->ArgsProduct({{640}, {480}, {0, 1, 2}, {0, 1}})->ArgsProduct({{1280}, {720}, {0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// Args: width, height, source (0 synthetic, 1 the street clip).
void BM_GraphSegment(benchmark::State& state) {
  cv::Mat frame = BenchFrame(state, 2);
  cv::Mat colour, edges;
  QuietConsole quiet;
  for (auto _ : state) {
    GraphSegment(frame, colour, edges, -1.0f, -1.0f, -1);
    benchmark::DoNotOptimize(colour.data);
  }
}
BENCHMARK(BM_GraphSegment)
    ->ArgsProduct({{640}, {480}, {0, 1}})->ArgsProduct({{1280}, {720}, {0, 1}})->Unit(benchmark::kMillisecond);

#ifdef LABELER_HAVE_XIMGPROC
void BM_Yardstick_OpenCvGraphSegmentation(benchmark::State& state) {
  cv::Mat frame = BenchFrame(state, 2);
  auto segmentation = cv::ximgproc::segmentation::createGraphSegmentation(0.5, 500, 20);
  cv::Mat labels;
  for (auto _ : state) {
    segmentation->processImage(frame, labels);
    benchmark::DoNotOptimize(labels.data);
  }
}
BENCHMARK(BM_Yardstick_OpenCvGraphSegmentation)
    ->ArgsProduct({{640}, {480}, {0, 1}})->ArgsProduct({{1280}, {720}, {0, 1}})->Unit(benchmark::kMillisecond);
#endif

}  // namespace
}  // namespace labeler::bench
