// labeler-tool export of 1000 label images of 640 x 480, beside decoding and re-encoding them one by one with
// OpenCV on one core, in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "annotation/label_images.h"

namespace labeler::bench {
namespace {

constexpr int kImages = 1000;

// A folder of label images: a few labels painted as whole regions over black, different in every frame.
class LabelFolder {
 public:
  LabelFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "labeler-export-bench-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    std::filesystem::create_directory(dir_ / "labels");
    const cv::Scalar colours[] = {{180, 130, 70}, {128, 64, 128}, {142, 0, 0}, {35, 142, 107}, {60, 20, 220}};
    std::ofstream(dir_ / "labels.txt") << "sky 70 130 180\nroad 128 64 128\ncar 0 0 142\ntree 107 142 35\n"
                                          "person 220 20 60\n";
    std::ofstream(dir_ / "frames.txt") << "unused.png\n";
    std::ofstream(dir_ / "run.meta") << "FILE_TIMELINE " << (dir_ / "frames.txt").string() << "\nFILE_LABEL_NAMES "
                                     << (dir_ / "labels.txt").string() << "\nDIR_LABEL_IMGS "
                                     << (dir_ / "labels").string() << "\n";
    cv::RNG rng(9);
    for (int frame = 0; frame < kImages; ++frame) {
      cv::Mat image = cv::Mat::zeros(480, 640, CV_8UC3);
      image.rowRange(0, 180).setTo(colours[0]);
      std::vector<cv::Point> road = {{260, 180}, {380, 180}, {640, 480}, {0, 480}};
      cv::fillConvexPoly(image, road, colours[1]);
      for (int i = 0; i < 6; ++i) {
        cv::Point corner(rng.uniform(0, 560), rng.uniform(150, 430));
        cv::rectangle(image, cv::Rect(corner, cv::Size(rng.uniform(30, 120), rng.uniform(20, 60))),
                      colours[2 + i % 3], cv::FILLED);
      }
      cv::imwrite(LabelImagePath((dir_ / "labels").string(), frame), image);
    }
  }
  ~LabelFolder() { std::filesystem::remove_all(dir_); }
  std::string File(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

LabelFolder& Folder() {
  static LabelFolder folder;
  return folder;
}

void BM_Export(benchmark::State& state) {
  const std::string command = std::string(LABELER_TOOL) + " export --meta " + Folder().File("run.meta") +
                              " --out " + Folder().File("out") + " > /dev/null 2>&1";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("labeler-tool export failed");
  }
  state.SetItemsProcessed(state.iterations() * kImages);
}
BENCHMARK(BM_Export)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Yardstick_DecodeAndReencodeOnOneCore(benchmark::State& state) {
  std::filesystem::create_directories(Folder().File("copy"));
  for (auto _ : state) {
    for (int frame = 0; frame < kImages; ++frame) {
      cv::Mat image = cv::imread(LabelImagePath(Folder().File("labels"), frame), cv::IMREAD_UNCHANGED);
      cv::imwrite(LabelImagePath(Folder().File("copy"), frame), image);
    }
  }
  state.SetItemsProcessed(state.iterations() * kImages);
}
BENCHMARK(BM_Yardstick_DecodeAndReencodeOnOneCore)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace labeler::bench
