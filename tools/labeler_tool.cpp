// labeler-tool: command-line companions of the labeller.
//
//   labeler-tool segment --setting N [--pyr1 A] [--pyr2 B] INPUT OUT_COLOUR.png [OUT_EDGES.png]
//
// "segment" runs the presegmentation of setting N (1 to 5) on one image exactly as the labeller does when the
// setting is chosen on its trackbar, prints what the labeller prints, and writes the region picture and the
// boundary image.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <opencv2/imgcodecs.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/opencv_setup.h"
#include "common/fatal_error.h"
#include "preseg/preseg_engine.h"

namespace labeler {
namespace {

constexpr const char* kUsage =
    "usage: labeler-tool segment --setting N [--pyr1 A] [--pyr2 B] INPUT OUT_COLOUR.png [OUT_EDGES.png]\n"
    "  N: 1 pyramid, 2 to 4 mean shift, 5 graph; A and B: pyramid trackbar positions 0 to 255 (24 and 30)\n";

struct SegmentOptions {
  int setting = -1;
  int pyrSeg1 = 24;
  int pyrSeg2 = 30;
  std::vector<std::string> files;  // input, colour output, optional edge output
};

std::optional<int> ParseInt(const char* text, int low, int high) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return std::nullopt;
  return static_cast<int>(value);
}

// Reads the options of "segment"; throws FatalError naming what is wrong.
SegmentOptions ParseSegmentOptions(int argc, char** argv) {
  SegmentOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](int low, int high) {
      if (i + 1 >= argc) throw FatalError(ErrorLine(arg + " needs a value") + kUsage);
      std::optional<int> parsed = ParseInt(argv[++i], low, high);
      if (!parsed) {
        throw FatalError(ErrorLine(arg + " takes a whole number from " + std::to_string(low) + " to " +
                                   std::to_string(high) + ", not '" + argv[i] + "'") + kUsage);
      }
      return *parsed;
    };
    if (arg == "--setting") {
      options.setting = value(1, kLastPresegSetting);
    } else if (arg == "--pyr1") {
      options.pyrSeg1 = value(0, 255);
    } else if (arg == "--pyr2") {
      options.pyrSeg2 = value(0, 255);
    } else if (arg.rfind("--", 0) == 0) {
      throw FatalError(ErrorLine("unknown option " + arg) + kUsage);
    } else {
      options.files.push_back(arg);
    }
  }
  if (options.setting < 0) throw FatalError(ErrorLine("--setting is required") + kUsage);
  if (options.files.size() < 2 || options.files.size() > 3) {
    throw FatalError(ErrorLine("expected INPUT, OUT_COLOUR.png and optionally OUT_EDGES.png") + kUsage);
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

int Segment(int argc, char** argv) {
  SegmentOptions options = ParseSegmentOptions(argc, argv);
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

}  // namespace
}  // namespace labeler

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  labeler::ConfigureOpenCv();
  try {
    if (argc >= 2 && std::strcmp(argv[1], "segment") == 0) return labeler::Segment(argc, argv);
    std::fputs(labeler::kUsage, stderr);
    return 1;
  } catch (const labeler::FatalError& error) {
    std::fflush(stdout);
    std::fputs(error.what(), error.stream() == labeler::FatalError::Stream::kStandardOutput ? stdout : stderr);
    return 1;
  }
}
