// The yardstick of a redraw, shared by the benchmarks that measure one: a frame of the benchmark's size
// (arguments 0 and 1) copied and resized into the 400-pixel rescaled window, as a whole redraw used to do.
#ifndef LABELER_BENCH_COPY_AND_RESIZE_H_
#define LABELER_BENCH_COPY_AND_RESIZE_H_

#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>

#include "bench/bench_support.h"

namespace labeler::bench {

inline void CopyAndResize(benchmark::State& state) {
  const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  cv::Mat frame = RealisticFrame(size), scratch, rescaled(size.height * 400 / size.width, 400, CV_8UC3);
  for (auto _ : state) {
    frame.copyTo(scratch);
    cv::resize(scratch, rescaled, rescaled.size(), 0, 0, cv::INTER_LINEAR);
    benchmark::DoNotOptimize(rescaled.data);
  }
}

}  // namespace labeler::bench

#endif  // LABELER_BENCH_COPY_AND_RESIZE_H_
