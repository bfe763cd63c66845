#include "annotation/stroke_store.h"

#include <gtest/gtest.h>

namespace labeler {
namespace {

std::string Printed(const std::function<void()>& action) {
  ::testing::internal::CaptureStdout();
  action();
  std::fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

// Names the strokes of a list by their first point's x, which the tests set to 1, 2, 3 ...
std::vector<int> Names(const std::vector<Stroke>& strokes) {
  std::vector<int> names;
  for (const Stroke& stroke : strokes) names.push_back(stroke.points.front().x);
  return names;
}

void Paint(StrokeStore& store, int name) {
  store.BeginStroke(name, 0, 3, cv::Scalar(1, 2, 3), "0 ");
  store.EndStroke(name, 1);
}

TEST(StrokeStore, UndoAndRedoMoveStrokesBetweenTwoStacks) {
  StrokeStore store;
  for (int s : {1, 2, 3}) Paint(store, s);
  store.UndoStroke();
  store.UndoStroke();
  EXPECT_EQ(Names(store.strokes()), std::vector<int>{1});
  EXPECT_EQ(Names(store.redoStrokes()), (std::vector<int>{3, 2}));
  store.RedoStroke();
  EXPECT_EQ(Names(store.strokes()), (std::vector<int>{1, 2}));
  Paint(store, 4);
  EXPECT_EQ(Names(store.redoStrokes()), std::vector<int>{3});
  store.RedoStroke();
  EXPECT_EQ(Names(store.strokes()), (std::vector<int>{1, 2, 4, 3}));
}

TEST(StrokeStore, ClearThenRedoRestoresThePaintingOrder) {
  StrokeStore store;
  Paint(store, 9);
  store.UndoStroke();
  for (int s : {1, 2, 3}) Paint(store, s);
  EXPECT_EQ(Printed([&] { store.ClearStrokes(); }), "");
  EXPECT_TRUE(store.strokes().empty());
  EXPECT_EQ(Names(store.redoStrokes()), (std::vector<int>{9, 3, 2, 1}));
  for (int i = 0; i < 3; ++i) store.RedoStroke();
  EXPECT_EQ(Names(store.strokes()), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(Printed([&] { store.ClearStrokes(); store.ClearStrokes(); }), "");
}

TEST(StrokeStore, EmptyStacksSayNothingIsLeft) {
  StrokeStore store;
  EXPECT_EQ(Printed([&] { store.UndoStroke(); }), "Undo: no strokes left to undo.\n");
  EXPECT_EQ(Printed([&] { store.RedoStroke(); }), "Redo: no strokes left to redo.\n");
  Paint(store, 1);
  store.DiscardStrokes();
  EXPECT_EQ(Printed([&] { store.UndoStroke(); }), "Undo: no strokes left to undo.\n");
}

TEST(StrokeStore, DragEndsOnReleaseAndOnUndoRedoOrClear) {
  StrokeStore store;
  store.BeginStroke(5, 5, 2, cv::Scalar(), "0 ");
  ASSERT_NE(store.currentStroke(), nullptr);
  store.currentStroke()->AddPoint(6, 6);
  store.EndStroke(7, 7);
  EXPECT_EQ(store.currentStroke(), nullptr);
  EXPECT_EQ(store.strokes().back().points.size(), 3u);
  store.EndStroke(8, 8);  // no drag: nothing is added
  EXPECT_EQ(store.strokes().back().points.size(), 3u);
  for (auto command : {&StrokeStore::UndoStroke, &StrokeStore::RedoStroke, &StrokeStore::ClearStrokes}) {
    store.BeginStroke(1, 1, 2, cv::Scalar(), "0 ");
    Printed([&] { (store.*command)(); });
    EXPECT_EQ(store.currentStroke(), nullptr);
  }
}

TEST(StrokeStore, BoundsAndDiscs) {
  Stroke stroke;
  stroke.points = {{5, 7}};
  stroke.radius = 10;
  EXPECT_EQ(stroke.StrokeBounds(), cv::Rect(-5, -3, 21, 21));
  stroke.points = {{10, 10}, {30, 12}};
  stroke.radius = 2;
  stroke.colour = cv::Scalar(9, 8, 7);
  EXPECT_EQ(stroke.StrokeBounds(), cv::Rect(8, 8, 25, 7));
  cv::Mat image(20, 40, CV_8UC3, cv::Scalar::all(0));
  stroke.DrawStroke(image, cv::Scalar(-1.0));
  EXPECT_EQ(image.at<cv::Vec3b>(10, 12), cv::Vec3b(9, 8, 7));
  EXPECT_EQ(image.at<cv::Vec3b>(11, 20), cv::Vec3b(0, 0, 0));  // discs are not joined
  cv::Mat mask(20, 40, CV_8UC1, cv::Scalar(0));
  stroke.DrawStroke(mask, cv::Scalar(50));
  EXPECT_EQ(mask.at<uchar>(12, 30), 50);
}

}  // namespace
}  // namespace labeler
