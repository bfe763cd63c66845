// Where a completion is unsure: the unpainted pixels of low confidence, their outline, and the largest area the
// jump key brings under the pointer.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "annotation/unsure_areas.h"

namespace labeler {
namespace {

TEST(UnsureAreas, LowConfidenceUnpaintedPixelsAreOutlinedAndTheLargestAreaIsFound) {
  cv::Mat confidence(40, 60, CV_8UC1, cv::Scalar(255));
  confidence(cv::Rect(5, 5, 4, 4)).setTo(kUnsureBelow - 1);  // small
  confidence(cv::Rect(20, 10, 30, 20)).setTo(10);            // large, half painted over
  confidence(cv::Rect(0, 35, 10, 5)).setTo(kUnsureBelow);    // sure enough
  cv::Mat painted = cv::Mat::zeros(confidence.size(), CV_8UC1);
  painted(cv::Rect(20, 10, 15, 20)).setTo(255);
  const cv::Mat unsure = UnsurePixels(confidence, painted);
  EXPECT_EQ(cv::countNonZero(unsure), 16 + 15 * 20);
  const cv::Mat outline = OutlineOf(unsure);
  EXPECT_EQ(outline.at<uchar>(5, 5), 255);
  EXPECT_EQ(outline.at<uchar>(6, 6), 0);  // inside
  EXPECT_EQ(cv::countNonZero(outline(cv::Rect(5, 5, 4, 4))), 12);
  const std::optional<cv::Point> largest = LargestUnsureArea(unsure, painted);
  ASSERT_TRUE(largest.has_value());
  EXPECT_TRUE(cv::Rect(35, 10, 15, 20).contains(*largest)) << *largest;
  painted(cv::Rect(35, 10, 15, 20)).setTo(255);  // painted over since: the small one is left
  EXPECT_TRUE(cv::Rect(5, 5, 4, 4).contains(*LargestUnsureArea(unsure, painted)));
  painted.setTo(255);
  EXPECT_FALSE(LargestUnsureArea(unsure, painted).has_value());
  EXPECT_EQ(cv::countNonZero(UnsurePixels(cv::Mat(), painted)), 0);
}

}  // namespace
}  // namespace labeler
