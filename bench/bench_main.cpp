// The benchmarks run with OpenCV configured as in the labeller.
#include <benchmark/benchmark.h>

#include "app/opencv_setup.h"

int main(int argc, char** argv) {
  labeler::ConfigureOpenCv();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
