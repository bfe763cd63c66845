#include "propagation/label_carrier.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace labeler {

LabelCarrier::LabelCarrier() : flow_(cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_MEDIUM)) {}

cv::Mat LabelCarrier::Flow(const cv::Mat& toGrey, const cv::Mat& fromGrey, double largestArea) {
  return ExpandFlow(ReducedFlow(toGrey, fromGrey, largestArea), toGrey.size());
}

cv::Mat LabelCarrier::ReducedFlow(const cv::Mat& toGrey, const cv::Mat& fromGrey, double largestArea) {
  const double scale = std::sqrt(largestArea / static_cast<double>(toGrey.total()));
  if (scale >= 1) return FullSizeFlow(toGrey, fromGrey);
  const cv::Size reduced(std::max(kSmallestCarriedSide, static_cast<int>(std::lround(toGrey.cols * scale))),
                         std::max(kSmallestCarriedSide, static_cast<int>(std::lround(toGrey.rows * scale))));
  cv::Mat smallTo, smallFrom;
  cv::resize(toGrey, smallTo, reduced, 0, 0, cv::INTER_AREA);
  cv::resize(fromGrey, smallFrom, reduced, 0, 0, cv::INTER_AREA);
  return FullSizeFlow(smallTo, smallFrom);
}

cv::Mat LabelCarrier::ExpandFlow(const cv::Mat& reduced, cv::Size frameSize) {
  if (reduced.size() == frameSize) return reduced;
  cv::Mat flow;
  cv::resize(reduced, flow, frameSize, 0, 0, cv::INTER_LINEAR);
  cv::multiply(flow, cv::Scalar(static_cast<double>(frameSize.width) / reduced.cols,
                                static_cast<double>(frameSize.height) / reduced.rows), flow);
  return flow;
}

cv::Mat LabelCarrier::FullSizeFlow(const cv::Mat& toGrey, const cv::Mat& fromGrey) {
  if (!CanCarry(toGrey.size())) {
    throw std::invalid_argument("frames of " + std::to_string(toGrey.cols) + " x " + std::to_string(toGrey.rows) +
                                " pixels are too small to carry labels between (at least " +
                                std::to_string(kSmallestCarriedSide) + " x " + std::to_string(kSmallestCarriedSide) +
                                " needed)");
  }
  cv::Mat flow;
  flow_->calc(toGrey, fromGrey, flow);
  return flow;
}

cv::Mat CarryLabels(const cv::Mat& labels, const cv::Mat& flow) {
  CV_Assert(labels.type() == CV_8UC3 && flow.type() == CV_32FC2 && labels.size() == flow.size());
  cv::Mat carried = cv::Mat::zeros(labels.size(), CV_8UC3);
  for (int y = 0; y < labels.rows; ++y) {
    const cv::Vec2f* offset = flow.ptr<cv::Vec2f>(y);
    cv::Vec3b* out = carried.ptr<cv::Vec3b>(y);
    for (int x = 0; x < labels.cols; ++x) {
      const int fromX = cvRound(x + offset[x][0]);
      const int fromY = cvRound(y + offset[x][1]);
      if (fromX < 0 || fromY < 0 || fromX >= labels.cols || fromY >= labels.rows) continue;
      out[x] = labels.ptr<cv::Vec3b>(fromY)[fromX];
    }
  }
  return carried;
}

cv::Mat SnapToRegions(const cv::Mat& carried, const RegionMap& regions) {
  CV_Assert(carried.type() == CV_8UC3 && carried.size() == regions.ids().size());
  cv::Mat snapped(carried.size(), CV_8UC3);
  const cv::Vec3b* in = carried.ptr<cv::Vec3b>(0);
  cv::Vec3b* out = snapped.ptr<cv::Vec3b>(0);
  std::vector<std::pair<cv::Vec3b, int>> votes;  // colours in the order met, with their counts
  for (int region = 0; region < regions.regionCount(); ++region) {
    votes.clear();
    const std::span<const int> pixels = regions.Pixels(region);
    for (int pixel : pixels) {
      const cv::Vec3b colour = in[pixel];
      auto vote = std::find_if(votes.begin(), votes.end(), [&colour](const auto& v) { return v.first == colour; });
      if (vote == votes.end()) {
        votes.emplace_back(colour, 1);
      } else {
        ++vote->second;
      }
    }
    const auto winner = std::max_element(votes.begin(), votes.end(),
                                         [](const auto& a, const auto& b) { return a.second < b.second; });
    for (int pixel : pixels) out[pixel] = winner->first;
  }
  return snapped;
}

}  // namespace labeler
