#include "preseg/preseg_engine.h"

#include <cstdio>
#include <opencv2/imgproc.hpp>

#include "preseg/graph_segmentation.h"

namespace labeler {
namespace {

constexpr int kPyramidLevel = 4;
constexpr int kPyramidSlot = 0;
constexpr int kGraphSlot = 4;

}  // namespace

void PresegEngine::CreatePresegImages(cv::Size frameSize) {
  currentPreseg_ = PresegParams{};
  currentPreseg_.pyrSeg1 = 24;
  currentPreseg_.pyrSeg2 = 30;
  currentPreseg_.sigma = currentPreseg_.k = currentPreseg_.minSize = -1.0f;
  // Allocated, not cleared: a slot is always computed before it is published, and pages never written cost
  // nothing.
  for (int slot = 0; slot < kSlotCount; ++slot) {
    slotColour_[slot].create(frameSize, CV_8UC3);
    slotEdges_[slot].create(frameSize, CV_8UC1);
  }
}

void PresegEngine::UpdatePresegmentation(const cv::Mat& frame, int frameNumber, int force) {
  const int algorithm = currentPreseg_.algorithm;
  if (algorithm == kNoPreseg) {
    PublishFrame(frame);
    return;
  }
  const int slot = algorithm - 1;
  if (!SamePresegParams(slots_[slot], currentPreseg_)) {
    try {
      if (algorithm == kPyramidPreseg) {
        ComputePyramidPreseg(frame, frameNumber, force);
        slots_[slot].pyrSeg1 = currentPreseg_.pyrSeg1;
        slots_[slot].pyrSeg2 = currentPreseg_.pyrSeg2;
      } else {
        ComputeSlot(frame, slot);
      }
    } catch (...) {
      ForgetFailedSlot(frame, slot);
      throw;
    }
  }
  presegEdges_ = slotEdges_[slot];
  presegColour_ = slotColour_[slot];
  publishedSlot_ = slot;
  slots_[slot].slotTag = slot;
  slots_[slot].algorithm = algorithm;
}

void PresegEngine::PublishFrame(const cv::Mat& frame) {
  publishedSlot_ = -1;
  presegColour_ = frame;
  if (zeroEdges_.empty()) zeroEdges_ = cv::Mat::zeros(frame.size(), CV_8UC1);
  presegEdges_ = zeroEdges_;
}

// A computation that failed half-way left pictures that must never be served or shown: the slot is empty again,
// under a new generation, and the frame is published until the next call computes anew.
void PresegEngine::ForgetFailedSlot(const cv::Mat& frame, int slot) {
  slots_[slot].slotTag = -1;
  slotGeneration_[slot] = ++lastGeneration_;
  slotRegions_[slot].reset();
  if (slot == kPyramidSlot) lastPyramidFrame_ = -1;
  PublishFrame(frame);
}

// Settings 2 to 5: the segmentations write 0 on boundaries and 255 elsewhere; the slot keeps the inverse, so
// that boundaries are non-zero as for every setting.
void PresegEngine::ComputeSlot(const cv::Mat& frame, int slot) {
  std::printf("\t\t Caching segmentation #%d\n", slot);
  slotGeneration_[slot] = ++lastGeneration_;
  if (slot == kGraphSlot) {
    GraphSegment(frame, slotColour_[slot], slotEdges_[slot], -1.0f, -1.0f, -1);
    slots_[slot].sigma = slots_[slot].k = slots_[slot].minSize = -1.0f;
  } else {
    meanShift_.Segment(frame, slotColour_[slot], slotEdges_[slot], slot - 1);
  }
  cv::subtract(cv::Scalar(255), slotEdges_[slot], slotEdges_[slot]);
}

void PresegEngine::ComputePyramidPreseg(const cv::Mat& frame, int frameNumber, int force) {
  if (force == 0 && frameNumber == lastPyramidFrame_) return;  // the slot images hold this frame's result
  std::printf("Refreshing Preseg \n ");
  slotGeneration_[kPyramidSlot] = ++lastGeneration_;
  cv::Mat& colour = slotColour_[kPyramidSlot];
  pyramid_.Segment(frame, colour, kPyramidLevel, currentPreseg_.pyrSeg1 + 1, currentPreseg_.pyrSeg2 + 1);
  lastPyramidFrame_ = frameNumber;
  // The edge image is the positive part of the Laplacian of the segmented picture's grey levels, with the
  // outermost pixels repeated beyond the frame border.
  cv::cvtColor(colour, grey_, cv::COLOR_RGB2GRAY);
  grey_.convertTo(greyFloat_, CV_32F, 1, 0);
  cv::Laplacian(greyFloat_, laplacian_, CV_32F, 3, 1, 0, cv::BORDER_REPLICATE);
  laplacian_.convertTo(slotEdges_[kPyramidSlot], CV_8U, 100, 0);
}

void PresegEngine::InvalidatePresegCache() {
  for (PresegParams& slot : slots_) slot.slotTag = -1;
  for (auto& regions : slotRegions_) regions.reset();
}

std::shared_ptr<const RegionMap> PresegEngine::Regions() {
  if (publishedSlot_ < 0) return nullptr;
  std::shared_ptr<const RegionMap>& regions = slotRegions_[publishedSlot_];
  if (regions == nullptr || slotRegionsGeneration_[publishedSlot_] != slotGeneration_[publishedSlot_]) {
    regions = std::make_shared<const RegionMap>(presegColour_);
    slotRegionsGeneration_[publishedSlot_] = slotGeneration_[publishedSlot_];
  }
  return regions;
}

}  // namespace labeler
