// The built labeller in real windows on a private Xvfb server, driven by real X input events.
#include <gtest/gtest.h>

#include <map>

#include "support/temp_dir.h"
#include "support/test_media.h"
#include "support/x_session.h"

namespace labeler {
namespace {

using testing::DisplayedProcess;
using testing::FindWindow;
using testing::RunOnDisplay;
using testing::TempDir;

class RealWindows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { x_ = new testing::XvfbServer(); }
  static void TearDownTestSuite() {
    delete x_;
    x_ = nullptr;
  }

  std::string MakeMovieProject(cv::Size size = {640, 480}) {
    std::filesystem::create_directory(dir_.File("labels"));
    std::string movie = dir_.File("clip.avi");
    testing::WriteIndexedMovie(movie, 100, size);
    std::string labels = dir_.Write("labels.txt", "= 1 road 128 64 128\n= 3 car 0 0 142\n");
    return dir_.Write("run.meta", testing::MetaText(movie, labels, dir_.File("labels")));
  }

  std::unique_ptr<DisplayedProcess> Start(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {LABELER_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return std::make_unique<DisplayedProcess>(*x_, argv, dir_.path().string());
  }

  std::map<std::string, int> Geometry(const std::string& window) {
    std::map<std::string, int> values;
    std::istringstream lines(RunOnDisplay(*x_, "xdotool getwindowgeometry --shell " + window));
    std::string line;
    while (std::getline(lines, line)) {
      auto equals = line.find('=');
      if (equals != std::string::npos) values[line.substr(0, equals)] = std::stoi(line.substr(equals + 1));
    }
    return values;
  }

  void Keys(const std::string& window, const std::string& keys) {
    RunOnDisplay(*x_, "xdotool windowfocus --sync " + window + " key --delay 60 " + keys);
  }

  static testing::XvfbServer* x_;
  TempDir dir_;
};

testing::XvfbServer* RealWindows::x_ = nullptr;

TEST_F(RealWindows, ThreeWindowsAppearWithTheirPictureSizes) {
  auto labeler = Start({MakeMovieProject()});
  ASSERT_TRUE(labeler->WaitForOutput("Frame #0\nFrame #0\n")) << labeler->output() << labeler->errors();
  std::string frame = FindWindow(*x_, "Click Me!");
  std::string preseg = FindWindow(*x_, "Rescaled PreSeg");
  std::string labels = FindWindow(*x_, "Labeled Map");
  ASSERT_FALSE(frame.empty() || preseg.empty() || labels.empty());
  EXPECT_EQ(Geometry(frame)["WIDTH"], 640);
  EXPECT_GE(Geometry(frame)["HEIGHT"], 480);
  EXPECT_EQ(Geometry(preseg)["WIDTH"], 400);
  EXPECT_EQ(Geometry(preseg)["HEIGHT"], 300);
  EXPECT_EQ(Geometry(labels)["WIDTH"], 640);
  EXPECT_EQ(Geometry(labels)["HEIGHT"], 480);
  Keys(frame, "Escape");
  EXPECT_EQ(labeler->WaitForExit(), 0);
}

TEST_F(RealWindows, KeysMoveTheFramesAndPickLabelsAndEscapeEnds) {
  auto labeler = Start({MakeMovieProject({160, 120})});
  ASSERT_TRUE(labeler->WaitForOutput("Frame #0\nFrame #0\n"));
  std::string frame = FindWindow(*x_, "Click Me!");
  Keys(frame, "space BackSpace plus minus BackSpace 3 9 KP_Add KP_Subtract");
  ASSERT_TRUE(labeler->WaitForOutput("LabelInfo changed to car.\nFrame #10\nFrame #0\n"));
  EXPECT_NE(labeler->output().find(
                "Frame #0\nFrame #0\nFrame #1\nFrame #0\nFrame #10\nFrame #0\nFrame #0\nLabelInfo changed to car.\n"),
            std::string::npos)
      << labeler->output();
  Keys(FindWindow(*x_, "Labeled Map"), "Escape");
  EXPECT_EQ(labeler->WaitForExit(), 0);
}

TEST_F(RealWindows, MissingArgumentShowsTheShutdownBoxAndExitsWith255) {
  auto labeler = Start({});
  std::string box = FindWindow(*x_, "SHUTDOWN ERROR");
  ASSERT_FALSE(box.empty());
  EXPECT_FALSE(labeler->WaitForExit(0.5).has_value()) << "ended before OK was pressed";
  Keys(box, "Return");
  EXPECT_EQ(labeler->WaitForExit(), 255);
}

TEST_F(RealWindows, FatalInputErrorsExitWithStatusOneAndTheirMessage) {
  std::string labels = dir_.Write("labels.txt", "road 1 2 3\n");
  std::string notAMovie = dir_.Write("broken.avi", "no video\n");
  std::string emptyList = dir_.Write("empty.txt", "\n");
  struct Case {
    std::string meta;
    std::string message;
    bool onStandardError;
  };
  std::vector<Case> cases = {
      {dir_.Write("a.meta", testing::MetaText(dir_.File("clip.mp4"), labels, "out")),
       "Was expecting a .txt or .avi (preferable) input file instead\nCrashing\n", false},
      {dir_.Write("b.meta", testing::MetaText(notAMovie, labels, "out")), "Failed to open FG avi - exiting.\n",
       false},
      {dir_.Write("c.meta", testing::MetaText(emptyList, labels, "out")),
       "List of stills has no entries - crashing!\n", false},
      {dir_.File("missing.meta"), "cannot open meta file " + dir_.File("missing.meta"), true},
      {dir_.Write("d.meta", "FILE_TIMELINE x.avi\n"), "FILE_LABEL_NAMES is missing", true},
  };
  for (const Case& c : cases) {
    auto labeler = Start({c.meta});
    EXPECT_EQ(labeler->WaitForExit(), 1) << c.message;
    std::string stream = c.onStandardError ? labeler->errors() : labeler->output();
    EXPECT_NE(stream.find(c.message), std::string::npos) << stream;
  }
}

}  // namespace
}  // namespace labeler
