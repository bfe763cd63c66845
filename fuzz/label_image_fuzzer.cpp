// The label-image loader on arbitrary bytes stored as the label image of frame 0: whatever the file holds,
// the committed image keeps the frame's size and format. The file is named .png as every label image is, but
// decoded by the bytes it starts with, so the seeds (a tiny picture in each readable format) lead the fuzzer
// into every decoder a label image may reach. The same bytes are the frame's record of painted pixels, which is
// read whatever the label image turned out to be.
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>

#include "annotation/label_images.h"
#include "annotation/painted_record.h"
#include "fuzz/fuzz_support.h"

namespace {

struct Project {
  Project() {
    dir = std::filesystem::temp_directory_path() / ("labeler-fuzz-project-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "labels" / ".painted");
    cv::imwrite((dir / "frame.png").string(), cv::Mat(24, 32, CV_8UC3, cv::Scalar(1, 2, 3)));
    std::ofstream(dir / "frames.txt") << (dir / "frame.png").string() << "\n";
    timeline = std::make_unique<labeler::Timeline>((dir / "frames.txt").string());
    timeline->ReloadMovie();
    images = std::make_unique<labeler::LabelImages>(*timeline, preseg, strokes, redraws, (dir / "labels").string());
    images->Create(cv::Size(32, 24));
  }
  std::filesystem::path dir;
  std::unique_ptr<labeler::Timeline> timeline;
  labeler::PresegEngine preseg;
  labeler::StrokeStore strokes;
  labeler::RedrawRequests redraws;
  std::unique_ptr<labeler::LabelImages> images;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Project project;
  const std::string labels = (project.dir / "labels").string();
  for (const std::string& path : {labeler::LabelImagePath(labels, 0), labeler::PaintedRecordPath(labels, 0)}) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  project.images->LoadCurrentFrame();
  const cv::Mat& committed = project.images->committed();
  if (committed.size() != cv::Size(32, 24) || committed.type() != CV_8UC3) __builtin_trap();
  const cv::Mat& painted = project.images->file().storedPainted();
  if (painted.size() != cv::Size(32, 24) || painted.type() != CV_8UC1) __builtin_trap();
  return 0;
}
