#include "meanshift/mean_shift.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <opencv2/imgproc.hpp>
#include <set>

#include "bench/bench_support.h"
#include "support/checksum.h"

namespace labeler {
namespace {

struct Result {
  cv::Mat colour, edges;
  std::string printed, marks;
};

Result Segment(const cv::Mat& frame, int mode) {
  Result run;
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  MeanShiftSegment(frame, run.colour, run.edges, mode);
  std::fflush(stdout);
  run.marks = ::testing::internal::GetCapturedStderr();
  run.printed = ::testing::internal::GetCapturedStdout();
  return run;
}

int DistinctColours(const cv::Mat& image) {
  std::set<int> colours;
  for (int y = 0; y < image.rows; ++y) {
    for (int x = 0; x < image.cols; ++x) {
      const cv::Vec3b p = image.at<cv::Vec3b>(y, x);
      colours.insert(p[0] << 16 | p[1] << 8 | p[2]);
    }
  }
  return static_cast<int>(colours.size());
}

TEST(MeanShiftColours, LuvConversionsBothWays) {
  EXPECT_EQ(LuvToRgb(100, 0, 0), (std::array<int, 3>{254, 255, 255}));
  EXPECT_EQ(LuvToRgb(50, 0, 0), (std::array<int, 3>{46, 46, 46}));
  EXPECT_EQ(LuvToRgb(0.09f, 40, -20), (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(ColourToLuv(255, 255, 255), (std::array<int, 3>{100, 0, 0}));
  EXPECT_EQ(ColourToLuv(0, 0, 0), (std::array<int, 3>{0, 0, 0}));
}

TEST(MeanShiftColours, SmallestClusterOfEachMode) {
  EXPECT_EQ(MinClusterSize(320 * 240, 0), 69);
  EXPECT_EQ(MinClusterSize(320 * 240, 1), 138);
  EXPECT_EQ(MinClusterSize(320 * 240, 2), 400);
}

TEST(MeanShift, UniformFrameFindsNoCluster) {
  cv::Mat frame(30, 40, CV_8UC3, cv::Scalar(90, 120, 200));
  cv::Mat border(30, 40, CV_8UC1, cv::Scalar(0));
  border(cv::Rect(1, 1, 38, 28)).setTo(255);
  for (int mode = 0; mode < 3; ++mode) {
    Result run = Segment(frame, mode);
    EXPECT_EQ(cv::countNonZero(run.colour.reshape(1)), 0) << mode;
    EXPECT_EQ(cv::norm(run.edges, border, cv::NORM_INF), 0) << mode;
    EXPECT_EQ(run.printed, "\n\nOriginal Colors: 1\nSegment. Colors: 0\n") << mode;
    // start, colour table, conversion, radius, one search, pruning, assignment, and four merging passes
    EXPECT_EQ(run.marks, std::string(mode == 0 ? 7 : 11, ':')) << mode;
  }
}

TEST(MeanShift, ColoursSharingACoarseBinAreToldApart) {
  cv::Mat frame(20, 30, CV_8UC3, cv::Scalar(10, 20, 0));
  frame.colRange(10, 20).setTo(cv::Scalar(10, 20, 5));
  frame.colRange(20, 30).setTo(cv::Scalar(10, 20, 63));
  EXPECT_NE(Segment(frame, 0).printed.find("Original Colors: 3\n"), std::string::npos);
}

// Two flat halves of clearly different colours, with noise so that the radius is not 0.
cv::Mat SplitFrame(cv::Size size, int split) {
  cv::Mat frame(size, CV_8UC3, cv::Scalar(200, 40, 30));
  frame.colRange(split, size.width).setTo(cv::Scalar(30, 160, 220));
  return frame;
}

TEST(MeanShift, BoundaryOfALeftRightSplitIsOnePixelWide) {
  Result run = Segment(SplitFrame({60, 40}, 30), 0);
  ASSERT_EQ(DistinctColours(run.colour), 2);
  for (int y = 1; y < 39; ++y) {
    int zeros = 0;
    for (int x = 1; x < 59; ++x) zeros += run.edges.at<uchar>(y, x) == 0;
    EXPECT_EQ(zeros, 1) << y;
    EXPECT_TRUE(run.edges.at<uchar>(y, 29) == 0 || run.edges.at<uchar>(y, 30) == 0) << y;
  }
}

TEST(MeanShift, LonePixelStaysInModeZeroAndIsAbsorbedWithMerging) {
  cv::Mat frame = SplitFrame({60, 40}, 30);
  frame.at<cv::Vec3b>(20, 45) = cv::Vec3b(200, 40, 30);  // a pixel of the left colour inside the right half
  Result plain = Segment(frame, 0);
  EXPECT_EQ(plain.colour.at<cv::Vec3b>(20, 45), plain.colour.at<cv::Vec3b>(20, 10));
  for (int mode : {1, 2}) {
    Result merged = Segment(frame, mode);
    EXPECT_EQ(merged.colour.at<cv::Vec3b>(20, 45), merged.colour.at<cv::Vec3b>(20, 50)) << mode;
  }
}

TEST(MeanShift, TinyFramesEndWithoutLooping) {
  for (cv::Size size : {cv::Size(1, 1), cv::Size(2, 3), cv::Size(7, 1)}) {
    cv::Mat frame(size, CV_8UC3);
    cv::randu(frame, 0, 255);
    for (int mode = 0; mode < 3; ++mode) {
      Result run = Segment(frame, mode);
      EXPECT_EQ(run.colour.size(), size);
      EXPECT_EQ(cv::countNonZero(run.edges), 0);  // every pixel is on the border
    }
  }
}

TEST(MeanShift, RunsAreRepeatableAndPinned) {
  cv::Mat frame = bench::RealisticFrame({160, 120});
  const uint64_t expected[3][2] = {{12374636512599514260ull, 155829873811537104ull},
                                   {10311747907607723767ull, 17776321755237182490ull},
                                   {16259328630685106673ull, 16421404558076668811ull}};
  for (int mode = 0; mode < 3; ++mode) {
    Result first = Segment(frame, mode);
    Result second = Segment(frame, mode);
    EXPECT_EQ(cv::norm(first.colour, second.colour, cv::NORM_INF), 0);
    EXPECT_EQ(testing::Checksum(first.colour), expected[mode][0]) << mode;
    EXPECT_EQ(testing::Checksum(first.edges), expected[mode][1]) << mode;
  }
}

TEST(MeanShift, AKeptSegmenterGivesTheSamePicturesAsAFreshOne) {
  cv::Mat first = bench::RealisticFrame({160, 120});
  cv::Mat other = bench::RealisticFrame({96, 64});
  MeanShiftSegmenter kept;
  cv::Mat colour, edges;
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  for (int mode : {2, 0, 1}) {
    kept.Segment(first, colour, edges, mode);
    kept.Segment(other, colour, edges, (mode + 1) % 3);
    kept.Segment(first, colour, edges, mode);
    cv::Mat freshColour, freshEdges;
    MeanShiftSegment(first, freshColour, freshEdges, mode);
    EXPECT_EQ(cv::norm(colour, freshColour, cv::NORM_INF), 0) << mode;
    EXPECT_EQ(cv::norm(edges, freshEdges, cv::NORM_INF), 0) << mode;
  }
  ::testing::internal::GetCapturedStderr();
  ::testing::internal::GetCapturedStdout();
}

}  // namespace
}  // namespace labeler
