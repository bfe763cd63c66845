// labeler-tool stats --report: the page and the pictures beside it, read as files. How a browser shows them is
// stats_report_browser_test.cpp's part.
#include <gtest/gtest.h>

#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <regex>
#include <string>
#include <vector>

#include "support/test_media.h"
#include "support/tool_run.h"

namespace labeler {
namespace {

using testing::ReadFile;
using testing::ReportProject;
using testing::RunTool;
using testing::ToolRun;

constexpr size_t npos = std::string::npos;

// The values of the src="..." attributes of `page`, in order.
std::vector<std::string> Sources(const std::string& page) {
  static const std::regex kSource(R"re(\ssrc="([^"]*)")re");
  std::vector<std::string> sources;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), kSource); it != std::sregex_iterator(); ++it) {
    sources.push_back((*it)[1]);
  }
  return sources;
}

// A pixel of a picture of a 10 x 4 frame, which the report enlarges 24 times.
cv::Vec3d Thumbnailed(const cv::Mat& picture, cv::Point pixel) {
  return picture.at<cv::Vec3b>(pixel * 24 + cv::Point(12, 12));
}

cv::Vec3d FramePixel(int frame, cv::Point pixel) { return testing::IndexedFrame(frame, {10, 4}).at<cv::Vec3b>(pixel); }

// The page opens with the clip's summary and then its chart, a column for each labelled frame; it names every
// label, escaped; its pictures are the least labelled frames, then the conflict file after the saved version,
// each drawn over its frame, all files in the report's folder; and it reaches out to nothing.
TEST(LabelerToolStatsReport, ThePageSummarisesChartsAndPicturesTheClipFromFilesBesideIt) {
  ReportProject project;
  const std::string report = project.Report();
  std::string errors;
  ToolRun run = RunTool("stats --meta " + project.meta + " --report " + report, &errors);
  ASSERT_EQ(run.status, 0) << errors;
  EXPECT_EQ(run.output, "Report written to " + report + "/index.html\n");
  const std::string page = ReadFile(report + "/index.html");

  const size_t summary = page.find("4 frames, 3 labelled (75.0%), 60.8% of their pixels labelled, 1 conflict file");
  ASSERT_NE(summary, npos) << page;
  EXPECT_LT(summary, page.find("<svg"));
  EXPECT_NE(page.find("<title>frame 3: road 40.0%, car 20.0%, a&lt;&amp;&gt;b 2.5%, unlabelled 37.5%</title>"), npos);
  EXPECT_EQ(page.find("<title>frame 1:"), npos);
  for (const char* cell : {"<td>road</td>", "<td>car</td>", "<td>a&lt;&amp;&gt;b</td>", "<td>unlabelled</td>"}) {
    EXPECT_NE(page.find(cell), npos) << cell;
  }
  EXPECT_EQ(page.find("a<&>b"), npos);
  EXPECT_EQ(page.find("http://"), npos);
  EXPECT_EQ(page.find("https://"), npos);

  const std::vector<std::string> sources = Sources(page);
  EXPECT_EQ(sources, (std::vector<std::string>{"clip-1/frame-000000.png", "clip-1/frame-000002.png", "clip-1/frame-000003.png",
                                               "clip-1/frame-000002.png", "clip-1/frame-000002.conflict-1.png"}));
  for (const std::string& source : sources) {
    EXPECT_EQ(cv::imread(report + "/" + source).size(), cv::Size(240, 96)) << source;
  }
  const cv::Mat saved = cv::imread(report + "/clip-1/frame-000002.png");
  const cv::Mat conflict = cv::imread(report + "/clip-1/frame-000002.conflict-1.png");
  ASSERT_FALSE(saved.empty());
  ASSERT_FALSE(conflict.empty());
  const cv::Vec3d road(128, 64, 128), car(142, 0, 0);
  EXPECT_LE(cv::norm(Thumbnailed(saved, {1, 1}) - (FramePixel(2, {1, 1}) + road) / 2, cv::NORM_INF), 1);
  EXPECT_LE(cv::norm(Thumbnailed(saved, {4, 0}) - (FramePixel(2, {4, 0}) + car) / 2, cv::NORM_INF), 1);
  EXPECT_EQ(Thumbnailed(saved, {8, 0}), FramePixel(2, {8, 0}));
  EXPECT_EQ(Thumbnailed(conflict, {4, 0}), FramePixel(2, {4, 0}));
}

// --shard is refused before anything is written; a frame that can't be read is named, and its label image is
// drawn alone, so the page still shows every picture.
TEST(LabelerToolStatsReport, AShardIsRefusedAndAFrameThatCannotBeReadIsNamed) {
  ReportProject project;
  const std::string report = project.Report();
  std::string errors;
  ToolRun sharded = RunTool("stats --meta " + project.meta + " --report " + report + " --shard 0/2", &errors);
  EXPECT_EQ(sharded.status, 1);
  EXPECT_EQ(errors, "labeler-tool: error: --report pictures whole clips; run it without --shard\n");
  EXPECT_FALSE(std::filesystem::exists(report));

  std::filesystem::remove(project.dir.File("3.png"));
  ToolRun run = RunTool("stats --meta " + project.meta + " --report " + report, &errors);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(errors.rfind("labeler-tool: error: " + report + "/clip-1/frame-000003.png: ", 0), 0u) << errors;
  EXPECT_NE(errors.find(project.dir.File("3.png")), npos) << errors;
  EXPECT_NE(errors.find("; the label image is drawn alone\n"), npos) << errors;
  const cv::Mat alone = cv::imread(report + "/clip-1/frame-000003.png");
  ASSERT_FALSE(alone.empty());
  EXPECT_EQ(Thumbnailed(alone, {8, 0}), cv::Vec3d(0, 0, 0));
  EXPECT_EQ(Sources(ReadFile(report + "/index.html")).size(), 5u);

  // A page whose index.html can't be written says so, and doesn't claim the report was written.
  const std::string blocked = project.dir.File("blocked");
  std::filesystem::create_directories(blocked + "/index.html");
  ToolRun refused = RunTool("stats --meta " + project.meta + " --report " + blocked, &errors);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.output.find("Report written"), npos) << refused.output;
  EXPECT_NE(errors.find(blocked + "/index.html: cannot be written"), npos) << errors;
}

// A clip longer than the chart's columns: each column stands for three frames and shows the least labelled of
// them, white when one has no label image; a meta file named "...meta" puts no picture outside the report.
TEST(LabelerToolStatsReport, ALongClipsColumnsStandForSeveralFrames) {
  testing::ExportProject project("= 1 road 128 64 128\ncar 0 0 142\n", 8001);
  cv::Mat labels(4, 10, CV_8UC3, cv::Scalar(128, 64, 128));
  labels.colRange(5, 10).setTo(cv::Scalar(0, 0, 0));
  cv::imwrite(LabelImagePath(project.dir.File("labels"), 5000), labels);
  for (int frame : {4998, 4999, 5001}) {
    cv::imwrite(LabelImagePath(project.dir.File("labels"), frame), cv::Mat(4, 10, CV_8UC3, cv::Scalar(128, 64, 128)));
  }
  for (int frame : {0, 5000}) {
    cv::imwrite(project.dir.File(std::to_string(frame) + ".png"), testing::IndexedFrame(frame, {10, 4}));
  }
  const std::string odd = project.dir.File("...meta");
  std::filesystem::copy_file(project.meta, odd);
  const std::string report = project.dir.File("report/inner");
  std::string errors;
  ASSERT_EQ(RunTool("stats --meta " + odd + " --report " + report, &errors).status, 0) << errors;
  const std::string page = ReadFile(report + "/index.html");
  EXPECT_NE(page.find(R"(viewBox="0 0 2667 100")"), npos);
  EXPECT_NE(page.find("<title>frames 4998 to 5000, the least labelled frame 5000: road 50.0%, unlabelled 50.0%</title>"),
            npos);
  EXPECT_EQ(Sources(page), std::vector<std::string>{"clip-1/frame-005000.png"});
  EXPECT_NE(page.find("One column per 3 frames"), npos);
  EXPECT_EQ(page.find("frames 5001 to 5003"), npos);  // frames 5002 and 5003 have none: a white column
  EXPECT_EQ(page.find("<title>", page.find("<title>") + 1), page.find("<title>frames 4998"));  // the only column
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(project.dir.File("report")), {}), 1);
}

}  // namespace
}  // namespace labeler
