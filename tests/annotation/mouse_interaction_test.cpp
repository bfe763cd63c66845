// The mouse handlers through whole sessions on the test double.
#include "annotation/mouse_interaction.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "annotation/label_legend.h"
#include "support/painting_session.h"

namespace labeler {
namespace {

using testing::kCarBgr;
using testing::kFrameWin;
using testing::kLabelWin;
using testing::kPresegWin;
using testing::PaintingSession;

TEST(MouseInteraction, PositionsAreClampedToTheFrame) {
  PaintingSession s(1, {640, 480}, 400);
  struct Case {
    int in, expected;
  };
  for (Case c : {Case{30001, 0}, Case{700, 639}, Case{640, 639}, Case{-3, 0}, Case{17, 17}}) {
    s.windows.Mouse(kFrameWin, ui::kMouseMove, c.in, 5);
    s.windows.Do([&s, c] { EXPECT_EQ(s.app.pointer().cursorX, c.expected) << c.in; });
  }
  s.Run();
}

TEST(MouseInteraction, WheelChangesTheBrushOfTheNextStroke) {
  PaintingSession s;
  for (int i = 0; i < 12; ++i) s.windows.Mouse(kFrameWin, ui::kWheelBack, 5, 5);
  s.windows.Do([&s] { EXPECT_EQ(s.app.pointer().brushRadius, 1); });
  for (int i = 0; i < 11; ++i) s.windows.Mouse(kFrameWin, ui::kWheelForward, 5, 5);
  s.windows.Mouse(kFrameWin, ui::kLeftPress, 30, 30, ui::kFlagLeft);
  s.windows.Do([&s] { EXPECT_EQ(s.app.strokes().strokes().back().radius, 12); });
  s.Run();
}

TEST(MouseInteraction, CtrlWithLeftButtonMovesAddNoPoints) {
  PaintingSession s;
  s.windows.Mouse(kFrameWin, ui::kLeftPress, 10, 10, ui::kFlagLeft);
  s.windows.Mouse(kFrameWin, ui::kMouseMove, 12, 11, ui::kFlagLeft | ui::kFlagCtrl);
  s.windows.Mouse(kFrameWin, ui::kMouseMove, 14, 12, ui::kFlagLeft | ui::kFlagCtrl);
  s.windows.Mouse(kFrameWin, ui::kMouseMove, 16, 13, ui::kFlagLeft | ui::kFlagShift);
  s.windows.Mouse(kFrameWin, ui::kLeftRelease, 20, 20);
  s.windows.Do([&s] { EXPECT_EQ(s.app.strokes().strokes().back().points.size(), 3u); });
  s.Run();
  EXPECT_TRUE(s.Printed("CtrMove (x,y) = 12, 11\nCtrMove (x,y) = 14, 12\n"));
}

TEST(MouseInteraction, DoubleClickAndRightButtonBeginNoStroke) {
  PaintingSession s;
  s.windows.Mouse(kFrameWin, ui::kLeftDoubleClick, 10, 10, ui::kFlagLeft);
  s.windows.Mouse(kFrameWin, ui::kRightPress, 10, 10, ui::kFlagRight);
  s.windows.Mouse(kFrameWin, ui::kRightRelease, 11, 12);
  s.windows.Do([&s] { EXPECT_TRUE(s.app.strokes().strokes().empty()); });
  s.Run();
  EXPECT_TRUE(s.Printed("Rup (x,y) = 11, 12\n"));
}

TEST(MouseInteraction, RescaledWindowPositionsMapToTheFrame) {
  PaintingSession shrunk(1, {640, 480}, 400);  // scale 0.625
  shrunk.windows.Mouse(kPresegWin, ui::kMouseMove, 101, 50);
  shrunk.windows.Do([&shrunk] {
    EXPECT_EQ(shrunk.app.pointer().cursorX, 162);
    EXPECT_EQ(shrunk.app.pointer().cursorY, 80);
  });
  shrunk.Run();
  PaintingSession enlarged(1, {64, 48}, 128);  // scale 2
  for (int x : {5, 7}) {
    enlarged.windows.Mouse(kPresegWin, ui::kMouseMove, x, 0);
    enlarged.windows.Do([&enlarged, x] { EXPECT_EQ(enlarged.app.pointer().cursorX, x == 5 ? 2 : 4); });
  }
  enlarged.Run();
}

TEST(MouseInteraction, LabelMapReportsAndPicksTheLabelUnderThePointer) {
  PaintingSession s;
  s.windows.Key('2');
  s.Click({30, 30});
  s.windows.Key('1');
  s.windows.Mouse(kLabelWin, ui::kMouseMove, 30, 30);
  s.windows.Mouse(kLabelWin, ui::kMouseMove, 60, 2);  // black: no label, nothing printed
  s.windows.Mouse(kLabelWin, ui::kRightPress, 31, 30, ui::kFlagRight);
  s.windows.Do([&s] { EXPECT_EQ(s.app.currentLabel(), 1); });
  s.Run();
  EXPECT_TRUE(s.Printed("LabelInfo changed to road.\nLabel= car.\nLabel= car.\nLabelInfo changed to car.\n"))
      << s.printed;
}

TEST(MouseInteraction, LegendPicksTheLabelUnderThePointerWhileCtrlIsHeld) {
  PaintingSession s(1, {640, 480}, 400);
  s.windows.Mouse(kFrameWin, ui::kMouseMove, 130, 15, ui::kFlagCtrl);  // car's cell
  s.windows.Do([&s] {
    EXPECT_EQ(s.app.currentLabel(), 1);
    EXPECT_EQ(s.windows.lastShown[kFrameWin].at<cv::Vec3b>(15, 200), kCarBgr);
  });
  s.windows.Mouse(kFrameWin, ui::kMouseMove, 300, 200, ui::kFlagCtrl);  // no cell
  s.windows.Mouse(kFrameWin, ui::kLeftPress, 300, 200, ui::kFlagLeft);
  s.windows.Do([&s] { EXPECT_TRUE(s.app.strokes().strokes().empty()); });
  s.Run();
  EXPECT_TRUE(s.Printed("LabelInfo changed to car.\nLabelInfo changed to UNDEFINED (which is different than void).\n"
                        "No label chosen"));
}

TEST(LabelLegend, TenLabelsOnASixHundredFortyPixelFrame) {
  LabelSet labels;
  for (int i = 0; i < 10; ++i) labels.push_back({10 * i, 200, 40, "label" + std::to_string(i), i});
  cv::Mat image(480, 640, CV_8UC3);
  DrawLabelLegend(image, labels);
  EXPECT_EQ(image.at<cv::Vec3b>(55, 340), cv::Vec3b(40, 200, 70));  // label 7: row 1, column 2
  EXPECT_EQ(PickLegendLabel(300, 45, image, labels), 7);
  EXPECT_EQ(image.at<cv::Vec3b>(31, 300), cv::Vec3b(0, 128, 255));  // outlined in orange
  EXPECT_EQ(PickLegendLabel(240, 45, image, labels), -1);  // on the cell's left edge
  EXPECT_EQ(PickLegendLabel(300, 95, image, labels), -1);  // below the last row
  cv::Mat narrow(100, 90, CV_8UC3);
  DrawLabelLegend(narrow, labels);
  EXPECT_EQ(PickLegendLabel(50, 75, narrow, labels), 2);  // one column when narrower than a cell
}

TEST(LabelLegend, CaptionsAreWhiteOnDarkCellsAndBlackOnLightOnes) {
  // Pixels of the cell's inside whose every channel is near `level`.
  auto captionPixels = [](const LabelInfo& label, int level) {
    cv::Mat image(30, 120, CV_8UC3);
    DrawLabelLegend(image, {label});
    cv::Mat near;
    cv::inRange(image(cv::Rect(2, 2, 116, 26)), cv::Scalar::all(std::max(level - 40, 0)),
                cv::Scalar::all(std::min(level + 40, 255)), near);
    return cv::countNonZero(near);
  };
  EXPECT_GT(captionPixels({200, 40, 40, "dark", 1}, 255), 20);  // mean 93.3
  EXPECT_EQ(captionPixels({200, 40, 40, "dark", 1}, 0), 0);
  EXPECT_GT(captionPixels({200, 200, 0, "light", -1}, 0), 20);  // mean 133.3
  EXPECT_EQ(captionPixels({200, 200, 0, "light", -1}, 255), 0);
}

}  // namespace
}  // namespace labeler
