#include "annotation/unsure_areas.h"

#include <opencv2/imgproc.hpp>

namespace labeler {

cv::Mat UnsurePixels(const cv::Mat& confidence, const cv::Mat& painted) {
  cv::Mat unsure = cv::Mat::zeros(painted.size(), CV_8UC1);
  if (confidence.size() != painted.size()) return unsure;
  unsure.setTo(255, (confidence < kUnsureBelow) & (painted == 0));
  return unsure;
}

cv::Mat OutlineOf(const cv::Mat& unsure) {
  cv::Mat inner;
  cv::erode(unsure, inner, cv::getStructuringElement(cv::MORPH_CROSS, {3, 3}), {-1, -1}, 1, cv::BORDER_CONSTANT,
            cv::Scalar(0));
  return unsure & ~inner;
}

std::optional<cv::Point> LargestUnsureArea(const cv::Mat& unsure, const cv::Mat& painted) {
  cv::Mat areas, stats, centroids;
  const int count = cv::connectedComponentsWithStats(unsure & (painted == 0), areas, stats, centroids, 8, CV_32S);
  int largest = 0;
  for (int area = 1; area < count; ++area) {
    if (largest == 0 || stats.at<int>(area, cv::CC_STAT_AREA) > stats.at<int>(largest, cv::CC_STAT_AREA)) {
      largest = area;
    }
  }
  if (largest == 0) return std::nullopt;
  const cv::Point2d middle(centroids.at<double>(largest, 0), centroids.at<double>(largest, 1));
  std::optional<cv::Point> nearest;
  double nearestDistance = 0;
  for (int y = 0; y < areas.rows; ++y) {
    const int* area = areas.ptr<int>(y);
    for (int x = 0; x < areas.cols; ++x) {
      if (area[x] != largest) continue;
      const double distance = (x - middle.x) * (x - middle.x) + (y - middle.y) * (y - middle.y);
      if (!nearest || distance < nearestDistance) {
        nearest = cv::Point(x, y);
        nearestDistance = distance;
      }
    }
  }
  return nearest;
}

}  // namespace labeler
