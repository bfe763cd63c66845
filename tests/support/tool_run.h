// Running labeler-tool as a program from a test, and small labelling projects for export and stats to read.
#ifndef LABELER_TESTS_SUPPORT_TOOL_RUN_H_
#define LABELER_TESTS_SUPPORT_TOOL_RUN_H_

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <opencv2/imgcodecs.hpp>
#include <string>

#include "annotation/label_images.h"
#include "support/temp_dir.h"
#include "support/test_media.h"

namespace labeler::testing {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct ToolRun {
  int status;
  std::string output;
};

// Runs `command` through the shell; its standard error is kept apart when `errors` is given, else mixed into
// the output.
inline ToolRun RunCommand(const std::string& command, std::string* errors = nullptr) {
  TempDir scratch;
  const std::string errorFile = scratch.File("stderr");
  const std::string redirected = command + (errors != nullptr ? " 2>" + errorFile : std::string(" 2>&1"));
  FILE* pipe = popen(redirected.c_str(), "r");
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  int raw = pclose(pipe);
  if (errors != nullptr) *errors = ReadFile(errorFile);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, output};
}

// Runs labeler-tool with `arguments`, as RunCommand does.
inline ToolRun RunTool(const std::string& arguments, std::string* errors = nullptr) {
  return RunCommand(std::string(LABELER_TOOL) + " " + arguments, errors);
}

// A project whose label images are written by the test: labels road (index 0), car (1), and a still list of
// `frames` names (the stills themselves are not needed by export and stats).
class ExportProject {
 public:
  explicit ExportProject(const std::string& labelNames = "= 1 road 128 64 128\ncar 0 0 142\n", int frames = 4) {
    std::filesystem::create_directory(dir.File("labels"));
    std::string list;
    for (int i = 0; i < frames; ++i) {
      list += dir.File(std::to_string(i) + ".png");
      list += '\n';
    }
    meta = dir.Write("p.meta", "FILE_TIMELINE " + dir.Write("frames.txt", list) + "\nFILE_LABEL_NAMES " +
                                   dir.Write("labels.txt", labelNames) + "\nDIR_LABEL_IMGS " +
                                   dir.File("labels") + "\nFILE_TIMELINE_JUMPBY 1\nMAX_WINDOW_DIM 100\n");
  }
  // A 10 x 4 label image: columns 0-3 road, 4-5 car, the rest black.
  void WriteLabelImage(int frame, cv::Vec3b extra = cv::Vec3b(0, 0, 0), cv::Point at = {9, 3}) {
    cv::Mat image(4, 10, CV_8UC3, cv::Scalar(0, 0, 0));
    image.colRange(0, 4).setTo(cv::Scalar(128, 64, 128));
    image.colRange(4, 6).setTo(cv::Scalar(142, 0, 0));
    image.at<cv::Vec3b>(at) = extra;
    cv::imwrite(LabelImagePath(dir.File("labels"), frame), image);
  }
  cv::Mat Exported(int frame) const {
    return cv::imread(LabelImagePath(dir.File("out"), frame), cv::IMREAD_UNCHANGED);
  }
  TempDir dir;
  std::string meta;
};

// A project for stats --report: ExportProject's four frames as stills (IndexedFrame, 10 x 4) and a third label
// whose name, "a<&>b", must be escaped on a page. Frames 0, 2 and 3 have label images (frame 3 with one pixel of
// a<&>b, at the lower right), and frame 2 a conflict file: its label image with the car columns left black.
class ReportProject : public ExportProject {
 public:
  ReportProject() : ExportProject("= 1 road 128 64 128\ncar 0 0 142\na<&>b 0 255 0\n") {
    for (int i = 0; i < 4; ++i) cv::imwrite(dir.File(std::to_string(i) + ".png"), IndexedFrame(i, {10, 4}));
    WriteLabelImage(0);
    WriteLabelImage(2);
    WriteLabelImage(3, cv::Vec3b(0, 255, 0));
    cv::Mat conflict = cv::imread(LabelImagePath(dir.File("labels"), 2));
    conflict.colRange(4, 6).setTo(cv::Scalar(0, 0, 0));
    cv::imwrite(dir.File("labels/frame-000002.conflict-1.png"), conflict);
  }
  // The folder the tests write the report into.
  std::string Report() const { return dir.File("report"); }
};

}  // namespace labeler::testing

#endif  // LABELER_TESTS_SUPPORT_TOOL_RUN_H_
