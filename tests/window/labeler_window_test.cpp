// The built labeller in real windows on a private Xvfb server, driven by real X input events.
#include <gtest/gtest.h>

#include <map>

#include <cmath>
#include <filesystem>
#include <thread>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

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

  std::map<std::string, int> Geometry(const std::string& window) { return testing::WindowGeometry(*x_, window); }

  void Keys(const std::string& window, const std::string& keys) {
    RunOnDisplay(*x_, "xdotool windowfocus --sync " + window + " key --delay 60 " + keys);
  }

  // A still list of one 640 x 480 frame: grey, with a blue box at (100, 100, 200, 150). Labels: road (hot key
  // 1), car (hot key 2).
  std::string MakeStillProject() {
    cv::Mat frame(480, 640, CV_8UC3, cv::Scalar(90, 90, 90));
    cv::rectangle(frame, cv::Rect(100, 100, 200, 150), cv::Scalar(200, 40, 40), cv::FILLED);
    cv::imwrite(dir_.File("f0.png"), frame);
    cv::imwrite(dir_.File("f1.png"), frame);
    std::string list = dir_.Write("frames.txt", dir_.File("f0.png") + "\n" + dir_.File("f1.png") + "\n");
    std::string labels = dir_.Write("labels.txt", "= 1 road 128 64 128\n= 2 car 0 0 142\n");
    return dir_.Write("run.meta", testing::MetaText(list, labels, dir_.File("labels")));
  }

  // Real pointer input: a left drag through `points` (window pixels), a pause between events so that none is
  // merged with the next.
  void Drag(const std::string& window, const std::vector<cv::Point>& points) {
    std::string command = "xdotool";
    for (size_t i = 0; i < points.size(); ++i) {
      command += " mousemove --window " + window + " " + std::to_string(points[i].x) + " " +
                 std::to_string(points[i].y) + " sleep 0.15";
      if (i == 0) command += " mousedown 1 sleep 0.15";
    }
    command += " mouseup 1 sleep 0.2";
    RunOnDisplay(*x_, command);
  }
  void Wheel(const std::string& window, cv::Point at, int button, int notches) {
    RunOnDisplay(*x_, "xdotool mousemove --window " + window + " " + std::to_string(at.x) + " " +
                          std::to_string(at.y) + " sleep 0.1 click --repeat " + std::to_string(notches) +
                          " --delay 100 " + std::to_string(button) + " sleep 0.2");
  }

  // The label image of `frame` once it is on disk (or empty after a few seconds).
  cv::Mat StoredLabelImage(int frame) {
    return testing::WaitForImage(dir_.File("labels/frame-00000" + std::to_string(frame) + ".png"));
  }

  static cv::Mat Discs(const std::vector<cv::Point>& points, int radius, cv::Scalar colour, cv::Mat canvas) {
    for (cv::Point p : points) cv::circle(canvas, p, radius, colour, cv::FILLED, cv::LINE_8);
    return canvas;
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

// Two labellers on one label folder: the second says who else has it open, in a box on the screen too, and its
// save of a frame the first saved meanwhile goes beside the first's file, so that neither loses a stroke; a box
// says so.
TEST_F(RealWindows, TwoLabellersOnOneFolderLoseNothing) {
  const std::string meta = MakeStillProject();
  std::unique_ptr<DisplayedProcess> first = Start({meta});
  const std::string firstWindow = FindWindow(*x_, "Click Me!");
  ASSERT_FALSE(firstWindow.empty());
  std::unique_ptr<DisplayedProcess> second = Start({meta});
  std::string secondWindow;
  for (int tries = 0; tries < 200 && (secondWindow.empty() || secondWindow == firstWindow); ++tries) {
    const std::string ids = RunOnDisplay(*x_, "xdotool search --onlyvisible --name '^Click Me!$' 2>/dev/null");
    for (size_t at = 0, end; at < ids.size(); at = end + 1) {
      end = std::min(ids.find('\n', at), ids.size());
      if (ids.substr(at, end - at) != firstWindow) secondWindow = ids.substr(at, end - at);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_FALSE(secondWindow.empty());
  const std::string warning = "is also open in process " + std::to_string(first->pid());
  for (int tries = 0; tries < 100 && second->errors().find(warning) == std::string::npos; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_NE(second->errors().find(warning), std::string::npos) << second->errors();
  const std::string lockBox = FindWindow(*x_, "Label folder");
  ASSERT_FALSE(lockBox.empty());
  Keys(lockBox, "Return");
  // The two windows lie on top of each other: the one to paint in is raised first.
  RunOnDisplay(*x_, "xdotool windowraise " + firstWindow + " sleep 0.2");
  Drag(firstWindow, {{150, 150}, {150, 150}});
  Keys(firstWindow, "space");
  const std::string saved = dir_.File("labels/frame-000000.png");
  ASSERT_FALSE(testing::WaitForImage(saved).empty());
  RunOnDisplay(*x_, "xdotool windowraise " + secondWindow + " sleep 0.2");
  Drag(secondWindow, {{400, 400}, {400, 400}});
  Keys(secondWindow, "space");
  const cv::Mat beside = testing::WaitForImage(dir_.File("labels/frame-000000.conflict-1.png"));
  ASSERT_FALSE(beside.empty()) << second->errors();
  const std::string conflictBox = FindWindow(*x_, "Label folder");
  ASSERT_FALSE(conflictBox.empty());
  Keys(conflictBox, "Return");
  const cv::Mat kept = cv::imread(saved, cv::IMREAD_COLOR);
  const cv::Vec3b road(128, 64, 128), black(0, 0, 0);
  EXPECT_EQ(kept.at<cv::Vec3b>(150, 150), road);
  EXPECT_EQ(kept.at<cv::Vec3b>(400, 400), black);
  EXPECT_EQ(beside.at<cv::Vec3b>(400, 400), road);
  EXPECT_NE(second->errors().find("saved as " + dir_.File("labels/frame-000000.conflict-1.png")), std::string::npos);
  Keys(firstWindow, "Escape");
  Keys(secondWindow, "Escape");
  EXPECT_EQ(first->WaitForExit(), 0);
  EXPECT_EQ(second->WaitForExit(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("labels/.labeler.lock")));
}

TEST_F(RealWindows, MissingArgumentShowsTheShutdownBoxAndExitsWith255) {
  auto labeler = Start({});
  std::string box = FindWindow(*x_, "SHUTDOWN ERROR");
  ASSERT_FALSE(box.empty()) << "no box; the labeller said: " << labeler->output() << labeler->errors();
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

TEST_F(RealWindows, DragsOnEachWindowPaintExactlyTheirDiscs) {
  auto labeler = Start({MakeStillProject()});
  ASSERT_TRUE(labeler->WaitForOutput("Loading still images"));
  std::string frame = FindWindow(*x_, "Click Me!");
  std::string preseg = FindWindow(*x_, "Rescaled PreSeg");
  std::string labels = FindWindow(*x_, "Labeled Map");
  ASSERT_FALSE(frame.empty() || preseg.empty() || labels.empty());
  Keys(frame, "2");
  Drag(frame, {{50, 60}, {80, 70}, {120, 90}});
  Drag(labels, {{500, 400}, {520, 380}});
  Drag(preseg, {{300, 40}, {320, 50}});  // scale 0.625: frame (480, 64) and (512, 80)
  Keys(frame, "space");
  ASSERT_TRUE(labeler->WaitForOutput("LabelInfo changed to car.\n"));
  cv::Mat stored = StoredLabelImage(0);
  ASSERT_FALSE(stored.empty());
  cv::Mat expected = Discs({{50, 60}, {80, 70}, {120, 90}, {500, 400}, {520, 380}, {480, 64}, {512, 80}}, 10,
                           cv::Scalar(142, 0, 0), cv::Mat::zeros(480, 640, CV_8UC3));
  EXPECT_EQ(cv::norm(stored, expected, cv::NORM_INF), 0);
  Keys(frame, "Escape");
  EXPECT_EQ(labeler->WaitForExit(), 0);
}

// Typed ahead while the labeller computes every presegmentation: Space, a digit and a click. The click belongs to
// the next frame and the new label, although the event loop reads it before the labeller has handled the keys.
TEST_F(RealWindows, InputTypedAheadIsAppliedInTheOrderItHappened) {
  auto labeler = Start({MakeStillProject()});
  ASSERT_TRUE(labeler->WaitForOutput("Loading still images"));
  std::string frame = FindWindow(*x_, "Click Me!");
  RunOnDisplay(*x_, "xdotool windowfocus --sync " + frame + " key g sleep 0.2 key space 2 mousemove --window " +
                        frame + " 300 300 click 1 key c");
  ASSERT_TRUE(labeler->WaitForOutput("LabelInfo changed to car.\n"));
  cv::Mat stored = StoredLabelImage(1);
  ASSERT_FALSE(stored.empty());
  cv::Mat expected = Discs({{300, 300}}, 10, cv::Scalar(142, 0, 0), cv::Mat::zeros(480, 640, CV_8UC3));
  EXPECT_EQ(cv::norm(stored, expected, cv::NORM_INF), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("labels/frame-000000.png")));
  Keys(frame, "Escape");
  EXPECT_EQ(labeler->WaitForExit(), 0);
}

// A textured box moves by (4, 2) pixels a frame over a textured ground; frame 0 is labelled. "p" on frame 1
// carries its labels along the motion: the saved label image covers the box where it now is.
TEST_F(RealWindows, CarriedLabelsFollowAMovingObject) {
  std::filesystem::create_directory(dir_.File("labels"));
  const cv::Size size(320, 240);
  cv::RNG rng(8);
  cv::Mat ground(size, CV_8UC3), texture(60, 80, CV_8UC3);
  rng.fill(ground, cv::RNG::UNIFORM, 40, 110);
  rng.fill(texture, cv::RNG::UNIFORM, 120, 256);
  cv::GaussianBlur(ground, ground, {5, 5}, 0);
  cv::GaussianBlur(texture, texture, {3, 3}, 0);
  auto box = [](int t) { return cv::Rect(100 + 4 * t, 80 + 2 * t, 80, 60); };
  {
    cv::VideoWriter writer(dir_.File("moving.avi"), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10,
                           size);
    writer.set(cv::VIDEOWRITER_PROP_QUALITY, 95);
    for (int t = 0; t < 4; ++t) {
      cv::Mat frame = ground.clone();
      texture.copyTo(frame(box(t)));
      writer.write(frame);
    }
  }
  cv::Mat labels = cv::Mat::zeros(size, CV_8UC3);
  labels(box(0)).setTo(cv::Scalar(142, 0, 0));
  cv::imwrite(dir_.File("labels/frame-000000.png"), labels);
  std::string names = dir_.Write("labels.txt", "= 1 road 128 64 128\n= 3 car 0 0 142\n");
  auto labeler = Start({dir_.Write("run.meta", testing::MetaText(dir_.File("moving.avi"), names, dir_.File("labels")))});
  ASSERT_TRUE(labeler->WaitForOutput("Frame #0\nFrame #0\n"));
  std::string frame = FindWindow(*x_, "Click Me!");
  Keys(frame, "space p space");
  ASSERT_TRUE(labeler->WaitForOutput("Carried the labels of frame 0 to frame 1.\n")) << labeler->output();
  cv::Mat stored = StoredLabelImage(1);
  ASSERT_FALSE(stored.empty());
  cv::Mat carried, truth = cv::Mat::zeros(size, CV_8UC1);
  cv::inRange(stored, cv::Scalar(142, 0, 0), cv::Scalar(142, 0, 0), carried);
  truth(box(1)).setTo(255);
  const double iou = static_cast<double>(cv::countNonZero(carried & truth)) / cv::countNonZero(carried | truth);
  EXPECT_GT(iou, 0.9);
  Keys(frame, "Escape");
  EXPECT_EQ(labeler->WaitForExit(), 0);
}

TEST_F(RealWindows, UndoneStrokeIsNotSavedAndTheWheelSetsTheNextBrush) {
  auto labeler = Start({MakeStillProject()});
  ASSERT_TRUE(labeler->WaitForOutput("Loading still images"));
  std::string frame = FindWindow(*x_, "Click Me!");
  Drag(frame, {{200, 200}, {210, 200}});
  Keys(frame, "ctrl+z space");
  ASSERT_TRUE(labeler->WaitForOutput("Undo last stroke\n"));
  Wheel(frame, {400, 300}, 4, 3);  // forward: radius 13
  Drag(frame, {{400, 300}, {400, 300}});
  Keys(frame, "BackSpace");
  cv::Mat stored = StoredLabelImage(1);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("labels/frame-000000.png")));
  ASSERT_FALSE(stored.empty());
  cv::Mat expected = Discs({{400, 300}}, 13, cv::Scalar(128, 64, 128), cv::Mat::zeros(480, 640, CV_8UC3));
  EXPECT_EQ(cv::norm(stored, expected, cv::NORM_INF), 0);
  Keys(frame, "Escape");
  EXPECT_EQ(labeler->WaitForExit(), 0);
}

TEST_F(RealWindows, PyramidSettingChosenOnItsTrackbarFillsAWholeRegion) {
  auto labeler = Start({MakeStillProject()});
  ASSERT_TRUE(labeler->WaitForOutput("Loading still images"));
  std::string frame = FindWindow(*x_, "Click Me!");
  int rowHeight = (Geometry(frame)["HEIGHT"] - 480) / 3;
  Wheel(frame, {320, 480 + rowHeight / 2}, 4, 1);  // the setting trackbar, one notch: setting 1
  ASSERT_TRUE(labeler->WaitForOutput("Refreshing Preseg"));
  Drag(frame, {{200, 170}, {200, 170}});
  Keys(frame, "space");
  cv::Mat stored = StoredLabelImage(0);
  ASSERT_FALSE(stored.empty());
  cv::Mat expected = cv::Mat::zeros(480, 640, CV_8UC3);
  cv::rectangle(expected, cv::Rect(100, 100, 200, 150), cv::Scalar(128, 64, 128), cv::FILLED);
  EXPECT_EQ(cv::norm(stored, expected, cv::NORM_INF), 0);
  Keys(frame, "Escape");
  EXPECT_EQ(labeler->WaitForExit(), 0);
}

}  // namespace
}  // namespace labeler
