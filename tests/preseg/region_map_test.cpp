// The region map must give, for every pixel, exactly the region a flood of equal colours (8-connected) finds.
#include "preseg/region_map.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "annotation/region_fill.h"

namespace labeler {
namespace {

TEST(RegionMap, RegionsAreExactlyTheEightConnectedFloods) {
  cv::RNG rng(9);
  for (const cv::Size size : {cv::Size(1, 1), cv::Size(7, 1), cv::Size(1, 9), cv::Size(23, 17), cv::Size(64, 48)}) {
    // Few colours, so that regions wind, touch diagonally and enclose one another.
    cv::Mat small(std::max(1, size.height / 3), std::max(1, size.width / 3), CV_8UC3);
    rng.fill(small, cv::RNG::UNIFORM, 0, 3);
    cv::Mat picture;
    cv::resize(small * 80, picture, size, 0, 0, cv::INTER_NEAREST);
    for (int i = 0; i < size.area() / 5; ++i) {
      picture.at<cv::Vec3b>(rng.uniform(0, size.height), rng.uniform(0, size.width)) = cv::Vec3b(80, 80, 80);
    }
    const RegionMap map(picture);
    int previousFirst = -1;
    for (int region = 0; region < map.regionCount(); ++region) {
      const std::span<const int> pixels = map.Pixels(region);
      ASSERT_FALSE(pixels.empty());
      EXPECT_GT(pixels.front(), previousFirst) << "regions are numbered by their first pixel";
      previousFirst = pixels.front();
      cv::Mat mask = cv::Mat::zeros(size, CV_8UC1);
      std::vector<int> flooded;
      std::vector<int> stack;
      FillEqualColourRegion(picture, pixels.front() % size.width, pixels.front() / size.width, mask, flooded, stack);
      std::sort(flooded.begin(), flooded.end());
      ASSERT_TRUE(std::equal(pixels.begin(), pixels.end(), flooded.begin(), flooded.end())) << size;
      cv::Rect bounds = cv::boundingRect(mask);
      EXPECT_EQ(map.Bounds(region), bounds);
      for (int pixel : pixels) ASSERT_EQ(map.RegionAt(pixel % size.width, pixel / size.width), region);
    }
  }
}

}  // namespace
}  // namespace labeler
