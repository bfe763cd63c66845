#include "preseg/graph_segmentation.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <set>

#include "common/random.h"
#include "support/checksum.h"

namespace labeler {
namespace {

struct GraphResult {
  cv::Mat colour, edges;
  int count;
  std::string printed;
};

GraphResult Segment(const cv::Mat& frame, float sigma = -1, float k = -1, int minSize = -1) {
  GraphResult result;
  ::testing::internal::CaptureStdout();
  result.count = GraphSegment(frame, result.colour, result.edges, sigma, k, minSize);
  std::fflush(stdout);
  result.printed = ::testing::internal::GetCapturedStdout();
  return result;
}

int DistinctColours(const cv::Mat& colour) {
  std::set<int> colours;
  for (int y = 0; y < colour.rows; ++y) {
    for (int x = 0; x < colour.cols; ++x) {
      cv::Vec3b p = colour.at<cv::Vec3b>(y, x);
      colours.insert(p[0] << 16 | p[1] << 8 | p[2]);
    }
  }
  return static_cast<int>(colours.size());
}

TEST(GraphSegmentation, UniformFrameIsOneComponentBoundedByTheBorder) {
  GraphResult r = Segment(cv::Mat(30, 40, CV_8UC3, cv::Scalar(9, 99, 199)));
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.printed, "processing\ngot 1 components\n");
  EXPECT_EQ(DistinctColours(r.colour), 1);
  cv::Mat expected(30, 40, CV_8UC1, cv::Scalar(0));
  expected(cv::Rect(1, 1, 38, 28)).setTo(255);
  EXPECT_EQ(cv::norm(r.edges, expected, cv::NORM_INF), 0);
}

TEST(GraphSegmentation, TwoFlatHalvesHaveBoundariesOnlyNearTheSplit) {
  cv::Mat frame(40, 60, CV_8UC3, cv::Scalar(20, 20, 20));
  frame.colRange(30, 60).setTo(cv::Scalar(230, 230, 230));
  GraphResult r = Segment(frame);
  EXPECT_GE(r.count, 2);  // the two halves, and the smoothed strip between them
  for (int y = 1; y < 39; ++y) {
    for (int x = 1; x < 59; ++x) {
      bool nearSplit = x >= 27 && x <= 32;
      if (!nearSplit) {
        EXPECT_EQ(r.edges.at<uchar>(y, x), 255) << x << "," << y;
      }
    }
    EXPECT_EQ(r.edges.at<uchar>(y, 29), 0);
    EXPECT_EQ(r.edges.at<uchar>(y, 30), 0);
  }
}

TEST(GraphSegmentation, SmallIsolatedRegionIsAbsorbed) {
  cv::Mat frame(40, 40, CV_8UC3, cv::Scalar(50, 50, 50));
  frame(cv::Rect(18, 18, 3, 3)).setTo(cv::Scalar(250, 250, 250));  // 9 pixels, far from the rest
  EXPECT_EQ(Segment(frame).count, 1);
  // Explicit values are used as given: smaller minimum sizes and merge constants keep more components.
  EXPECT_GT(Segment(frame, -1, -1, 5).count, 1);
  EXPECT_GT(Segment(frame, -1, 1.0f, 1).count, Segment(frame, -1, -1, 5).count);
}

TEST(GraphSegmentation, GaussianMasks) {
  std::vector<float> mask = MakeGaussianMask(0.5f);
  NormaliseMask(mask);
  ASSERT_EQ(mask.size(), 3u);
  EXPECT_NEAR(mask[0], 0.786571, 1e-6);
  EXPECT_NEAR(mask[1], 0.106451, 1e-6);
  EXPECT_NEAR(mask[2], 0.000264, 1e-6);
  std::vector<float> tiny = MakeGaussianMask(0.001f);
  NormaliseMask(tiny);
  ASSERT_EQ(tiny.size(), 2u);
  EXPECT_EQ(tiny[0], 1.0f);
  EXPECT_EQ(tiny[1], 0.0f);
}

TEST(GraphSegmentation, FramesUnderThreePixelsGetBorderOnlyBoundaries) {
  for (cv::Size size : {cv::Size(1, 1), cv::Size(2, 7), cv::Size(9, 2), cv::Size(1, 5)}) {
    GraphResult r = Segment(cv::Mat(size, CV_8UC3, cv::Scalar(1, 2, 3)));
    EXPECT_EQ(cv::countNonZero(r.edges), 0) << size;
    EXPECT_EQ(r.count, 1);
  }
}

TEST(GraphSegmentation, ConsumesThreeDrawsPerPixel) {
  Random::Shared().Seed(1234);
  Segment(cv::Mat(7, 11, CV_8UC3, cv::Scalar(5, 5, 5)));
  Random reference;
  reference.Seed(1234);
  for (int i = 0; i < 3 * 7 * 11; ++i) reference.Next();
  EXPECT_EQ(Random::Shared().Next(), reference.Next());
}

TEST(GraphSegmentation, PinnedPictures) {
  cv::Mat frame(90, 120, CV_8UC3);
  cv::RNG rng(11);
  rng.fill(frame, cv::RNG::UNIFORM, 0, 40);
  cv::rectangle(frame, cv::Rect(10, 10, 50, 30), cv::Scalar(200, 80, 20), cv::FILLED);
  cv::circle(frame, cv::Point(80, 55), 25, cv::Scalar(30, 180, 240), cv::FILLED);
  Random::Shared().Seed(1);
  GraphResult r = Segment(frame);
  EXPECT_EQ(testing::Checksum(r.colour), 18442468766505571842ull);
  EXPECT_EQ(testing::Checksum(r.edges), 15790096111670699147ull);
  // Large enough for the sort to split its work: equal weights still come in the order the edges were built.
  cv::Mat large;
  cv::resize(frame, large, cv::Size(360, 270), 0, 0, cv::INTER_CUBIC);
  Random::Shared().Seed(1);
  GraphResult l = Segment(large);
  EXPECT_EQ(testing::Checksum(l.colour), 5703436042736769298ull);
  EXPECT_EQ(testing::Checksum(l.edges), 5563214829576851325ull);
}

}  // namespace
}  // namespace labeler
