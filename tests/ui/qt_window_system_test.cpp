// The Qt windowing layer on Qt's offscreen platform, driven by synthetic Qt events.
#include "ui/qt_window_system.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QSlider>
#include <QTest>
#include <QWheelEvent>

namespace labeler::ui {
namespace {

struct MouseCall {
  int event, x, y, flags;
  bool operator==(const MouseCall&) const = default;
};

class QtWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    windows_.CreateWindow("W");
    windows_.ShowImage("W", cv::Mat(30, 40, CV_8UC3, cv::Scalar(1, 2, 3)));
    windows_.SetMouseCallback("W", [this](int event, int x, int y, int flags) {
      calls_.push_back({event, x, y, flags});
    });
  }

  QWidget* TopLevel() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget->windowTitle() == "W") return widget;
    }
    return nullptr;
  }
  QWidget* Picture() { return TopLevel()->findChild<QWidget*>("picture"); }

  void SendMouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons,
                 Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, QPointF(at), QPointF(Picture()->mapToGlobal(at)), button, buttons, modifiers);
    QApplication::sendEvent(Picture(), &event);
  }
  void SendWheel(int delta) {
    QWheelEvent event(QPointF(5, 6), QPointF(5, 6), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(Picture(), &event);
  }

  int argc_ = 1;
  char program_[8] = "labeler";
  char* argv_[2] = {program_, nullptr};
  QtWindowSystem windows_{argc_, argv_};
  std::vector<MouseCall> calls_;
};

TEST_F(QtWindows, KeysComeAsTheirCodes) {
  ASSERT_NE(TopLevel(), nullptr);
  QTest::keyClick(TopLevel(), Qt::Key_Z, Qt::ControlModifier);
  QTest::keyClick(TopLevel(), Qt::Key_Y, Qt::ControlModifier);
  QTest::keyClick(TopLevel(), Qt::Key_D, Qt::ControlModifier);
  QTest::keyClick(TopLevel(), Qt::Key_Backspace);
  QTest::keyClick(TopLevel(), Qt::Key_Space);
  QTest::keyClick(TopLevel(), Qt::Key_Plus, Qt::KeypadModifier);
  QTest::keyClick(TopLevel(), Qt::Key_Minus, Qt::KeypadModifier);
  QTest::keyClick(TopLevel(), Qt::Key_G);
  QTest::keyClick(TopLevel(), 'G');
  QTest::keyClick(TopLevel(), Qt::Key_7);
  QTest::keyClick(TopLevel(), Qt::Key_Control);  // a lone modifier is no key
  QTest::keyClick(TopLevel(), Qt::Key_Escape);
  for (int expected : std::initializer_list<int>{26, 25, 4, 8, 32, 43, 45, 'g', 'G', '7', 27}) EXPECT_EQ(windows_.WaitKey(), expected);
}

TEST_F(QtWindows, MouseEventsComeWithTheirCodesAndFlags) {
  SendMouse(QEvent::MouseMove, {3, 4}, Qt::NoButton, Qt::NoButton);
  SendMouse(QEvent::MouseMove, {5, 6}, Qt::NoButton, Qt::NoButton, Qt::ControlModifier);
  SendMouse(QEvent::MouseButtonPress, {7, 8}, Qt::LeftButton, Qt::LeftButton);
  SendMouse(QEvent::MouseMove, {9, 10}, Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
  SendMouse(QEvent::MouseButtonRelease, {-2, 50}, Qt::LeftButton, Qt::NoButton);
  SendMouse(QEvent::MouseButtonPress, {1, 1}, Qt::RightButton, Qt::RightButton, Qt::ShiftModifier);
  SendMouse(QEvent::MouseButtonRelease, {1, 1}, Qt::RightButton, Qt::NoButton);
  SendMouse(QEvent::MouseButtonDblClick, {2, 2}, Qt::LeftButton, Qt::LeftButton);
  SendMouse(QEvent::MouseButtonPress, {2, 2}, Qt::MiddleButton, Qt::MiddleButton, Qt::AltModifier);
  SendWheel(120);
  SendWheel(-120);
  std::vector<MouseCall> expected = {{0, 3, 4, 0},   {0, 5, 6, 8},   {1, 7, 8, 1},  {0, 9, 10, 9},
                                     {4, -2, 50, 0}, {2, 1, 1, 18},  {5, 1, 1, 0},  {1, 2, 2, 1},
                                     {7, 2, 2, 1},   {3, 2, 2, 36},  {10, 5, 6, 0}, {11, 5, 6, 0}};
  EXPECT_EQ(calls_, expected);
}

// Typed ahead while the labeller was busy: a key, a click, another key. The click must not overtake the first
// key, although the event loop dispatches everything it has read before it can return that key.
TEST_F(QtWindows, MouseEventsBehindAPendingKeyWaitForIt) {
  auto postMouse = [this](QEvent::Type type, Qt::MouseButtons buttons) {
    QCoreApplication::postEvent(Picture(), new QMouseEvent(type, QPointF(4, 5), QPointF(Picture()->mapToGlobal(QPoint(4, 5))),
                                                           Qt::LeftButton, buttons, Qt::NoModifier));
  };
  QCoreApplication::postEvent(TopLevel(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " "));
  postMouse(QEvent::MouseButtonPress, Qt::LeftButton);
  postMouse(QEvent::MouseButtonRelease, Qt::NoButton);
  QCoreApplication::postEvent(TopLevel(), new QKeyEvent(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, "1"));
  EXPECT_EQ(windows_.WaitKey(), ' ');
  EXPECT_TRUE(calls_.empty());
  EXPECT_EQ(windows_.WaitKey(), '1');
  std::vector<MouseCall> expected = {{1, 4, 5, 1}, {4, 4, 5, 0}};
  EXPECT_EQ(calls_, expected);
}

// A click made before "]" was pressed, and held behind an earlier key, paints where it was made.
TEST_F(QtWindows, AZoomKeyWaitsForTheMouseEventsBeforeIt) {
  windows_.ShareView({"W"});
  auto postPress = [this](QPoint at) {
    QCoreApplication::postEvent(Picture(), new QMouseEvent(QEvent::MouseButtonPress, QPointF(at),
                                                           QPointF(Picture()->mapToGlobal(at)), Qt::LeftButton,
                                                           Qt::LeftButton, Qt::NoModifier));
  };
  auto postKey = [this](Qt::Key key, const char* text) {
    QCoreApplication::postEvent(TopLevel(), new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
  };
  postKey(Qt::Key_Space, " ");
  postPress(QPoint(30, 20));
  postKey(Qt::Key_BracketRight, "]");
  postPress(QPoint(30, 20));
  postKey(Qt::Key_1, "1");
  EXPECT_EQ(windows_.WaitKey(), ' ');
  EXPECT_EQ(windows_.WaitKey(), '1');
  ASSERT_EQ(calls_.size(), 2u);
  EXPECT_EQ(calls_[0], (MouseCall{1, 30, 20, 1}));
  EXPECT_NE(calls_[1], calls_[0]) << "the second click comes after the zoom";
}

TEST_F(QtWindows, ClosingAWindowLeavesItToTheLabeller) {
  TopLevel()->show();
  TopLevel()->close();
  EXPECT_EQ(windows_.WaitKey(), 27);
  EXPECT_TRUE(TopLevel()->isVisible());
}

TEST_F(QtWindows, PictureSitsAtTheTopLeftAtImageSize) {
  EXPECT_EQ(Picture()->size(), QSize(40, 30));
  EXPECT_EQ(Picture()->pos(), QPoint(0, 0));
  windows_.ShowImage("W", cv::Mat(50, 70, CV_8UC1, cv::Scalar(9)));
  EXPECT_EQ(Picture()->size(), QSize(70, 50));
}

TEST_F(QtWindows, ARectangleUpdateReplacesOnlyThatRectangle) {
  cv::Mat next(30, 40, CV_8UC3, cv::Scalar(200, 100, 50));
  windows_.ShowImageRect("W", next, cv::Rect(5, 6, 10, 4));
  const QImage shown = Picture()->grab().toImage();
  EXPECT_EQ(shown.pixelColor(5, 6), QColor(50, 100, 200));
  EXPECT_EQ(shown.pixelColor(14, 9), QColor(50, 100, 200));
  EXPECT_EQ(shown.pixelColor(15, 9), QColor(3, 2, 1));
  EXPECT_EQ(shown.pixelColor(5, 10), QColor(3, 2, 1));
  EXPECT_EQ(Picture()->size(), QSize(40, 30));
}

TEST_F(QtWindows, TrackbarWritesItsIntAndCallsBack) {
  int value = 24;
  int reported = -1;
  windows_.CreateTrackbar("PyrSeg1", "W", &value, 255, [&reported](int position) { reported = position; });
  auto* slider = TopLevel()->findChild<QSlider*>("PyrSeg1");
  ASSERT_NE(slider, nullptr);
  EXPECT_EQ(slider->value(), 24);
  EXPECT_EQ(slider->maximum(), 255);
  slider->setValue(40);
  EXPECT_EQ(value, 40);
  EXPECT_EQ(reported, 40);
  EXPECT_EQ(Picture()->pos(), QPoint(0, 0));
}

}  // namespace
}  // namespace labeler::ui
