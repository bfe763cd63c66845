#include "preseg/preseg_engine.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <stop_token>

#include "common/cancellation.h"

namespace labeler {
namespace {

class PresegEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_ = cv::Mat(48, 64, CV_8UC3, cv::Scalar(40, 40, 40));
    cv::rectangle(frame_, cv::Rect(10, 10, 30, 20), cv::Scalar(200, 30, 30), cv::FILLED);
    engine_.CreatePresegImages(frame_.size());
  }

  // Updates for `setting` on frame number `frameNumber`; returns what was printed.
  std::string Update(int setting, int frameNumber = 0, int force = 0) {
    engine_.currentPreseg().algorithm = setting;
    ::testing::internal::CaptureStdout();
    engine_.UpdatePresegmentation(frame_, frameNumber, force);
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
  }

  cv::Mat frame_;
  PresegEngine engine_;
};

TEST_F(PresegEngineTest, StartValuesAndSettingZero) {
  const PresegParams& params = engine_.currentPreseg();
  EXPECT_EQ(params.algorithm, 0);
  EXPECT_EQ(params.pyrSeg1, 24);
  EXPECT_EQ(params.pyrSeg2, 30);
  EXPECT_EQ(params.sigma, -1.0f);
  EXPECT_EQ(Update(0), "");
  EXPECT_EQ(engine_.presegColour().data, frame_.data);  // the frame itself, not a copy
  EXPECT_EQ(cv::countNonZero(engine_.presegEdges()), 0);
}

TEST_F(PresegEngineTest, EachSettingIsComputedOncePerFrame) {
  EXPECT_EQ(Update(3).find("\t\t Caching segmentation #2\n\n\nOriginal Colors: "), 0u);
  EXPECT_EQ(Update(3), "");
  EXPECT_EQ(Update(5).find("\t\t Caching segmentation #4\nprocessing\ngot "), 0u);
  EXPECT_EQ(Update(5), "");
  EXPECT_EQ(Update(1), "Refreshing Preseg \n ");
  EXPECT_EQ(Update(1), "");
  EXPECT_EQ(engine_.slotParams(2).slotTag, 2);
  engine_.InvalidatePresegCache();
  for (int slot = 0; slot < PresegEngine::kSlotCount; ++slot) EXPECT_EQ(engine_.slotParams(slot).slotTag, -1);
  EXPECT_EQ(Update(3).find("\t\t Caching segmentation #2\n"), 0u);
}

TEST_F(PresegEngineTest, PyramidStepSkipsOnTheSameFrameAndThresholdsUnlessForced) {
  EXPECT_EQ(Update(1, 7), "Refreshing Preseg \n ");
  engine_.currentPreseg().pyrSeg1 = 40;
  // The pyramid step holds frame 7, but at other thresholds: it computes what is asked for.
  EXPECT_EQ(Update(1, 7), "Refreshing Preseg \n ");
  EXPECT_EQ(engine_.slotParams(0).pyrSeg1, 40);
  engine_.currentPreseg().pyrSeg2 = 50;
  EXPECT_EQ(Update(1, 7, 1), "Refreshing Preseg \n ");
  engine_.InvalidatePresegCache();
  EXPECT_EQ(Update(1, 7), "");  // an emptied slot over the same frame number computes nothing
  EXPECT_EQ(Update(1, 8), "");  // the slot is valid again
  engine_.InvalidatePresegCache();
  EXPECT_EQ(Update(1, 8), "Refreshing Preseg \n ");
}

TEST_F(PresegEngineTest, EdgeImagesMarkBoundaries) {
  Update(1);
  // The pyramid edges are the positive Laplacian of the segmented picture: zero inside flat regions.
  EXPECT_EQ(engine_.presegEdges().at<uchar>(20, 25), 0);
  EXPECT_EQ(engine_.presegEdges().at<uchar>(40, 55), 0);
  EXPECT_GT(cv::countNonZero(engine_.presegEdges()), 0);
  Update(5);
  // Settings 2 to 5 leave 255 on boundaries (the frame border included) and 0 inside regions.
  EXPECT_EQ(engine_.presegEdges().at<uchar>(0, 0), 255);
  EXPECT_EQ(engine_.presegEdges().at<uchar>(20, 25), 0);
  EXPECT_EQ(engine_.presegEdges().at<uchar>(10, 20), 255);
}

// A noisy frame, whose regions meet the frame border everywhere: the Laplacian repeats the outermost pixels beyond it.
TEST_F(PresegEngineTest, PyramidEdgesRepeatTheBorderPixels) {
  frame_.create(120, 160, CV_8UC3);
  cv::RNG(7).fill(frame_, cv::RNG::UNIFORM, 0, 256);
  engine_.CreatePresegImages(frame_.size());
  Update(1);
  cv::Mat grey, laplacian, expected, reflected;
  cv::cvtColor(engine_.presegColour(), grey, cv::COLOR_RGB2GRAY);
  grey.convertTo(grey, CV_32F);
  cv::Laplacian(grey, laplacian, CV_32F, 3, 1, 0, cv::BORDER_REPLICATE);
  laplacian.convertTo(expected, CV_8U, 100);
  EXPECT_EQ(cv::norm(engine_.presegEdges(), expected, cv::NORM_INF), 0);
  cv::Laplacian(grey, laplacian, CV_32F, 3);
  laplacian.convertTo(reflected, CV_8U, 100);
  EXPECT_GT(cv::norm(reflected, expected, cv::NORM_L1), 0) << "the frame's border does not matter here";
}

// A segmentation told to stop throws at its first stage, draws nothing from the sequence, and leaves the engine's
// working storage fit for the next one: the result after it is what a fresh engine makes.
TEST_F(PresegEngineTest, AStoppedSegmentationThrowsAndTheNextOneIsUnharmed) {
  frame_.create(120, 160, CV_8UC3);
  cv::RNG(11).fill(frame_, cv::RNG::UNIFORM, 0, 256);
  std::stop_source stopped;
  stopped.request_stop();
  for (int setting = 1; setting <= 5; ++setting) {
    SCOPED_TRACE(setting);
    PresegParams params;
    params.algorithm = setting;
    Random random;
    random.Seed(5);
    EXPECT_THROW(engine_.Segment(frame_, params, random, stopped.get_token()), Cancelled);
    EXPECT_EQ(random.state(), 5u);
    const PreparedSegmentation after = engine_.Segment(frame_, params, random, std::stop_source().get_token());
    random.Seed(5);
    const PreparedSegmentation fresh = PresegEngine().Segment(frame_, params, random);
    EXPECT_EQ(cv::norm(after.colour, fresh.colour, cv::NORM_INF), 0);
    EXPECT_EQ(after.report, fresh.report);
  }
}

}  // namespace
}  // namespace labeler
