// What the annotator painted by hand is remembered beside the label image, so that on coming back to a frame the
// rest is completed afresh, and a black label is a label like any other.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "annotation/painted_record.h"
#include "support/painting_session.h"

namespace labeler {
namespace {

using testing::CountColour;
using testing::kCarBgr;
using testing::kRoadBgr;
using testing::PaintingSession;

const cv::Rect kBox(10, 10, 30, 20);  // the blue box of every frame of the session

// Frame 0 is saved completed from one road stroke: all road, the box included. Coming back, one car stroke in
// the box re-flows the box to car, as labeler-tool assist completes both strokes; passing through frame 1 on
// the way writes nothing.
TEST(PaintedRecord, ARevisitedFrameReflowsFromItsPaintedPixelsAsTheToolDoes) {
  PaintingSession s;
  cv::Mat firstVisit;
  s.windows.Key('a');
  s.Click({50, 40});
  s.windows.Key(' ');
  s.windows.Key(' ');
  s.windows.Key(ui::kKeyBackspace);
  s.windows.Key(ui::kKeyBackspace);
  s.windows.Do([&] { firstVisit = s.Stored(0); });
  s.windows.Key('2');
  s.Click({25, 20});
  s.windows.Key(' ');
  ASSERT_EQ(s.Run(), 0);
  ASSERT_FALSE(firstVisit.empty());
  EXPECT_EQ(CountColour(firstVisit, kRoadBgr), 64 * 48);
  EXPECT_FALSE(std::filesystem::exists(s.LabelFile(1)));
  EXPECT_FALSE(std::filesystem::exists(s.LabelFile(2)));
  const cv::Mat revisited = s.Stored(0);
  EXPECT_EQ(CountColour(revisited(kBox), kCarBgr), kBox.area());

  cv::Mat strokes = cv::Mat::zeros(48, 64, CV_8UC3);
  cv::circle(strokes, {50, 40}, 10, cv::Scalar(kRoadBgr), cv::FILLED, cv::LINE_8);
  cv::circle(strokes, {25, 20}, 10, cv::Scalar(kCarBgr), cv::FILLED, cv::LINE_8);
  const std::string painted = s.dir.File("painted.png");
  const std::string out = s.dir.File("out.png");
  cv::imwrite(painted, strokes);
  std::filesystem::remove(s.LabelFile(0));
  const std::string command = std::string(LABELER_TOOL) + " assist --meta " + s.meta + " --frame 0 --strokes " +
                              painted + " --out " + out + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(cv::norm(cv::imread(out, cv::IMREAD_COLOR), revisited, cv::NORM_INF), 0);
}

// A stroke of a black label is painted, not completed over: it stays black on screen, in the file and in the
// record, and the frame counts it as painted when it is loaded again. A record whose label image was replaced
// since is no record.
TEST(PaintedRecord, ABlackLabelIsPaintedKeptAndRecorded) {
  PaintingSession s;
  s.dir.Write("labels.txt", "= 1 road 128 64 128\n= 2 car 0 0 142\n= 3 void 0 0 0\n");
  s.windows.Key('a');
  s.Click({50, 40});
  s.windows.Key('3');
  s.Click({25, 20});
  s.windows.Key(' ');
  ASSERT_EQ(s.Run(), 0);
  const cv::Mat stored = s.Stored(0);
  cv::Mat disc = cv::Mat::zeros(48, 64, CV_8UC1);
  cv::circle(disc, {25, 20}, 10, cv::Scalar(255), cv::FILLED, cv::LINE_8);
  cv::Mat voidArea = disc.clone();
  voidArea(kBox).setTo(255);  // the box is completed from the black stroke in it
  EXPECT_EQ(CountColour(stored, cv::Vec3b(0, 0, 0)), cv::countNonZero(voidArea));
  EXPECT_EQ(stored.at<cv::Vec3b>(20, 25), cv::Vec3b(0, 0, 0));
  const cv::Mat painted = PaintedPixels(s.LabelDir(), 0, stored);
  EXPECT_EQ(cv::countNonZero(painted & disc), cv::countNonZero(disc));
  EXPECT_EQ(painted.at<uchar>(5, 60), 0);  // completed road
  cv::Mat replaced = stored.clone();
  replaced.at<cv::Vec3b>(5, 60) = kCarBgr;
  EXPECT_EQ(cv::norm(PaintedPixels(s.LabelDir(), 0, replaced), NonBlackPixels(replaced), cv::NORM_INF), 0);
}

}  // namespace
}  // namespace labeler
