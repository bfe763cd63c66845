// PresegEngine: the presegmentation of the current frame, per setting, with a cache of one result per setting.
//
// UpdatePresegmentation is the one door: it serves the setting of currentPreseg() from its cache slot or
// computes it, and publishes the result as presegColour() (each region in one colour) and presegEdges()
// (non-zero on region boundaries). Setting 0 publishes the frame itself and an all-zero edge image. The cache
// holds five slots, one per setting 1..5, valid until InvalidatePresegCache. The engine owns all its images;
// the published images are headers onto them (or onto the frame passed in) and stay valid until the next call.
#ifndef LABELER_PRESEG_PRESEG_ENGINE_H_
#define LABELER_PRESEG_PRESEG_ENGINE_H_

#include <array>
#include <cstdint>
#include <memory>
#include <opencv2/core.hpp>

#include "meanshift/mean_shift.h"
#include "preseg/preseg_params.h"
#include "preseg/pyramid_segmentation.h"
#include "preseg/region_map.h"

namespace labeler {

class PresegEngine {
 public:
  static constexpr int kSlotCount = 5;

  // Creates the slot images for frames of `frameSize` and gives currentPreseg its start values: setting 0,
  // pyramid positions 24 and 30, the graph parameters unset (-1).
  void CreatePresegImages(cv::Size frameSize);

  // Makes the result of currentPreseg() for `frame` (the timeline's frame number `frameNumber`) available,
  // computing it only when its slot doesn't match. With `force` 0 the pyramid step also trusts a result it
  // made earlier for the same frame number. When the computation throws, the frame is published instead and the
  // slot is computed anew at the next call.
  void UpdatePresegmentation(const cv::Mat& frame, int frameNumber, int force);

  // Empties all five slots: the frame has changed.
  void InvalidatePresegCache();

  PresegParams& currentPreseg() { return currentPreseg_; }
  const PresegParams& currentPreseg() const { return currentPreseg_; }
  const cv::Mat& presegColour() const { return presegColour_; }
  const cv::Mat& presegEdges() const { return presegEdges_; }
  const PresegParams& slotParams(int slot) const { return slots_[slot]; }
  // The generation of what is published: each computation of a slot gives it a new one, so the same generation
  // (for the same frame, see Timeline::frameSerial) means the same pictures. 0 for setting 0, whose picture is
  // the frame itself.
  uint64_t publishedGeneration() const { return publishedSlot_ < 0 ? 0 : slotGeneration_[publishedSlot_]; }
  // Whether what is published is a presegmentation, not the frame itself.
  bool presegmented() const { return publishedSlot_ >= 0; }
  // The regions of presegColour() when it is a presegmentation (settings 1 to 5), else nullptr. Found at the
  // first call after the picture changed, then shared: a caller may keep the map, which never changes.
  std::shared_ptr<const RegionMap> Regions();

 private:
  void PublishFrame(const cv::Mat& frame);
  void ForgetFailedSlot(const cv::Mat& frame, int slot);
  void ComputePyramidPreseg(const cv::Mat& frame, int frameNumber, int force);
  void ComputeSlot(const cv::Mat& frame, int slot);

  PresegParams currentPreseg_;
  std::array<PresegParams, kSlotCount> slots_;
  std::array<cv::Mat, kSlotCount> slotColour_;
  std::array<cv::Mat, kSlotCount> slotEdges_;
  cv::Mat presegColour_;
  cv::Mat presegEdges_;
  cv::Mat zeroEdges_;  // the edges of setting 0
  int publishedSlot_ = -1;  // the slot presegColour_ shows, -1 for the frame
  std::array<uint64_t, kSlotCount> slotGeneration_{};  // the generation each slot was last computed at
  std::array<std::shared_ptr<const RegionMap>, kSlotCount> slotRegions_;
  std::array<uint64_t, kSlotCount> slotRegionsGeneration_{};
  uint64_t lastGeneration_ = 0;

  // The pyramid step's own state: the frame it last computed, and its working images.
  int lastPyramidFrame_ = -1;
  PyramidSegmenter pyramid_;
  MeanShiftSegmenter meanShift_;
  cv::Mat grey_;
  cv::Mat greyFloat_;
  cv::Mat laplacian_;
};

}  // namespace labeler

#endif  // LABELER_PRESEG_PRESEG_ENGINE_H_
