#include "preseg/pyramid_segmentation.h"

#include <gtest/gtest.h>

#include <map>
#include <opencv2/imgproc.hpp>

#include "support/checksum.h"

namespace labeler {
namespace {

cv::Mat Segment(const cv::Mat& image, int level, double t1, double t2) {
  cv::Mat out;
  PyramidSegment(image, out, level, t1, t2);
  return out;
}

std::map<std::array<uchar, 3>, int> ColourAreas(const cv::Mat& image) {
  std::map<std::array<uchar, 3>, int> areas;
  for (int y = 0; y < image.rows; ++y) {
    for (int x = 0; x < image.cols; ++x) {
      cv::Vec3b p = image.at<cv::Vec3b>(y, x);
      ++areas[{p[0], p[1], p[2]}];
    }
  }
  return areas;
}

cv::Mat AddUniformNoise(const cv::Mat& image, int low, int high, uint64_t seed) {
  cv::RNG rng(seed);
  cv::Mat noisy = image.clone();
  for (int y = 0; y < image.rows; ++y) {
    for (int x = 0; x < image.cols; ++x) {
      for (int c = 0; c < 3; ++c) {
        uchar& v = noisy.at<cv::Vec3b>(y, x)[c];
        v = cv::saturate_cast<uchar>(v + rng.uniform(low, high + 1));
      }
    }
  }
  return noisy;
}

TEST(PyramidSegmentation, UniformImageComesOutUnchanged) {
  cv::Mat image(48, 64, CV_8UC3, cv::Scalar(12, 140, 250));
  for (double t1 : {1.0, 25.0}) {
    EXPECT_EQ(cv::norm(Segment(image, 4, t1, 31), image, cv::NORM_INF), 0) << t1;
  }
}

TEST(PyramidSegmentation, TwoFlatHalvesStayApartOrMergeByThreshold2) {
  for (int split : {17, 32, 45}) {
    cv::Mat image(64, 64, CV_8UC3, cv::Scalar(100, 100, 100));
    image.colRange(split, 64).setTo(cv::Scalar(100, 140, 100));  // distance 40
    EXPECT_EQ(cv::norm(Segment(image, 4, 25, 39), image, cv::NORM_INF), 0) << split;
    cv::Mat merged = Segment(image, 4, 25, 41);
    auto areas = ColourAreas(merged);
    ASSERT_EQ(areas.size(), 1u) << split;
    double meanGreen = (100.0 * split + 140.0 * (64 - split)) / 64;
    EXPECT_NEAR(areas.begin()->first[1], meanGreen, 1.0) << split;
  }
}

TEST(PyramidSegmentation, PiecewiseConstantImageWithDistantColoursIsKept) {
  cv::Mat image(80, 96, CV_8UC3, cv::Scalar(10, 10, 10));
  cv::rectangle(image, cv::Rect(5, 7, 30, 20), cv::Scalar(80, 10, 10), cv::FILLED);
  cv::rectangle(image, cv::Rect(50, 40, 40, 30), cv::Scalar(10, 150, 220), cv::FILLED);
  cv::circle(image, cv::Point(30, 60), 12, cv::Scalar(200, 200, 60), cv::FILLED);
  EXPECT_EQ(cv::norm(Segment(image, 4, 30, 69), image, cv::NORM_INF), 0);
}

TEST(PyramidSegmentation, RegionMeansAndChannelPermutation) {
  cv::Mat clean(96, 128, CV_8UC3, cv::Scalar(40, 60, 80));
  cv::rectangle(clean, cv::Rect(20, 10, 50, 40), cv::Scalar(200, 50, 30), cv::FILLED);
  cv::circle(clean, cv::Point(90, 60), 25, cv::Scalar(30, 220, 120), cv::FILLED);
  cv::Mat image = AddUniformNoise(clean, -10, 10, 5);
  cv::Mat out = Segment(image, 4, 25, 31);
  // Each output colour is the rounded mean of the input pixels that carry it, within 1.
  std::map<std::array<uchar, 3>, std::pair<cv::Vec3d, int>> groups;
  for (int y = 0; y < out.rows; ++y) {
    for (int x = 0; x < out.cols; ++x) {
      cv::Vec3b o = out.at<cv::Vec3b>(y, x);
      auto& group = groups[{o[0], o[1], o[2]}];
      group.first += cv::Vec3d(image.at<cv::Vec3b>(y, x));
      ++group.second;
    }
  }
  for (auto& [colour, group] : groups) {
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(group.first[c] / group.second, colour[c], 1.0);
  }
  // Permuting the input channels permutes the output channels the same way.
  std::vector<int> order = {2, 0, 0, 1, 1, 2};
  cv::Mat permuted(image.size(), CV_8UC3), outPermuted(image.size(), CV_8UC3);
  cv::mixChannels(image, permuted, order);
  cv::mixChannels(out, outPermuted, order);
  EXPECT_EQ(cv::norm(Segment(permuted, 4, 25, 31), outPermuted, cv::NORM_INF), 0);
}

TEST(PyramidSegmentation, RegressionScenarioGivesThreeClustersOfKnownAreas) {
  cv::Mat clean(128, 128, CV_8UC3, cv::Scalar(30, 30, 30));
  cv::rectangle(clean, cv::Rect(33, 33, 11, 11), cv::Scalar(0, 0, 255), cv::FILLED);
  cv::rectangle(clean, cv::Rect(50, 50, 21, 21), cv::Scalar(0, 255, 0), cv::FILLED);
  for (uint64_t seed : {1u, 2u, 3u}) {
    cv::Mat out = Segment(AddUniformNoise(clean, -15, 14, seed), 5, 50, 50);
    std::vector<int> areas;
    for (auto& [colour, area] : ColourAreas(out)) areas.push_back(area);
    std::sort(areas.begin(), areas.end());
    EXPECT_EQ(areas, (std::vector<int>{121, 441, 15822})) << "seed " << seed;
    EXPECT_LE(cv::norm(out, clean, cv::NORM_INF), 10) << "seed " << seed;
  }
}

TEST(PyramidSegmentation, SizesNotDivisibleBySixteenArePaddedAndCropped) {
  cv::Mat clean(50, 70, CV_8UC3, cv::Scalar(20, 20, 20));
  cv::rectangle(clean, cv::Rect(60, 40, 10, 10), cv::Scalar(220, 220, 20), cv::FILLED);  // in the strips
  cv::Mat out = Segment(clean, 4, 25, 31);
  EXPECT_EQ(out.size(), clean.size());
  EXPECT_EQ(cv::norm(out, clean, cv::NORM_INF), 0);
  // A divisible size is unchanged by the padding: the top-left 64 x 48 of a padded call equals its own call.
  cv::Mat noisy = AddUniformNoise(cv::Mat(48, 64, CV_8UC3, cv::Scalar(90, 120, 150)), -20, 20, 9);
  cv::Mat direct = Segment(noisy, 4, 25, 31);
  cv::Mat again = Segment(noisy, 4, 25, 31);
  EXPECT_EQ(cv::norm(direct, again, cv::NORM_INF), 0);
  cv::Mat tiny(5, 3, CV_8UC3, cv::Scalar(1, 2, 3));
  EXPECT_EQ(cv::norm(Segment(tiny, 4, 1, 1), tiny, cv::NORM_INF), 0);
}

TEST(PyramidSegmentation, LowestThresholdsKeepEveryPixel) {
  cv::Mat noisy = AddUniformNoise(cv::Mat(32, 48, CV_8UC3, cv::Scalar(128, 128, 128)), -60, 60, 3);
  // threshold1 1 links only equal colours, threshold2 1 clusters only equal colours: nothing changes.
  EXPECT_EQ(cv::norm(Segment(noisy, 4, 1, 1), noisy, cv::NORM_INF), 0);
  // threshold2 0 leaves every component its own rounded value.
  EXPECT_EQ(cv::norm(Segment(noisy, 4, 0, 0), noisy, cv::NORM_INF), 0);
}

TEST(PyramidSegmentation, PinnedPictureOfANoisyScene) {
  cv::Mat clean(120, 160, CV_8UC3);
  for (int y = 0; y < clean.rows; ++y) {
    for (int x = 0; x < clean.cols; ++x) clean.at<cv::Vec3b>(y, x) = cv::Vec3b(x, y * 2, 255 - x);
  }
  cv::rectangle(clean, cv::Rect(30, 20, 60, 40), cv::Scalar(20, 200, 40), cv::FILLED);
  cv::circle(clean, cv::Point(120, 80), 30, cv::Scalar(250, 60, 90), cv::FILLED);
  cv::Mat noisy = AddUniformNoise(clean, -12, 12, 77);
  EXPECT_EQ(testing::Checksum(Segment(noisy, 4, 25, 31)), 12144000620427038313ull);
}

}  // namespace
}  // namespace labeler
