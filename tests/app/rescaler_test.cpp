// The rescaled picture computed a rectangle at a time must be, pixel for pixel, OpenCV's resize of the whole.
#include "app/rescaler.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

namespace labeler {
namespace {

cv::Mat Noise(cv::Size size, cv::RNG& rng) {
  cv::Mat image(size, CV_8UC3);
  rng.fill(image, cv::RNG::UNIFORM, 0, 256);
  return image;
}

// Frame sizes of real footage and of tests, enlarged, halved, copied and reduced, then random ones.
TEST(Rescaler, AnyRectangleEqualsTheWholeResize) {
  cv::RNG rng(3);
  std::vector<std::pair<cv::Size, cv::Size>> sizes = {
      {{3840, 2160}, {400, 225}}, {{1920, 1080}, {400, 225}}, {{640, 480}, {400, 300}}, {{160, 120}, {400, 300}},
      {{800, 600}, {400, 300}},   {{64, 48}, {64, 48}},       {{17, 13}, {400, 306}},   {{1, 1}, {3, 2}}};
  for (int i = 0; i < 150; ++i) {
    sizes.push_back({{rng.uniform(1, 300), rng.uniform(1, 300)}, {rng.uniform(1, 300), rng.uniform(1, 300)}});
  }
  for (const auto& [from, to] : sizes) {
    const cv::Mat source = Noise(from, rng);
    cv::Mat expected;
    cv::resize(source, expected, to, 0, 0, cv::INTER_LINEAR);
    const Rescaler rescaler(from, to);
    cv::Mat whole(to, CV_8UC3, cv::Scalar::all(7));
    rescaler.Rescale(source, whole, cv::Rect(cv::Point(), to));
    ASSERT_EQ(cv::norm(whole, expected, cv::NORM_INF), 0) << from << " to " << to;
    cv::Mat part = expected.clone();
    const cv::Rect rect(rng.uniform(0, to.width), rng.uniform(0, to.height), 0, 0);
    const cv::Rect clipped =
        cv::Rect(rect.x, rect.y, rng.uniform(1, to.width - rect.x + 1), rng.uniform(1, to.height - rect.y + 1));
    part(clipped).setTo(cv::Scalar::all(1));
    rescaler.Rescale(source, part, clipped);
    ASSERT_EQ(cv::norm(part, expected, cv::NORM_INF), 0) << from << " to " << to << " in " << clipped;
  }
}

// A change of the source inside a rectangle changes the resize only inside TargetRectOf that rectangle, and a
// change where no target pixel reads changes nothing.
TEST(Rescaler, TargetRectAndReadPositionsCoverEveryChange) {
  cv::RNG rng(4);
  for (const auto& [from, to] : std::vector<std::pair<cv::Size, cv::Size>>{
           {{640, 480}, {400, 300}}, {{120, 90}, {75, 56}}, {{48, 36}, {100, 75}}, {{96, 72}, {48, 36}}}) {
    const cv::Mat source = Noise(from, rng);
    const Rescaler rescaler(from, to);
    cv::Mat before;
    cv::resize(source, before, to, 0, 0, cv::INTER_LINEAR);
    for (int trial = 0; trial < 30; ++trial) {
      const cv::Rect rect(rng.uniform(0, from.width), rng.uniform(0, from.height), rng.uniform(1, 25),
                          rng.uniform(1, 25));
      cv::Mat changed = source.clone();
      changed(rect & cv::Rect(cv::Point(), from)) = Noise((rect & cv::Rect(cv::Point(), from)).size(), rng);
      cv::Mat after;
      cv::resize(changed, after, to, 0, 0, cv::INTER_LINEAR);
      cv::Mat outside = after != before;
      cv::Mat differs;
      cv::cvtColor(outside, differs, cv::COLOR_BGR2GRAY);
      differs(rescaler.TargetRectOf(rect)).setTo(0);
      EXPECT_EQ(cv::countNonZero(differs), 0) << from << " to " << to << " " << rect;
    }
    cv::Mat unread = source.clone();
    const std::vector<int>& columns = rescaler.sourceColumns();
    const std::vector<int>& rows = rescaler.sourceRows();
    for (int y = 0; y < from.height; ++y) {
      for (int x = 0; x < from.width; ++x) {
        if (!std::binary_search(rows.begin(), rows.end(), y) || !std::binary_search(columns.begin(), columns.end(), x)) {
          unread.at<cv::Vec3b>(y, x) = cv::Vec3b(255, 0, 255);
        }
      }
    }
    cv::Mat after;
    cv::resize(unread, after, to, 0, 0, cv::INTER_LINEAR);
    EXPECT_EQ(cv::norm(after, before, cv::NORM_INF), 0) << from << " to " << to;
  }
}

}  // namespace
}  // namespace labeler
