// PresegEngine: the presegmentation of the current frame, per setting, with a cache of one result per setting.
//
// UpdatePresegmentation is the one door: it serves the setting of currentPreseg() from its cache slot or
// computes it, and publishes the result as presegColour() (each region in one colour) and presegEdges()
// (non-zero on region boundaries). Setting 0 publishes the frame itself and an all-zero edge image. The cache
// holds five slots, one per setting 1..5, valid until InvalidatePresegCache. Each computation writes new
// images, which never change afterwards: the published images (or the frame passed in) may be kept and shared.
// A SegmentationSupplier, when set, may hand the engine a slot's result made elsewhere for the same picture;
// the engine takes it where it would compute, and publishes and prints exactly what computing would have (the
// mean shift's progress marks on standard error included).
#ifndef LABELER_PRESEG_PRESEG_ENGINE_H_
#define LABELER_PRESEG_PRESEG_ENGINE_H_

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <stop_token>
#include <string>

#include "common/random.h"
#include "meanshift/mean_shift.h"
#include "preseg/preseg_params.h"
#include "preseg/pyramid_segmentation.h"
#include "preseg/region_map.h"

namespace labeler {

// A presegmentation made for a picture by Segment, to be published by another engine working on that picture.
struct PreparedSegmentation {
  PresegParams params;  // the setting, and for the pyramid the trackbar positions, it was made with
  cv::Mat colour;
  cv::Mat edges;                             // non-zero on region boundaries
  std::shared_ptr<const RegionMap> regions;  // the regions of `colour`, or nullptr
  std::string report;                        // the progress lines making it printed
  int progressMarks = 0;                     // and the ':' marks it showed on standard error
  uint32_t randomBefore = 0;                 // where the pseudo-random sequence stood when it was made
  uint32_t randomAfter = 0;                  // and where it stood afterwards
};

// Whether a presegmentation made with `made` from the sequence standing at `madeAt` is what an engine computes
// for `wanted` at `wantedAt`: the same setting, the same pyramid thresholds, and for the graph setting, whose
// colours are drawn from the sequence, the same start.
bool SameSegmentation(const PresegParams& made, uint32_t madeAt, const PresegParams& wanted, uint32_t wantedAt);
// Whether `prepared` holds a presegmentation that is what an engine computes for `params` at `random`.
bool Serves(const PreparedSegmentation& prepared, const PresegParams& params, uint32_t random);

// Where an engine looks for a result before computing one.
class SegmentationSupplier {
 public:
  virtual ~SegmentationSupplier() = default;
  // A result for `frame` (the very picture the engine is about to segment) that Serves `params` at `random`, or
  // false. Called on the engine's thread.
  virtual bool Supply(const cv::Mat& frame, const PresegParams& params, uint32_t random,
                      PreparedSegmentation& found) = 0;
};

class PresegEngine {
 public:
  static constexpr int kSlotCount = 5;

  // Gives currentPreseg its start values: setting 0, pyramid positions 24 and 30, the graph parameters unset
  // (-1). Nothing is allocated for `frameSize` ahead: every computation makes new slot images.
  void CreatePresegImages(cv::Size frameSize);

  // Makes the result of currentPreseg() for `frame` (the timeline's frame number `frameNumber`) available,
  // computing it only when its slot doesn't match. With `force` 0 the pyramid step also trusts a result it
  // made earlier for the same frame number with the same thresholds. When the computation throws, the frame is
  // published instead and the slot is computed anew at the next call.
  void UpdatePresegmentation(const cv::Mat& frame, int frameNumber, int force);

  // Empties all five slots: the frame has changed. The pyramid step still trusts its result for the same frame
  // number and thresholds (see UpdatePresegmentation); ForgetPicture trusts nothing.
  void InvalidatePresegCache();
  // Empties all five slots and trusts nothing computed before, not even the pyramid step's result for the same
  // frame number: the frame's picture itself has changed (a still replaced on disk and read again).
  void ForgetPicture();

  // The supplier asked before each computation of a slot; nullptr (the start) for none. Borrowed: it must
  // outlive the engine or be unset first.
  void SetSupplier(SegmentationSupplier* supplier) { supplier_ = supplier; }
  // Called with the setting just before the engine computes a slot itself (not when it takes a supplied
  // result): long work the caller may want to announce.
  void SetComputeNotice(std::function<void(int setting)> notice) { computeNotice_ = std::move(notice); }

  // Makes the presegmentation of `frame` with `params` (settings 1 to 5) as UpdatePresegmentation would,
  // drawing from `random` instead of the shared sequence and collecting the progress lines instead of printing
  // them. Touches none of the slots: for another thread's engine preparing a result for this one. Throws
  // Cancelled once `stop` is requested (see common/cancellation.h).
  PreparedSegmentation Segment(const cv::Mat& frame, const PresegParams& params, Random& random,
                               const std::stop_token& stop = {});

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
  bool TakeSupplied(const cv::Mat& frame, int slot);
  void SegmentInto(const cv::Mat& frame, const PresegParams& params, Random& random, std::string* report,
                   int* withheldMarks, cv::Mat& colour, cv::Mat& edges, const std::stop_token& stop = {});

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
  SegmentationSupplier* supplier_ = nullptr;
  std::function<void(int)> computeNotice_;

  // The segmenters' working storage, and the pyramid step's own state: the frame it last computed and the
  // thresholds it computed it with.
  int lastPyramidFrame_ = -1;
  int lastPyramidThresholds_[2] = {-1, -1};
  PyramidSegmenter pyramid_;
  MeanShiftSegmenter meanShift_;
  cv::Mat grey_;
  cv::Mat greyFloat_;
  cv::Mat laplacian_;
};

}  // namespace labeler

#endif  // LABELER_PRESEG_PRESEG_ENGINE_H_
