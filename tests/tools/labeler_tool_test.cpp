// labeler-tool, run as a program.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "support/temp_dir.h"

namespace labeler {
namespace {

using testing::TempDir;

struct ToolRun {
  int status;
  std::string output;
};

ToolRun RunTool(const std::string& arguments) {
  std::string command = std::string(LABELER_TOOL) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  int raw = pclose(pipe);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, output};
}

TEST(LabelerToolSegment, WritesThePyramidPictureAndEdges) {
  TempDir dir;
  cv::Mat image(50, 70, CV_8UC3, cv::Scalar(30, 30, 30));
  cv::rectangle(image, cv::Rect(10, 10, 30, 20), cv::Scalar(10, 200, 60), cv::FILLED);
  cv::imwrite(dir.File("in.png"), image);
  ToolRun run = RunTool("segment --setting 1 " + dir.File("in.png") + " " + dir.File("c.png") + " " +
                        dir.File("e.png"));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "Refreshing Preseg \n ");
  cv::Mat colour = cv::imread(dir.File("c.png"), cv::IMREAD_UNCHANGED);
  cv::Mat edges = cv::imread(dir.File("e.png"), cv::IMREAD_UNCHANGED);
  EXPECT_EQ(colour.size(), image.size());
  EXPECT_EQ(colour.type(), CV_8UC3);
  EXPECT_EQ(cv::norm(colour, image, cv::NORM_INF), 0);  // flat, distant colours come out unchanged
  EXPECT_EQ(edges.type(), CV_8UC1);
  EXPECT_GT(cv::countNonZero(edges), 0);
}

TEST(LabelerToolSegment, GraphSettingPrintsItsLines) {
  TempDir dir;
  cv::imwrite(dir.File("in.png"), cv::Mat(20, 30, CV_8UC3, cv::Scalar(1, 2, 3)));
  ToolRun run = RunTool("segment --setting 5 " + dir.File("in.png") + " " + dir.File("c.png"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "\t\t Caching segmentation #4\nprocessing\ngot 1 components\n");
}

TEST(LabelerToolSegment, BadArgumentsAndUnreadableInputEndWithStatusOne) {
  TempDir dir;
  cv::imwrite(dir.File("in.png"), cv::Mat(20, 30, CV_8UC3, cv::Scalar(1, 2, 3)));
  for (const char* arguments :
       {"segment", "segment --setting 0 in.png out.png", "segment --setting 6 in.png out.png",
        "segment --setting 1 --pyr1 256 in.png out.png", "segment --setting x in.png out.png",
        "segment --setting 1 in.png", "segment --bogus 1 in.png out.png", "frobnicate"}) {
    ToolRun run = RunTool(std::string(arguments));
    EXPECT_EQ(run.status, 1) << arguments;
    EXPECT_NE(run.output.find("usage: labeler-tool segment"), std::string::npos) << arguments;
  }
  ToolRun missing = RunTool("segment --setting 1 " + dir.File("nope.png") + " " + dir.File("c.png"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("cannot read image " + dir.File("nope.png")), std::string::npos);
  ToolRun unwritable = RunTool("segment --setting 1 " + dir.File("in.png") + " " + dir.File("no/such/c.png"));
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.output.find("cannot write"), std::string::npos);
}

}  // namespace
}  // namespace labeler
