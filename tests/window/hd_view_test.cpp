// The view on real windows under Xvfb: HD footage on an HD screen, zoom and pan, the setting keys and trackbar
// clicks, the label overlay and the status line. Pointer positions must map to exactly the frame pixel under them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "support/temp_dir.h"
#include "support/test_media.h"
#include "support/x_session.h"

namespace labeler {
namespace {

using testing::DisplayedProcess;
using testing::FindWindow;
using testing::RunOnDisplay;
using testing::TempDir;

const cv::Scalar kRoad(128, 64, 128);

class ViewOnScreen : public ::testing::Test {
 protected:
  void StartOn(const std::string& screen, const std::string& timeline) {
    x_ = std::make_unique<testing::XvfbServer>(screen);
    std::filesystem::create_directory(dir_.File("labels"));
    const std::string labels = dir_.Write("labels.txt", "= 1 road 128 64 128\n= 2 car 0 0 142\n");
    const std::string meta = dir_.Write("run.meta", testing::MetaText(timeline, labels, dir_.File("labels")));
    labeler_ = std::make_unique<DisplayedProcess>(*x_, std::vector<std::string>{LABELER_BINARY, meta},
                                                  dir_.path().string());
    frame_ = FindWindow(*x_, "Click Me!");
    ASSERT_FALSE(frame_.empty()) << "no window; the labeller said: " << labeler_->output() << labeler_->errors();
  }
  // A still list of two 640 x 480 frames: grey with a blue box at (100, 100, 200, 150).
  std::string StillList() {
    cv::Mat frame(480, 640, CV_8UC3, cv::Scalar(90, 90, 90));
    cv::rectangle(frame, cv::Rect(100, 100, 200, 150), cv::Scalar(200, 40, 40), cv::FILLED);
    cv::imwrite(dir_.File("f0.png"), frame);
    cv::imwrite(dir_.File("f1.png"), frame);
    return dir_.Write("frames.txt", dir_.File("f0.png") + "\n" + dir_.File("f1.png") + "\n");
  }

  std::map<std::string, int> Geometry(const std::string& window) { return testing::WindowGeometry(*x_, window); }
  void Send(const std::string& commands) {
    RunOnDisplay(*x_, "xdotool windowfocus --sync " + frame_ + " " + commands + " sleep 0.3");
  }
  std::string ClickAt(cv::Point at) {
    return "mousemove --window " + frame_ + " " + std::to_string(at.x) + " " + std::to_string(at.y) +
           " sleep 0.15 click 1 sleep 0.15 ";
  }
  cv::Mat StoredLabelImage(int frame) {
    return testing::WaitForImage(dir_.File("labels/frame-00000" + std::to_string(frame) + ".png"));
  }
  // The window as the screen shows it.
  cv::Mat Screenshot(const std::string& window) {
    const std::string file = dir_.File("shot.png");
    RunOnDisplay(*x_, "import -window " + window + " " + file);
    return cv::imread(file, cv::IMREAD_COLOR);
  }
  static cv::Mat Discs(const std::vector<cv::Point>& centres, cv::Size size) {
    cv::Mat expected = cv::Mat::zeros(size, CV_8UC3);
    for (cv::Point centre : centres) cv::circle(expected, centre, 10, kRoad, cv::FILLED, cv::LINE_8);
    return expected;
  }
  void Quit() {
    Send("key c Escape");
    EXPECT_EQ(labeler_->WaitForExit(), 0) << labeler_->errors();
  }

  TempDir dir_;
  std::unique_ptr<testing::XvfbServer> x_;
  std::unique_ptr<DisplayedProcess> labeler_;
  std::string frame_;
};

TEST_F(ViewOnScreen, HdFootageFitsAnHdScreenAndClicksPaintThePixelUnderThePointer) {
  const std::string clip = dir_.File("hd.avi");
  testing::WriteIndexedMovie(clip, 3, {1920, 1080});
  StartOn("1920x1080", clip);
  ASSERT_TRUE(labeler_->WaitForOutput("Frame #0\nFrame #0\n"));
  for (const char* title : {"Click Me!", "Rescaled PreSeg", "Labeled Map"}) {
    std::map<std::string, int> g = Geometry(FindWindow(*x_, title));
    EXPECT_GE(g["X"], 0) << title;
    EXPECT_GE(g["Y"], 0) << title;
    EXPECT_LE(g["X"] + g["WIDTH"], 1920) << title;
    EXPECT_LE(g["Y"] + g["HEIGHT"], 1080) << title;
  }
  const int shownWidth = Geometry(frame_)["WIDTH"];
  const int shownHeight = static_cast<int>(std::lround(1080.0 * shownWidth / 1920));
  ASSERT_LT(shownWidth, 1920);
  // The centre of the picture and a pixel near its corner; the frame pixel under widget pixel x is x * 1920 / W.
  const cv::Point corner(shownWidth - 3, 2);
  Send(ClickAt({shownWidth / 2, shownHeight / 2}) + ClickAt(corner) + "key space");
  const cv::Mat stored = StoredLabelImage(0);
  ASSERT_FALSE(stored.empty());
  const cv::Point cornerPixel(corner.x * 1920 / shownWidth, corner.y * 1080 / shownHeight);
  EXPECT_EQ(cv::norm(stored, Discs({{960, 540}, cornerPixel}, {1920, 1080}), cv::NORM_INF), 0);
  Quit();
}

// At 2, 3 and 4 screen pixels per image pixel and after a pan, a click paints offset + position / zoom; the zoom
// keeps the pixel under the pointer where it is; "f" fits the frame again.
TEST_F(ViewOnScreen, ZoomAndPanMapThePointerExactly) {
  StartOn("1920x1200", StillList());
  ASSERT_TRUE(labeler_->WaitForOutput("Loading still images"));
  std::string script = "mousemove --window " + frame_ + " 320 240 sleep 0.2 key bracketright sleep 0.2 ";  // 2x
  script += ClickAt({100, 50});                                                                          // (210, 145)
  script += "mousemove --window " + frame_ + " 300 300 sleep 0.1 mousedown 2 sleep 0.1 mousemove --window " +
            frame_ + " 260 280 sleep 0.1 mouseup 2 sleep 0.2 ";  // the view moves by (20, 10) pixels
  script += ClickAt({100, 50});                                 // (230, 155)
  script += "key bracketright sleep 0.2 ";                       // 3x around (230, 155) at (100, 50)
  script += ClickAt({30, 60});                                   // (207, 159)
  script += "key bracketright sleep 0.2 ";                       // 4x around (207, 159) at (30, 60)
  script += ClickAt({200, 100});                                 // (250, 169)
  script += "key f sleep 0.2 " + ClickAt({10, 400}) + "key space";
  Send(script);
  const cv::Mat stored = StoredLabelImage(0);
  ASSERT_FALSE(stored.empty());
  EXPECT_EQ(cv::norm(stored, Discs({{210, 145}, {230, 155}, {207, 159}, {250, 169}, {10, 400}}, {640, 480}),
                     cv::NORM_INF),
            0);
  Quit();
}

TEST_F(ViewOnScreen, SettingKeysAndAClickOnTheGrooveMoveTheTrackbar) {
  StartOn("1920x1200", StillList());
  ASSERT_TRUE(labeler_->WaitForOutput("Loading still images", 60)) << labeler_->errors();
  Send("key s");
  ASSERT_TRUE(labeler_->WaitForOutput("Refreshing Preseg"));
  Send("key S");
  // The setting trackbar is the first row under the picture; its groove ends before the value at the right.
  const int rowHeight = 18;
  Send("mousemove --window " + frame_ + " 590 " + std::to_string(480 + rowHeight / 2) + " sleep 0.1 click 1");
  EXPECT_TRUE(labeler_->WaitForOutput("\t\t Caching segmentation #4\n")) << labeler_->output();
  Quit();
}

// "o" blends the labels over the frame at 40 percent; undo takes them off at once. The status line shows the
// label's colour.
TEST_F(ViewOnScreen, OverlayShowsTheLabelsOverTheFrameAndFollowsUndo) {
  StartOn("1920x1200", StillList());
  ASSERT_TRUE(labeler_->WaitForOutput("Loading still images"));
  Send("key o " + ClickAt({200, 200}) + "mousemove --window " + frame_ + " 400 400");
  cv::Mat shot = Screenshot(frame_);
  ASSERT_FALSE(shot.empty());
  const cv::Vec3b frameColour(200, 40, 40);
  const cv::Vec3b road(128, 64, 128);
  cv::Vec3b blended;
  for (int c = 0; c < 3; ++c) blended[c] = static_cast<uchar>((frameColour[c] * (256 - 102) + road[c] * 102 + 128) >> 8);
  EXPECT_EQ(shot.at<cv::Vec3b>(200, 200), blended);
  EXPECT_EQ(shot.at<cv::Vec3b>(260, 200), cv::Vec3b(90, 90, 90));
  cv::Mat statusRows = shot.rowRange(480, shot.rows);
  cv::Mat swatch;
  cv::inRange(statusRows, cv::Scalar(road), cv::Scalar(road), swatch);
  EXPECT_GT(cv::countNonZero(swatch), 20) << "no swatch of the label's colour on the status line";
  Send("key ctrl+z");
  EXPECT_EQ(Screenshot(frame_).at<cv::Vec3b>(200, 200), frameColour);
  Quit();
}

}  // namespace
}  // namespace labeler
