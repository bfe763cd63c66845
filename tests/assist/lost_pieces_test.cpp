// Small pieces the flow loses, found again by their look: moved only when the look is found clearly better
// elsewhere, once, near where the flow put them.
#include "assist/lost_pieces.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

namespace labeler {
namespace {

const cv::Vec3b kBall(255, 0, 255), kScene(70, 70, 70);

// A textured scene with bright speckled balls (8 x 8) at `balls`.
cv::Mat SceneWithBalls(const std::vector<cv::Point>& balls) {
  cv::Mat scene(120, 160, CV_8U);
  cv::RNG(3).fill(scene, cv::RNG::UNIFORM, 40, 120);
  cv::GaussianBlur(scene, scene, {0, 0}, 1.5);
  cv::Mat speckle(8, 8, CV_8U);
  cv::RNG(9).fill(speckle, cv::RNG::UNIFORM, 180, 255);
  for (const cv::Point& at : balls) speckle.copyTo(scene(cv::Rect(at, speckle.size())));
  return scene;
}

cv::Mat LabelsWithBall(cv::Point at) {
  cv::Mat labels(120, 160, CV_8UC3, cv::Scalar(kScene));
  labels(cv::Rect(at, cv::Size(8, 8))).setTo(cv::Scalar(kBall));
  return labels;
}

struct Refound {
  int moved;
  cv::Mat all;
  cv::Mat reliable;
};

// The ball of the neighbour at (40, 40), carried by a flow that stands still with the scene, as the flow carries a
// small object it loses; the frame is `frame`.
Refound Refind(const cv::Mat& frame) {
  const cv::Mat neighbourLabels = LabelsWithBall({40, 40});
  const cv::Mat standingStill = cv::Mat::zeros(frame.size(), CV_32FC2);
  Refound refound{0, neighbourLabels.clone(), neighbourLabels.clone()};
  refound.moved = RefindLostPieces(frame, SceneWithBalls({{40, 40}}), neighbourLabels, standingStill, refound.all,
                                   refound.reliable);
  return refound;
}

int PixelsOf(const cv::Mat& labels, cv::Rect where, const cv::Vec3b& label) {
  cv::Mat of;
  cv::inRange(labels(where), label, label, of);
  return cv::countNonZero(of);
}

TEST(LostPieces, ASmallPieceTheFlowLostIsMovedWhereItsLookIs) {
  const Refound refound = Refind(SceneWithBalls({{56, 44}}));
  EXPECT_EQ(refound.moved, 1);
  EXPECT_EQ(PixelsOf(refound.reliable, {56, 44, 8, 8}, kBall), 64);
  EXPECT_EQ(PixelsOf(refound.all, {56, 44, 8, 8}, kBall), 64);
  // Where the flow put it, the ball is no evidence any more.
  EXPECT_EQ(PixelsOf(refound.reliable, {40, 40, 8, 8}, kBall), 0);
}

TEST(LostPieces, PiecesCarriedRightLookAlikesFarAwayAndLargeLabelsStay) {
  const cv::Mat carried = LabelsWithBall({40, 40});
  const Refound inPlace = Refind(SceneWithBalls({{40, 40}}));
  EXPECT_EQ(inPlace.moved, 0);
  EXPECT_EQ(cv::norm(inPlace.reliable, carried, cv::NORM_INF), 0);
  // Two balls in reach, equally like it: which one it is the look can't tell.
  EXPECT_EQ(Refind(SceneWithBalls({{56, 44}, {24, 36}})).moved, 0);
  // Beyond three of its sizes from where the flow put it, it is not looked for.
  EXPECT_EQ(Refind(SceneWithBalls({{100, 90}})).moved, 0);
  // A label covering more than 1/150 of the frame is no small object: a piece of it is not looked for, however
  // small and however lost.
  cv::Mat labels(120, 160, CV_8UC3, cv::Scalar(kScene));
  labels(cv::Rect(40, 40, 8, 8)).setTo(cv::Scalar(kBall));
  labels(cv::Rect(100, 10, 40, 40)).setTo(cv::Scalar(kBall));
  cv::Mat all = labels.clone(), reliable = labels.clone();
  EXPECT_EQ(RefindLostPieces(SceneWithBalls({{56, 44}}), SceneWithBalls({{40, 40}}), labels,
                             cv::Mat::zeros(labels.size(), CV_32FC2), all, reliable),
            0);
}

}  // namespace
}  // namespace labeler
