// "p" and "P": labels carried from the neighbouring frame's label image, as one step of the stroke history.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "propagation/label_carrier.h"
#include "support/painting_session.h"

namespace labeler {
namespace {

using testing::CountColour;
using testing::kCarBgr;
using testing::kFrameWin;
using testing::kLabelWin;
using testing::kRoadBgr;
using testing::PaintingSession;

// A textured square moved by (5, 3) pixels between two frames is followed by the flow: the labels carried with
// it cover the square where it went, nearly exactly, and a copy of the labels would not. The same scene ten
// times larger, above 1280 x 720, is carried with the flow of scaled-down copies, scaled back up.
TEST(LabelCarrier, LabelsFollowTheMotion) {
  cv::RNG rng(2);
  cv::Mat background(120, 160, CV_8UC1);
  rng.fill(background, cv::RNG::UNIFORM, 60, 90);
  cv::Mat texture(40, 40, CV_8UC1);
  rng.fill(texture, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(texture, texture, {3, 3}, 0);
  cv::Mat before = background.clone(), after = background.clone();
  texture.copyTo(before(cv::Rect(50, 40, 40, 40)));
  texture.copyTo(after(cv::Rect(55, 43, 40, 40)));
  cv::Mat labels = cv::Mat::zeros(120, 160, CV_8UC3);
  labels(cv::Rect(50, 40, 40, 40)).setTo(cv::Scalar(142, 0, 0));
  cv::Mat truth = cv::Mat::zeros(120, 160, CV_8UC1);
  truth(cv::Rect(55, 43, 40, 40)).setTo(255);
  LabelCarrier carrier;
  for (const double scale : {1.0, 10.0}) {
    auto scaled = [scale](const cv::Mat& image) {
      cv::Mat larger;
      cv::resize(image, larger, {}, scale, scale, cv::INTER_NEAREST);
      return larger;
    };
    const cv::Mat reduced = carrier.ReducedFlow(scaled(after), scaled(before));
    EXPECT_LE(reduced.total(), kLargestFullFlowArea);
    const cv::Mat carried = CarryLabels(scaled(labels), LabelCarrier::ExpandFlow(reduced, scaled(after).size()));
    cv::Mat got;
    cv::inRange(carried, cv::Scalar(142, 0, 0), cv::Scalar(142, 0, 0), got);
    const cv::Mat wanted = scaled(truth);
    const double iou = static_cast<double>(cv::countNonZero(got & wanted)) / cv::countNonZero(got | wanted);
    EXPECT_GT(iou, 0.9) << scale;
  }
  // Snapped to regions: a region takes what most of its pixels carried, black included.
  cv::Mat picture(4, 6, CV_8UC3, cv::Scalar(10, 10, 10));
  picture.colRange(3, 6).setTo(cv::Scalar(20, 20, 20));
  cv::Mat votes = cv::Mat::zeros(4, 6, CV_8UC3);
  votes(cv::Rect(0, 0, 3, 3)).setTo(cv::Scalar(142, 0, 0));  // 9 of 12: the left region is car
  votes(cv::Rect(3, 0, 3, 1)).setTo(cv::Scalar(142, 0, 0));  // 3 of 12: the right one stays unlabelled
  const cv::Mat snapped = SnapToRegions(votes, RegionMap(picture));
  EXPECT_EQ(CountColour(snapped.colRange(0, 3), kCarBgr), 12);
  EXPECT_EQ(CountColour(snapped.colRange(3, 6), cv::Vec3b(0, 0, 0)), 12);
}

// Frame 0 labelled road at the left, saved by Space; on frame 1 a car stroke comes first; "p" labels only what is
// unlabelled, undo takes it back, redo brings it, a later stroke goes over it, clear takes all, and leaving saves.
TEST(CarriedLabels, AreOneStepOfTheHistoryAndNeverOverwrite) {
  PaintingSession s;
  s.Drag({{10, 10}, {10, 40}, {25, 10}, {25, 40}});  // road over the left of the frame
  s.windows.Key(' ');
  s.windows.Key('2');
  s.Click({15, 25});  // car, inside the road of frame 0
  s.windows.Key('p');
  auto stored = [&s] { return s.windows.lastShown[kLabelWin].clone(); };
  cv::Mat proposed, undone, redone, painted;
  s.windows.Do([&] {
    proposed = stored();
    EXPECT_EQ(s.app.strokes().strokes().size(), 2u);
  });
  s.windows.Key(26);
  s.windows.Do([&] { undone = stored(); });
  s.windows.Key(25);
  s.windows.Do([&] { redone = stored(); });
  s.windows.Key('1');
  s.Click({15, 25});  // road over the car: a stroke after the proposal goes over it
  s.windows.Do([&] { painted = stored(); });
  s.windows.Key(4);
  s.windows.Key(25);
  s.windows.Key(25);
  s.windows.Key(25);
  s.windows.Key(' ');
  s.Run();
  EXPECT_TRUE(s.Printed("Carried the labels of frame 0 to frame 1.\n"));
  EXPECT_EQ(proposed.at<cv::Vec3b>(25, 15), kCarBgr);   // the earlier stroke kept
  EXPECT_EQ(proposed.at<cv::Vec3b>(40, 5), kRoadBgr);   // carried where nothing was
  EXPECT_GT(CountColour(proposed, kRoadBgr), 600);
  EXPECT_EQ(CountColour(undone, kRoadBgr), 0);
  EXPECT_EQ(cv::norm(redone, proposed, cv::NORM_INF), 0);
  EXPECT_EQ(painted.at<cv::Vec3b>(25, 15), kRoadBgr);
  const cv::Mat saved = s.Stored(1);
  EXPECT_EQ(saved.at<cv::Vec3b>(40, 5), kRoadBgr);
  EXPECT_EQ(saved.at<cv::Vec3b>(25, 15), kRoadBgr);
}

// Nothing to carry: before the first frame, after the last, no label image, one of another size. One line each,
// no stroke.
TEST(CarriedLabels, WithoutALabelImageToCarryNothingHappens) {
  PaintingSession s(2);
  s.windows.Key('p');  // frame 0: there is no frame before it
  s.windows.Key('P');  // frame 1 has no label image yet
  s.windows.Key(' ');
  s.windows.Key('P');  // frame 1 is the last
  cv::imwrite(s.LabelFile(0), cv::Mat::zeros(10, 10, CV_8UC3));
  s.windows.Key('p');  // of another size
  s.windows.Do([&s] { EXPECT_TRUE(s.app.strokes().strokes().empty()); });
  ::testing::internal::CaptureStderr();
  s.Run();
  ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(s.Printed("No label image of frame -1 to carry to frame 0.\n"));
  EXPECT_TRUE(s.Printed("No label image of frame 1 to carry to frame 0.\n"));
  EXPECT_TRUE(s.Printed("No label image of frame 2 to carry to frame 1.\n"));
  EXPECT_TRUE(s.Printed("The label image of frame 0 can't be carried: it is not of the frame's size.\n"));
  EXPECT_FALSE(std::filesystem::exists(s.LabelFile(1)));
}

// A frame left without strokes carries the label image its file held when loaded, unless the file has changed
// since (another labeller wrote it): then what the file holds now.
TEST(CarriedLabels, AFrameLeftUnchangedCarriesWhatItsFileHolds) {
  PaintingSession s(2);
  cv::imwrite(s.LabelFile(0), cv::Mat(48, 64, CV_8UC3, cv::Scalar(128, 64, 128)));
  cv::Vec3b carried[2];
  for (int round = 0; round < 2; ++round) {
    s.windows.Key(' ');
    if (round == 1) {
      s.windows.Do([&s] { cv::imwrite(s.LabelFile(0), cv::Mat(48, 64, CV_8UC3, cv::Scalar(142, 0, 0))); });
    }
    s.windows.Key('p');
    s.windows.Do([&, round] { carried[round] = s.app.strokes().strokes().back().carried->at<cv::Vec3b>(24, 32); });
    s.windows.Key(4);  // Ctrl+D: frame 1 is left without strokes
    s.windows.Key(8);
  }
  s.Run();
  EXPECT_EQ(carried[0], kRoadBgr);
  EXPECT_EQ(carried[1], kCarBgr);
}

// Frame 1 is frame 0 with a textured square moved 6 pixels right. "c" reloads the still into a new picture; the
// flow of the second "p" must still be computed between the two frames, not between frame 1 and itself.
TEST(CarriedLabels, AReloadedFrameIsCarriedToLikeTheFirstTime) {
  PaintingSession s(2, {160, 120}, 160);
  cv::RNG rng(5);
  cv::Mat texture(40, 40, CV_8UC3);
  rng.fill(texture, cv::RNG::UNIFORM, 0, 256);
  for (int i = 0; i < 2; ++i) {
    cv::Mat frame(120, 160, CV_8UC3, cv::Scalar(70, 70, 70));
    texture.copyTo(frame(cv::Rect(50 + 6 * i, 40, 40, 40)));
    cv::imwrite(s.dir.File("frame" + std::to_string(i) + ".png"), frame);
  }
  s.Drag({{55, 45}, {85, 45}, {55, 75}, {85, 75}});  // road inside the square
  s.windows.Key(' ');
  cv::Mat first, again;
  s.windows.Key('p');
  s.windows.Do([&] { first = s.app.strokes().strokes().back().carried->clone(); });
  s.windows.Key(26);
  s.windows.Key('c');
  s.windows.Key('p');
  s.windows.Do([&] { again = s.app.strokes().strokes().back().carried->clone(); });
  s.Run();
  EXPECT_EQ(first.at<cv::Vec3b>(45, 94), kRoadBgr) << "the labels moved with the square";
  EXPECT_EQ(cv::norm(first, again, cv::NORM_INF), 0);
}

// Optical flow refuses frames this small: "p" says so in one line, and the session and its strokes go on.
TEST(CarriedLabels, FramesTooSmallForTheFlowAreNotCarried) {
  PaintingSession s(2, {10, 10}, 10);
  s.Click({5, 5});
  s.windows.Key(' ');
  s.windows.Key('p');
  s.Click({5, 5});
  s.windows.Key(' ');
  EXPECT_EQ(s.Run(), 0);
  EXPECT_TRUE(s.Printed("Frames of 10 x 10 pixels are too small to carry labels between (16 x 16 at least).\n"));
  EXPECT_EQ(s.Stored(1).at<cv::Vec3b>(5, 5), kRoadBgr);
}

}  // namespace
}  // namespace labeler
