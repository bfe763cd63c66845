// Label assist: one completion after a stroke, and the preparation of a frame (carried evidence, cells, graph),
// against the proposal "p" makes on the same frame, in the same run.
#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>

#include "annotation/label_completer.h"
#include "annotation/painted_record.h"
#include "assist/label_assist.h"
#include "bench/bench_support.h"
#include "preseg/preseg_engine.h"

namespace labeler::bench {
namespace {

// A frame of the street clip (argument 2: 1) or the synthetic street (0), the one before it moved by 4 pixels,
// labels for that one (its colours in six clusters, smoothed into areas), the presegmentations the labeller
// would use with the graph setting, and the finer pyramid regions that cut the cells the walk is unsure of.
struct AssistScene {
  cv::Mat frame;
  cv::Mat grey;
  LabelledNeighbour before;
  std::vector<cv::Mat> partitions;
  std::shared_ptr<const RegionMap> graphRegions;
  cv::Mat finer;

  explicit AssistScene(const benchmark::State& state) {
    const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    frame = state.range(2) == 0 ? RealisticFrame(size) : RealFootageFrame(size);
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    const cv::Mat move = (cv::Mat_<double>(2, 3) << 1, 0, -4, 0, 1, 0);
    cv::Mat previous;
    cv::warpAffine(frame, previous, move, size, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::cvtColor(previous, before.grey, cv::COLOR_BGR2GRAY);
    before.labels = ClusterLabels(previous);
    QuietConsole quiet;
    for (int setting : {kGraphPreseg, kPyramidPreseg}) {
      PresegEngine engine;
      engine.CreatePresegImages(size);
      engine.currentPreseg().algorithm = setting;
      engine.UpdatePresegmentation(frame, 0, 1);
      partitions.push_back(engine.Regions()->ids().clone());
      if (setting == kGraphPreseg) graphRegions = engine.Regions();
    }
    PresegEngine engine;
    engine.CreatePresegImages(size);
    engine.currentPreseg().algorithm = kPyramidPreseg;
    engine.currentPreseg().pyrSeg1 = kStartPyrSeg1 / 2;
    engine.currentPreseg().pyrSeg2 = kStartPyrSeg2 / 2;
    engine.UpdatePresegmentation(frame, 0, 1);
    finer = engine.Regions()->ids().clone();
  }

  static cv::Mat ClusterLabels(const cv::Mat& frame) {
    const cv::Vec3b palette[] = {{180, 130, 70}, {128, 64, 128}, {142, 0, 0},
                                 {35, 142, 107}, {60, 20, 220},  {152, 251, 152}};
    cv::Mat samples;
    frame.reshape(1, static_cast<int>(frame.total())).convertTo(samples, CV_32F);
    cv::Mat clusters, centres;
    cv::kmeans(samples, 6, clusters, {cv::TermCriteria::COUNT, 5, 0}, 1, cv::KMEANS_PP_CENTERS, centres);
    cv::Mat labels(frame.size(), CV_8U);
    for (int i = 0; i < static_cast<int>(frame.total()); ++i) labels.data[i] = static_cast<uchar>(clusters.at<int>(i));
    cv::medianBlur(labels, labels, 9);
    cv::Mat colours(frame.size(), CV_8UC3);
    for (int i = 0; i < static_cast<int>(frame.total()); ++i) colours.at<cv::Vec3b>(i) = palette[labels.data[i]];
    return colours;
  }

  // Ten discs of radius 10 across the frame, in the labels' colours where they fall.
  cv::Mat Strokes() const {
    cv::Mat painted = cv::Mat::zeros(frame.size(), CV_8UC3);
    for (int i = 0; i < 10; ++i) {
      const cv::Point at(frame.cols * (2 * i + 1) / 20, frame.rows * ((i * 7) % 10 + 0.5) / 10);
      cv::circle(painted, at, 10, cv::Scalar(before.labels.at<cv::Vec3b>(at)), cv::FILLED);
    }
    return painted;
  }
};

// Argument 3: 1 with the unsure cells refined, as the labeller completes; 0 without, the walk alone.
void BM_AssistCompletion(benchmark::State& state) {
  const AssistScene scene(state);
  LabelCarrier carrier;
  LabelAssist assist({scene.frame, scene.partitions, CarryFromNeighbours(scene.grey, {scene.before}, carrier),
                      state.range(3) == 1 ? scene.finer : cv::Mat()});
  const cv::Mat strokes = scene.Strokes();
  const cv::Mat painted = NonBlackPixels(strokes);
  for (auto _ : state) benchmark::DoNotOptimize(assist.Complete(strokes, painted).labels.data);
  state.counters["cells"] = assist.regionCount();
}

// What entering a frame costs the assist besides the presegmentation itself, in two parts: the flow both ways
// and the carried evidence; the cells and their graph.
void BM_AssistCarriedEvidence(benchmark::State& state) {
  const AssistScene scene(state);
  LabelCarrier carrier;
  for (auto _ : state) benchmark::DoNotOptimize(CarryFromNeighbours(scene.grey, {scene.before}, carrier).all.data);
}

// Argument 3 as for BM_AssistCompletion: the pieces of the finer regions and their graph, or not.
void BM_AssistGraph(benchmark::State& state) {
  const AssistScene scene(state);
  LabelCarrier carrier;
  const CarriedLabels carried = CarryFromNeighbours(scene.grey, {scene.before}, carrier);
  for (auto _ : state) {
    LabelAssist assist({scene.frame, scene.partitions, carried, state.range(3) == 1 ? scene.finer : cv::Mat()});
    benchmark::DoNotOptimize(assist.regionCount());
  }
}

// The yardstick: "p" on the same frame, the flow one way, the carried labels and their snap to the regions.
void BM_Yardstick_CarryProposal(benchmark::State& state) {
  const AssistScene scene(state);
  LabelCarrier carrier;
  for (auto _ : state) {
    const cv::Mat carried = CarryLabels(scene.before.labels, carrier.Flow(scene.grey, scene.before.grey));
    benchmark::DoNotOptimize(SnapToRegions(carried, *scene.graphRegions).data);
  }
}

#define ASSIST_SIZES ArgsProduct({{640}, {480}, {0, 1}})->ArgsProduct({{1920}, {1080}, {0, 1}})
#define ASSIST_REFINED ArgsProduct({{640}, {480}, {0, 1}, {0, 1}})->ArgsProduct({{1920}, {1080}, {0, 1}, {0, 1}})
BENCHMARK(BM_AssistCompletion)->ASSIST_REFINED->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AssistCarriedEvidence)->ASSIST_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AssistGraph)->ASSIST_REFINED->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Yardstick_CarryProposal)->ASSIST_SIZES->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace labeler::bench
