// The completion of a frame's labels: evidence carried from neighbouring frames, trusted only away from carried
// boundaries and where the flow to the neighbour and back returns to its start; strokes, of any colour, spread
// along edges and to what looks alike; and how sure the completion is of each pixel.
#include <gtest/gtest.h>

#include "assist/carried_evidence.h"
#include "assist/label_assist.h"
#include "preseg/region_map.h"

#include <opencv2/imgproc.hpp>

namespace labeler {
namespace {

const cv::Vec3b kCar(142, 0, 0), kRoad(128, 64, 128), kSky(180, 130, 70), kLane(255, 255, 255), kBlack(0, 0, 0);

// A grey frame with texture everywhere, so that the flow is sure of itself; shifted by `dx` pixels.
cv::Mat TexturedGrey(int dx) {
  cv::Mat texture(120, 160, CV_8U);
  cv::RNG rng(5);
  rng.fill(texture, cv::RNG::UNIFORM, 0, 255);
  cv::GaussianBlur(texture, texture, {0, 0}, 2);
  cv::normalize(texture, texture, 0, 255, cv::NORM_MINMAX);
  cv::Mat shifted;
  const cv::Mat move = (cv::Mat_<double>(2, 3) << 1, 0, dx, 0, 1, 0);
  cv::warpAffine(texture, shifted, move, texture.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
  return shifted;
}

cv::Mat RoadWithCar(cv::Rect car) {
  cv::Mat labels(120, 160, CV_8UC3, cv::Scalar(kRoad));
  cv::rectangle(labels, car, cv::Scalar(kCar), cv::FILLED);
  return labels;
}

TEST(CarriedEvidence, IsTrustedAwayFromCarriedBoundariesAndOnlyWhereNeighboursAgree) {
  LabelCarrier carrier;
  const cv::Mat grey = TexturedGrey(3);
  // The frame before: the scene 3 pixels to the left, the car at x 40 there and so at x 43 here.
  const LabelledNeighbour before{TexturedGrey(0), RoadWithCar({40, 40, 40, 40})};
  const CarriedLabels one = CarryFromNeighbours(grey, {before}, carrier);
  EXPECT_EQ(one.all.at<cv::Vec3b>(60, 45), kCar);
  EXPECT_EQ(one.all.at<cv::Vec3b>(60, 41), kRoad);
  EXPECT_EQ(one.reliable.at<cv::Vec3b>(60, 63), kCar);   // inside
  EXPECT_EQ(one.reliable.at<cv::Vec3b>(60, 30), kRoad);  // outside
  for (int x = 41; x <= 44; ++x) {  // the band along the left side of the car, at x 43
    EXPECT_EQ(one.reliable.at<cv::Vec3b>(60, x), cv::Vec3b(0, 0, 0)) << x;
  }
  // A frame after that says sky where the one before says road: neither counts there.
  const LabelledNeighbour after{TexturedGrey(3), cv::Mat(120, 160, CV_8UC3, cv::Scalar(kSky))};
  const CarriedLabels two = CarryFromNeighbours(grey, {before, after}, carrier);
  EXPECT_EQ(two.reliable.at<cv::Vec3b>(60, 30), cv::Vec3b(0, 0, 0));
  EXPECT_EQ(two.all.at<cv::Vec3b>(60, 30), kRoad);  // the first neighbour's, for cutting regions
}

// Strokes drawn as the annotator paints them: colours in `labels`, and 255 in `painted` where painted.
struct Strokes {
  explicit Strokes(cv::Size size) : labels(cv::Mat::zeros(size, CV_8UC3)), painted(cv::Mat::zeros(size, CV_8U)) {}
  void Disc(cv::Point centre, int radius, const cv::Vec3b& label) {
    cv::circle(labels, centre, radius, cv::Scalar(label), cv::FILLED);
    cv::circle(painted, centre, radius, cv::Scalar(255), cv::FILLED);
  }
  cv::Mat labels;
  cv::Mat painted;
};

// Two white dashes on a grey road, walled in by their edges: a stroke on one dash and one on the road label the
// whole frame, the other dash by its look; painted pixels keep their label whatever surrounds them.
TEST(LabelAssist, StrokesSpreadWithinEdgesAndToWhatLooksAlike) {
  cv::Mat frame(60, 100, CV_8UC3, cv::Scalar(90, 90, 90));
  const cv::Rect painted(20, 20, 8, 8), alike(70, 20, 8, 8);
  frame(painted).setTo(cv::Scalar(235, 235, 235));
  frame(alike).setTo(cv::Scalar(235, 235, 235));
  LabelAssist assist({frame, {RegionMap(frame).ids()}, {}});
  Strokes strokes(frame.size());
  strokes.Disc({24, 24}, 4, kLane);  // most of the dash
  strokes.Disc({50, 50}, 3, kRoad);
  strokes.labels.at<cv::Vec3b>(5, 5) = kCar;
  strokes.painted.at<uchar>(5, 5) = 255;
  cv::Mat expected(frame.size(), CV_8UC3, cv::Scalar(kRoad));
  expected(painted).setTo(cv::Scalar(kLane));
  expected(alike).setTo(cv::Scalar(kLane));
  cv::circle(expected, {24, 24}, 4, cv::Scalar(kLane), cv::FILLED);
  expected.at<cv::Vec3b>(5, 5) = kCar;
  EXPECT_EQ(cv::norm(assist.Complete(strokes.labels, strokes.painted).labels, expected, cv::NORM_INF), 0);
}

// A look that painted examples of two labels share decides nothing: the speck between a painted dash and a
// painted car of nearly its grey takes the label around it, as it would with no example at all.
TEST(LabelAssist, ALookNearExamplesOfTwoLabelsIsNoEvidence) {
  cv::Mat frame(60, 100, CV_8UC3, cv::Scalar(90, 90, 90));
  const cv::Rect dash(10, 20, 8, 8), car(40, 20, 8, 8), speck(70, 20, 8, 8);
  frame(dash).setTo(cv::Scalar(235, 235, 235));
  frame(car).setTo(cv::Scalar(230, 230, 230));
  frame(speck).setTo(cv::Scalar(233, 233, 233));
  LabelAssist assist({frame, {RegionMap(frame).ids()}, {}});
  Strokes strokes(frame.size());
  strokes.Disc({14, 24}, 4, kLane);
  strokes.Disc({44, 24}, 4, kCar);
  strokes.Disc({50, 50}, 3, kRoad);
  const cv::Mat completed = assist.Complete(strokes.labels, strokes.painted).labels;
  EXPECT_EQ(completed.at<cv::Vec3b>(24, 74), kRoad);
  EXPECT_EQ(completed.at<cv::Vec3b>(21, 11), kLane);
  EXPECT_EQ(completed.at<cv::Vec3b>(21, 41), kCar);
}

// One cell over a dark and a light half, painted road on the left and car on the right: the walk can give it one
// label only, unsure; cut along a finer presegmentation's regions, each half takes its own stroke's label.
TEST(LabelAssist, CellsItIsUnsureOfAreCutFinerAndWalkedAgain) {
  cv::Mat frame(40, 100, CV_8UC3, cv::Scalar(60, 60, 60));
  frame.colRange(50, 100).setTo(cv::Scalar(200, 200, 200));
  const cv::Mat oneCell = cv::Mat::zeros(frame.size(), CV_32S);
  cv::Mat halves = cv::Mat::zeros(frame.size(), CV_32S);
  halves.colRange(50, 100).setTo(1);
  Strokes strokes(frame.size());
  strokes.Disc({20, 20}, 3, kRoad);
  strokes.Disc({80, 20}, 4, kCar);
  cv::Mat expected(frame.size(), CV_8UC3, cv::Scalar(kRoad));
  expected.colRange(50, 100).setTo(cv::Scalar(kCar));
  LabelAssist refined({frame, {oneCell}, {}, halves});
  EXPECT_EQ(cv::norm(refined.Complete(strokes.labels, strokes.painted).labels, expected, cv::NORM_INF), 0);
  LabelAssist coarse({frame, {oneCell}, {}});
  EXPECT_EQ(coarse.Complete(strokes.labels, strokes.painted).labels.at<cv::Vec3b>(20, 35), kCar);  // the more paint
}

// Black is a label like any other once painted: a black stroke on the dark half of a frame and a car stroke on
// its light half give each half its stroke's label, and what the labels hold where nothing is painted is no
// evidence.
TEST(LabelAssist, APaintedBlackLabelIsKeptAndSpreads) {
  cv::Mat frame(60, 100, CV_8UC3, cv::Scalar(60, 60, 60));
  frame.colRange(50, 100).setTo(cv::Scalar(200, 200, 200));
  LabelAssist assist({frame, {RegionMap(frame).ids()}, {}});
  Strokes strokes(frame.size());
  strokes.Disc({20, 30}, 3, kBlack);
  strokes.Disc({80, 30}, 3, kCar);
  strokes.labels.at<cv::Vec3b>(5, 5) = kSky;  // not painted
  cv::Mat expected(frame.size(), CV_8UC3, cv::Scalar(kBlack));
  expected.colRange(50, 100).setTo(cv::Scalar(kCar));
  const LabelAssist::Completion completion = assist.Complete(strokes.labels, strokes.painted);
  EXPECT_EQ(cv::norm(completion.labels, expected, cv::NORM_INF), 0);
  EXPECT_GT(completion.confidence.at<uchar>(45, 5), 0);  // black from evidence, not for want of it
}

// Ten stripes of one grey, a label painted on a corner of each end stripe (too little of it for the stripes in
// between to take its label by their look): the stripes in the middle are a toss-up, the one next to a painted
// stripe nearly sure; nothing painted, nothing is.
TEST(CompletionConfidence, IsSureOfPaintLessSoBetweenTwoLabelsAndZeroWithoutEvidence) {
  const cv::Mat frame(20, 100, CV_8UC3, cv::Scalar(90, 90, 90));
  cv::Mat stripes(frame.size(), CV_32S);
  for (int x = 0; x < frame.cols; ++x) stripes.col(x).setTo(x / 10);
  LabelAssist assist({frame, {stripes}, {}});
  Strokes strokes(frame.size());
  const cv::Rect road(0, 0, 10, 5), car(90, 0, 10, 5);
  strokes.labels(road).setTo(cv::Scalar(kRoad));
  strokes.labels(car).setTo(cv::Scalar(kCar));
  strokes.painted(road).setTo(255);
  strokes.painted(car).setTo(255);
  const cv::Mat confidence = assist.Complete(strokes.labels, strokes.painted).confidence;
  ASSERT_EQ(confidence.type(), CV_8U);
  EXPECT_EQ(cv::countNonZero(confidence(road) == 255), road.area());
  EXPECT_GT(confidence.at<uchar>(10, 15), 150);  // beside the road stripe
  EXPECT_LT(confidence.at<uchar>(10, 45), 50);   // halfway
  const LabelAssist::Completion none = assist.Complete(strokes.labels, cv::Mat::zeros(frame.size(), CV_8U));
  EXPECT_EQ(cv::countNonZero(none.confidence), 0);
  EXPECT_EQ(cv::countNonZero(none.labels.reshape(1)), 0);
}

}  // namespace
}  // namespace labeler
