#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "common/files.h"
#include "preseg/preseg_engine.h"
#include "tools/command_support.h"
#include "tools/commands.h"

namespace labeler::tool {
namespace {

struct SegmentOptions {
  int setting = -1;
  int pyrSeg1 = 24;
  int pyrSeg2 = 30;
  std::vector<std::string> files;  // input, colour output, optional edge output
};

SegmentOptions ParseSegmentOptions(int argc, char** argv) {
  SegmentOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--setting") {
      options.setting = IntOption(argc, argv, i, 1, kLastPresegSetting, kSegmentUsage);
    } else if (arg == "--pyr1") {
      options.pyrSeg1 = IntOption(argc, argv, i, 0, 255, kSegmentUsage);
    } else if (arg == "--pyr2") {
      options.pyrSeg2 = IntOption(argc, argv, i, 0, 255, kSegmentUsage);
    } else if (arg.rfind("--", 0) == 0) {
      throw FatalError(ErrorLine("unknown option " + arg) + kSegmentUsage);
    } else {
      options.files.push_back(arg);
    }
  }
  if (options.setting < 0) throw FatalError(ErrorLine("--setting is required") + kSegmentUsage);
  if (options.files.size() < 2 || options.files.size() > 3) {
    throw FatalError(ErrorLine("expected INPUT, OUT_COLOUR.png and optionally OUT_EDGES.png") + kSegmentUsage);
  }
  return options;
}

void WritePng(const std::string& path, const cv::Mat& image) {
  bool written = false;
  try {
    written = cv::imwrite(path, image);
  } catch (const cv::Exception&) {
  }
  if (!written) throw FatalError(ErrorLine("cannot write " + path));
}

}  // namespace

int SegmentCommand(int argc, char** argv) {
  SegmentOptions options = ParseSegmentOptions(argc, argv);
  const std::string notAFile = NotARegularFile(options.files[0]);
  if (!notAFile.empty()) throw FatalError(ErrorLine("cannot read image " + options.files[0] + ": it " + notAFile));
  cv::Mat frame = cv::imread(options.files[0], cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
  if (frame.empty()) throw FatalError(ErrorLine("cannot read image " + options.files[0]));
  PresegEngine engine;
  engine.CreatePresegImages(frame.size());
  PresegParams& params = engine.currentPreseg();
  params.algorithm = options.setting;
  params.pyrSeg1 = options.pyrSeg1;
  params.pyrSeg2 = options.pyrSeg2;
  engine.UpdatePresegmentation(frame, 0, 1);  // as the trackbar does: forced, on frame 0
  WritePng(options.files[1], engine.presegColour());
  if (options.files.size() == 3) WritePng(options.files[2], engine.presegEdges());
  return 0;
}

}  // namespace labeler::tool
