// Carrying a label image from one frame of a clip to the next.
//
// Dense optical flow (OpenCV's DIS, on grey frames) tells, for every pixel of the frame being labelled, where it
// was in the frame whose labels are known; each pixel takes the label colour found at that place (the nearest
// pixel: label colours are codes and must never be mixed), and none where the place lies outside the frame.
// With a presegmentation, the carried labels are then snapped to its regions: each region takes the label most
// of its pixels carried, or stays unlabelled where most carried none. Pure: frames and images in, images out.
#ifndef LABELER_PROPAGATION_LABEL_CARRIER_H_
#define LABELER_PROPAGATION_LABEL_CARRIER_H_

#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/video/tracking.hpp>

#include "preseg/region_map.h"

namespace labeler {

// The flow needs frames of at least this many pixels on each side: it refuses smaller ones, and some frames only
// 11 to 15 pixels high crash it outright.
inline constexpr int kSmallestCarriedSide = 16;

// Whether labels can be carried between frames of `frameSize`.
inline bool CanCarry(cv::Size frameSize) {
  return frameSize.width >= kSmallestCarriedSide && frameSize.height >= kSmallestCarriedSide;
}

// Frames of more pixels than this (1280 x 720) are carried with the flow of copies scaled down to this area:
// on 1920 x 1080 frames the flow then takes less than half the time, and carries labels as well (see the
// README's figures).
inline constexpr double kLargestFullFlowArea = 1280.0 * 720.0;

class LabelCarrier {
 public:
  LabelCarrier();

  // The flow from `to` to `from` (8-bit grey frames of one size): for each pixel of `to`, the offset to where it
  // was in `from`, as a 2-channel float image. Frames of more than `largestArea` pixels are scaled down to that
  // area for the flow, which is then scaled back up. Throws std::invalid_argument for frames CanCarry refuses.
  cv::Mat Flow(const cv::Mat& toGrey, const cv::Mat& fromGrey, double largestArea = kLargestFullFlowArea);
  // Flow's result before it is scaled back up: at most `largestArea` pixels (4/9 of Flow's memory at
  // 1920 x 1080, a ninth at 3840 x 2160), for keeping. ExpandFlow(ReducedFlow(to, from), to.size()) is Flow(to, from).
  cv::Mat ReducedFlow(const cv::Mat& toGrey, const cv::Mat& fromGrey, double largestArea = kLargestFullFlowArea);
  static cv::Mat ExpandFlow(const cv::Mat& reduced, cv::Size frameSize);

 private:
  cv::Mat FullSizeFlow(const cv::Mat& toGrey, const cv::Mat& fromGrey);

  cv::Ptr<cv::DISOpticalFlow> flow_;
};

// Each pixel takes the colour of `labels` (8-bit, 3 channels; black is unlabelled) at the pixel nearest to its
// flow target; black where the target lies outside the frame.
cv::Mat CarryLabels(const cv::Mat& labels, const cv::Mat& flow);

// Every region of `regions` takes the colour most of its pixels have in `carried`, black counting as a colour:
// a region where most pixels carried no label stays unlabelled. Ties go to the colour met first in the region.
cv::Mat SnapToRegions(const cv::Mat& carried, const RegionMap& regions);

}  // namespace labeler

#endif  // LABELER_PROPAGATION_LABEL_CARRIER_H_
