#include "preseg/preseg_engine.h"

#include <cstdio>
#include <string>
#include <opencv2/imgproc.hpp>

#include "common/report.h"
#include "preseg/graph_segmentation.h"

namespace labeler {
namespace {

constexpr int kPyramidLevel = 4;
constexpr int kPyramidSlot = 0;
constexpr int kGraphSlot = 4;

// Whether a setting's pictures depend on, or move, the shared pseudo-random sequence: the mean-shift settings
// re-seed it and draw, the graph setting draws its colours.
bool DrawsRandom(int setting) { return setting >= kMeanShiftPreseg0; }

}  // namespace

bool SameSegmentation(const PresegParams& made, uint32_t madeAt, const PresegParams& wanted, uint32_t wantedAt) {
  if (made.algorithm != wanted.algorithm) return false;
  if (wanted.algorithm == kPyramidPreseg) return made.pyrSeg1 == wanted.pyrSeg1 && made.pyrSeg2 == wanted.pyrSeg2;
  return wanted.algorithm != kGraphPreseg || madeAt == wantedAt;
}

bool Serves(const PreparedSegmentation& prepared, const PresegParams& params, uint32_t random) {
  return !prepared.colour.empty() && SameSegmentation(prepared.params, prepared.randomBefore, params, random);
}

// The slots are made by each computation: nothing is allocated ahead.
void PresegEngine::CreatePresegImages(cv::Size) {
  currentPreseg_ = PresegParams{};
  currentPreseg_.pyrSeg1 = kStartPyrSeg1;
  currentPreseg_.pyrSeg2 = kStartPyrSeg2;
  currentPreseg_.sigma = currentPreseg_.k = currentPreseg_.minSize = -1.0f;
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

void PresegEngine::ComputeSlot(const cv::Mat& frame, int slot) {
  std::printf("\t\t Caching segmentation #%d\n", slot);
  slotGeneration_[slot] = ++lastGeneration_;
  if (slot == kGraphSlot) slots_[slot].sigma = slots_[slot].k = slots_[slot].minSize = -1.0f;
  if (TakeSupplied(frame, slot)) return;
  if (computeNotice_) computeNotice_(currentPreseg_.algorithm);
  SegmentInto(frame, currentPreseg_, Random::Shared(), nullptr, nullptr, slotColour_[slot], slotEdges_[slot]);
}

// A stroke re-rendered by undo, redo or clear asks for the thresholds it was painted with, which may not be
// those of the result held: that result serves only for the same thresholds.
void PresegEngine::ComputePyramidPreseg(const cv::Mat& frame, int frameNumber, int force) {
  const bool sameThresholds = lastPyramidThresholds_[0] == currentPreseg_.pyrSeg1 &&
                              lastPyramidThresholds_[1] == currentPreseg_.pyrSeg2;
  if (force == 0 && frameNumber == lastPyramidFrame_ && sameThresholds) return;  // the slot holds this result
  std::printf("Refreshing Preseg \n ");
  slotGeneration_[kPyramidSlot] = ++lastGeneration_;
  lastPyramidFrame_ = frameNumber;
  lastPyramidThresholds_[0] = currentPreseg_.pyrSeg1;
  lastPyramidThresholds_[1] = currentPreseg_.pyrSeg2;
  if (TakeSupplied(frame, kPyramidSlot)) return;
  if (computeNotice_) computeNotice_(kPyramidPreseg);
  SegmentInto(frame, currentPreseg_, Random::Shared(), nullptr, nullptr, slotColour_[kPyramidSlot],
              slotEdges_[kPyramidSlot]);
}

// Takes the supplier's result for the slot being computed, printing what computing it would have printed (the
// progress marks on standard error, then the lines on standard output) and moving the shared sequence as
// computing it would have.
bool PresegEngine::TakeSupplied(const cv::Mat& frame, int slot) {
  PreparedSegmentation found;
  if (supplier_ == nullptr || !supplier_->Supply(frame, currentPreseg_, Random::Shared().state(), found)) {
    return false;
  }
  if (found.progressMarks > 0) {
    std::fputs(std::string(static_cast<size_t>(found.progressMarks), ':').c_str(), stderr);
    std::fflush(stderr);
  }
  Report(nullptr, found.report);
  if (DrawsRandom(currentPreseg_.algorithm)) Random::Shared().Seed(found.randomAfter);
  slotColour_[slot] = found.colour;
  slotEdges_[slot] = found.edges;
  slotRegions_[slot] = found.regions;
  slotRegionsGeneration_[slot] = slotGeneration_[slot];
  return true;
}

PreparedSegmentation PresegEngine::Segment(const cv::Mat& frame, const PresegParams& params, Random& random,
                                           const std::stop_token& stop) {
  PreparedSegmentation prepared;
  prepared.params = params;
  prepared.randomBefore = random.state();
  SegmentInto(frame, params, random, &prepared.report, &prepared.progressMarks, prepared.colour, prepared.edges,
              stop);
  prepared.randomAfter = random.state();
  return prepared;
}

// Into new images, so that pictures published or handed out earlier never change. Settings 2 to 5: the
// segmentations write 0 on boundaries and 255 elsewhere; the slot keeps the inverse, so that boundaries are
// non-zero as for every setting.
void PresegEngine::SegmentInto(const cv::Mat& frame, const PresegParams& params, Random& random,
                               std::string* report, int* withheldMarks, cv::Mat& colour, cv::Mat& edges,
                               const std::stop_token& stop) {
  colour = cv::Mat();
  edges = cv::Mat();
  const int slot = params.algorithm - 1;
  if (slot == kPyramidSlot) {
    pyramid_.Segment(frame, colour, kPyramidLevel, params.pyrSeg1 + 1, params.pyrSeg2 + 1, stop);
    // The edge image is the positive part of the Laplacian of the segmented picture's grey levels, with the
    // outermost pixels repeated beyond the frame border.
    cv::cvtColor(colour, grey_, cv::COLOR_RGB2GRAY);
    grey_.convertTo(greyFloat_, CV_32F, 1, 0);
    cv::Laplacian(greyFloat_, laplacian_, CV_32F, 3, 1, 0, cv::BORDER_REPLICATE);
    laplacian_.convertTo(edges, CV_8U, 100, 0);
    return;
  }
  if (slot == kGraphSlot) {
    GraphSegment(frame, colour, edges, -1.0f, -1.0f, -1, random, report, stop);
  } else {
    meanShift_.Segment(frame, colour, edges, slot - 1, random, report, withheldMarks, stop);
  }
  cv::subtract(cv::Scalar(255), edges, edges);
}

void PresegEngine::InvalidatePresegCache() {
  for (PresegParams& slot : slots_) slot.slotTag = -1;
  for (auto& regions : slotRegions_) regions.reset();
}

void PresegEngine::ForgetPicture() {
  InvalidatePresegCache();
  lastPyramidFrame_ = -1;
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
