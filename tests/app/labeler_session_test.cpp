// Whole sessions of the labeller through the test double: start-up, keys, shutdown.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "app/labeler.h"
#include "common/fatal_error.h"
#include "support/fake_window_system.h"
#include "support/painting_session.h"
#include "support/temp_dir.h"
#include "support/test_media.h"

namespace labeler {
namespace {

using testing::FakeWindowSystem;
using testing::TempDir;

class LabelerSession : public ::testing::Test {
 protected:
  // A 100-frame indexed movie of `size`, a label set and a meta file.
  std::string MakeMovieProject(cv::Size size = {160, 120}, int jumpBy = 10, int maxWindowDim = 400) {
    std::filesystem::create_directory(dir_.File("labels"));
    std::string movie = dir_.File("clip.avi");
    testing::WriteIndexedMovie(movie, 100, size);
    std::string labels = dir_.Write("labels.txt", "= 1 road 128 64 128\n= 5 car 0 0 142\n= 5 bus 0 60 100\n");
    return dir_.Write("run.meta", testing::MetaText(movie, labels, dir_.File("labels"), jumpBy, maxWindowDim));
  }

  // Runs the labeller on `meta` through the scripted windows; returns its status and what it printed.
  int Run(const std::string& meta, std::string* printed = nullptr) {
    std::string argument = meta;
    char program[] = "labeler";
    char* argv[] = {program, argument.data(), nullptr};
    Labeler app(windows_);
    ::testing::internal::CaptureStdout();
    int status = 0;
    try {
      status = app.Run(meta.empty() ? 1 : 2, argv);
    } catch (...) {
      ::testing::internal::GetCapturedStdout();
      throw;
    }
    std::fflush(stdout);
    std::string output = ::testing::internal::GetCapturedStdout();
    if (printed != nullptr) *printed = output;
    return status;
  }

  TempDir dir_;
  FakeWindowSystem windows_;
};

TEST_F(LabelerSession, MissingArgumentShowsTheBoxAfterCreatingTheWindowsAndReturnsMinusOne) {
  EXPECT_EQ(Run(""), -1);
  EXPECT_EQ(windows_.created, (std::vector<std::string>{"Click Me!", "Rescaled PreSeg", "Labeled Map"}));
  ASSERT_EQ(windows_.messageBoxes.size(), 1u);
  EXPECT_EQ(windows_.messageBoxes[0].first, "Needed 1 input argument: a .meta file. Crashing.");
  EXPECT_EQ(windows_.messageBoxes[0].second, "SHUTDOWN ERROR");
  EXPECT_EQ(windows_.waits, 0);
}

TEST_F(LabelerSession, StartsUpShowsTheThreeWindowsAndShutsDownOnEscape) {
  std::string meta = MakeMovieProject({640, 480});
  std::string printed;
  EXPECT_EQ(Run(meta, &printed), 0);
  EXPECT_EQ(windows_.lastShown["Click Me!"].size(), cv::Size(640, 480));
  EXPECT_EQ(windows_.lastShown["Rescaled PreSeg"].size(), cv::Size(400, 300));
  EXPECT_EQ(windows_.lastShown["Labeled Map"].size(), cv::Size(640, 480));
  EXPECT_EQ(testing::ReadFrameIndex(windows_.lastShown["Click Me!"]), 0);
  EXPECT_EQ(windows_.destroyed, (std::vector<std::string>{"Click Me!", "Rescaled PreSeg", "Labeled Map"}));
  EXPECT_EQ(printed, "Loading movie: " + dir_.File("clip.avi") + "\nOpened " + dir_.File("clip.avi") +
                         " correctly.\nFrame #0\nFrame #0\n");
}

TEST_F(LabelerSession, SmallFramesAreEnlargedInTheRescaledWindow) {
  Run(MakeMovieProject({160, 120}, 10, 400));
  EXPECT_EQ(windows_.lastShown["Rescaled PreSeg"].size(), cv::Size(400, 300));
}

TEST_F(LabelerSession, FrameKeysMoveThroughTheTimelineClampedAtBothEnds) {
  std::string meta = MakeMovieProject();
  for (int key : std::initializer_list<int>{' ', ' ', '+', '-', 8, 8, 8, 8, 8, 'c'}) windows_.Key(key);
  for (int i = 0; i < 10; ++i) windows_.Key('+');
  windows_.Key(' ');
  std::string printed;
  Run(meta, &printed);
  std::string expected = "Frame #0\nFrame #0\nFrame #1\nFrame #2\nFrame #12\nFrame #2\nFrame #1\nFrame #0\n"
                         "Frame #0\nFrame #0\nFrame #0\nFrame #0\n";
  for (int frame = 10; frame <= 90; frame += 10) expected += "Frame #" + std::to_string(frame) + "\n";
  expected += "Frame #99\nFrame #99\n";
  EXPECT_NE(printed.find(expected), std::string::npos) << printed;
  EXPECT_EQ(testing::ReadFrameIndex(windows_.lastShown["Click Me!"]), 99);
}

TEST_F(LabelerSession, DigitKeysPickTheFirstLabelWithThatHotKey) {
  std::string meta = MakeMovieProject();
  for (int key : {'5', '7', '1', 'G', 'C'}) windows_.Key(key);
  std::string printed;
  Run(meta, &printed);
  EXPECT_NE(printed.find("Frame #0\nFrame #0\nLabelInfo changed to car.\nLabelInfo changed to road.\n"),
            std::string::npos)
      << printed;
  EXPECT_EQ(printed.find("bus"), std::string::npos);
}

TEST_F(LabelerSession, CurrentLabelFollowsTheDigitKeys) {
  std::string meta = MakeMovieProject();
  std::string argument = meta;
  char program[] = "labeler";
  char* argv[] = {program, argument.data(), nullptr};
  Labeler app(windows_);
  windows_.Do([&] { EXPECT_EQ(app.currentLabel(), 0); });
  windows_.Key('5');
  windows_.Do([&] { EXPECT_EQ(app.currentLabel(), 1); });
  windows_.Key('9');
  windows_.Do([&] { EXPECT_EQ(app.currentLabel(), 1); });
  ::testing::internal::CaptureStdout();
  app.Run(2, argv);
  ::testing::internal::GetCapturedStdout();
}

TEST_F(LabelerSession, UnusableInputThrowsBeforeTheKeyLoop) {
  std::string labels = dir_.Write("labels.txt", "road 1 2 3\n");
  std::string meta = dir_.Write("bad.meta", testing::MetaText(dir_.File("frames.png"), labels, dir_.File("out")));
  EXPECT_THROW(Run(meta), FatalError);
  EXPECT_EQ(windows_.waits, 0);
}

// The status line follows the frame, the label, the brush, the setting, the overlay and the unsaved strokes at
// once, and the frame and the label map share one view.
TEST_F(LabelerSession, StatusLineFollowsEveryChange) {
  std::string meta = MakeMovieProject();
  std::vector<std::string> lines;
  auto look = [this, &lines] { lines.push_back(windows_.StatusText("Click Me!")); };
  windows_.Do(look);
  windows_.Key('5');
  windows_.Mouse("Click Me!", ui::kWheelForward, 5, 5);
  windows_.Key('s');
  windows_.Do(look);
  windows_.MoveTrackbar("PyrSeg1", 40);
  windows_.Mouse("Click Me!", ui::kLeftPress, 20, 20, ui::kFlagLeft);
  windows_.Mouse("Click Me!", ui::kLeftRelease, 20, 20);
  windows_.Do(look);
  windows_.Key('o');
  windows_.Key(' ');
  windows_.Key('s');
  windows_.Key('s');
  windows_.Do(look);
  windows_.Key('s');
  windows_.Key('s');
  windows_.Key('s');
  windows_.Do(look);
  ::testing::internal::CaptureStderr();
  Run(meta);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(windows_.sharedView, (std::vector<std::string>{"Click Me!", "Labeled Map"}));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "frame 0 / 100 | [128,64,128] road | brush 10 | no presegmentation | nothing unsaved",
                       "frame 0 / 100 | [142,0,0] car | brush 11 | pyramid 24/30 | nothing unsaved",
                       "frame 0 / 100 | [142,0,0] car | brush 11 | pyramid 40/30 | 1 unsaved stroke",
                       "frame 1 / 100 | [142,0,0] car | brush 11 | mean shift 2 | labels over frame 40 % | "
                       "nothing unsaved",
                       "frame 1 / 100 | [142,0,0] car | brush 11 | no presegmentation | labels over frame 40 % | "
                       "nothing unsaved"}));
}

// "n" saves and moves forward to the first frame without a stored label image; at the end it says so and stays.
TEST_F(LabelerSession, NextFrameWithoutLabelsSkipsLabelledFrames) {
  std::string meta = MakeMovieProject();
  cv::imwrite(dir_.File("labels/frame-000001.png"), cv::Mat::zeros(120, 160, CV_8UC3));
  cv::imwrite(dir_.File("labels/frame-000002.png"), cv::Mat::zeros(120, 160, CV_8UC3));
  windows_.Mouse("Click Me!", ui::kLeftPress, 20, 20, ui::kFlagLeft);
  windows_.Mouse("Click Me!", ui::kLeftRelease, 20, 20);
  windows_.Key('n');
  windows_.Do([this] { EXPECT_EQ(testing::ReadFrameIndex(windows_.lastShown["Click Me!"]), 3); });
  windows_.Key('+');
  for (int frame = 14; frame < 100; ++frame) {
    cv::imwrite(dir_.File("labels/frame-0000" + std::to_string(frame) + ".png"), cv::Mat::zeros(120, 160, CV_8UC3));
  }
  windows_.Key('n');
  windows_.Key('n');
  std::string printed;
  Run(meta, &printed);
  EXPECT_TRUE(std::filesystem::exists(dir_.File("labels/frame-000000.png")));
  EXPECT_NE(printed.find("Frame #3\nFrame #13\nEvery frame after frame 13 has a label image.\n"
                         "Every frame after frame 13 has a label image.\n"),
            std::string::npos)
      << printed;
}

}  // namespace
}  // namespace labeler

namespace labeler {
namespace {

// Presegmenting a frame above 1280 x 720 takes long enough to be announced on the status line at once, with
// how far "g" has got; frames of that size or less never are.
TEST(LongWork, PresegmentingALargeFrameIsAnnouncedAtOnceWithHowFarGHasGot) {
  for (const cv::Size size : {cv::Size(1280, 720), cv::Size(1300, 740)}) {
    testing::PaintingSession s(2, size, 400);
    s.windows.MoveTrackbar("N,P,Q,O,U,F", 1);
    s.windows.Key('g');
    s.windows.Key('c');
    s.Run();
    const std::vector<std::string> expected =
        size.width == 1280 ? std::vector<std::string>{}
                           : std::vector<std::string>{"presegmenting frame 0 with setting 1",
                                                      "presegmenting frame 0 with setting 2 (2 of 5)",
                                                      "presegmenting frame 0 with setting 3 (3 of 5)",
                                                      "presegmenting frame 0 with setting 4 (4 of 5)",
                                                      "presegmenting frame 0 with setting 5 (5 of 5)"};
    ASSERT_EQ(s.windows.shownAtOnce.size(), expected.size()) << size;
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_NE(s.windows.shownAtOnce[i].find(expected[i]), std::string::npos) << s.windows.shownAtOnce[i];
    }
    EXPECT_EQ(s.windows.StatusText("Click Me!").find("presegmenting"), std::string::npos);
  }
}

}  // namespace
}  // namespace labeler
