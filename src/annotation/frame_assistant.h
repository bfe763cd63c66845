// FrameAssistant: label assist for the timeline's current frame, prepared once per frame and presegmentation.
//
// Completes a label image of the current frame (see LabelAssist) from what an AssistPreparation holds: the
// frame, the regions of the published presegmentation, the pyramid regions at their start thresholds, the
// stored label images of the frames just before and after it, and the frame's proposal when there is a proposal
// folder. The preparation is redone only when the frame's
// picture or the published presegmentation changed; each completion after that costs one walk. A supplier (the
// labeller's worker) may offer a preparation it made ahead: it is taken only when it rests on this very picture,
// these regions and the label images the folder holds now, and its first completion only for the very label
// image and painted pixels asked for; else the preparation is made here. Used by the labeller in assist mode and
// by `labeler-tool assist`, so that both give the same labels. Borrows the timeline, the presegmentation engine,
// the label file (for the label image of the frame left last, without decoding it) and the supplier, which must
// outlive it. A preparation that fails is not tried again until the frame or the presegmentation changes; the
// completions until then fail at once. A completion that fails leaves no confidence; each completion's
// confidence and labels are pictures of their own, never written to afterwards. Colours of stored label images
// are mapped to the labels' before the assist sees them (see LabelColours); a label image with colours that are
// no label's is said once per frame.
#ifndef LABELER_ANNOTATION_FRAME_ASSISTANT_H_
#define LABELER_ANNOTATION_FRAME_ASSISTANT_H_

#include <cstdint>
#include <memory>
#include <opencv2/core.hpp>
#include <set>
#include <string>
#include <vector>

#include "annotation/assist_preparation.h"
#include "annotation/label_completer.h"
#include "annotation/label_file.h"
#include "annotation/proposal_folder.h"
#include "assist/label_colours.h"
#include "config/label_set.h"
#include "preseg/preseg_engine.h"
#include "propagation/label_carrier.h"
#include "timeline/timeline.h"

namespace labeler {

// The label colours of `labels`, in its order, for LabelColours.
LabelColours LabelColoursOf(const LabelSet& labels);

// Whoever prepares label assist ahead of the foreground.
class AssistSupplier {
 public:
  virtual ~AssistSupplier() = default;
  // The preparations made for `frame` with the picture `serial`, if any; the caller checks which applies, and
  // alone uses it from then on.
  virtual std::vector<std::shared_ptr<const AssistPreparation>> SupplyAssist(int frame, uint64_t serial) = 0;
};

class FrameAssistant : public LabelCompleter {
 public:
  // `file` may be null (no frame is left: every label image is read from the folder).
  FrameAssistant(Timeline& timeline, PresegEngine& preseg, const LabelSet& labels, std::string labelDir,
                 const LabelFile* file);

  void SetSupplier(AssistSupplier* supplier) { supplier_ = supplier; }
  // `proposals` may be null: no frame has a proposal.
  void SetProposals(std::shared_ptr<const ProposalFolder> proposals) { proposals_ = std::move(proposals); }

  cv::Mat Complete(const cv::Mat& labels, const cv::Mat& painted) override;
  cv::Mat Confidence() const override { return confidence_; }
  bool Outdated() const override;

 private:
  bool ProposalChanged() const;
  void Prepare();
  std::shared_ptr<const AssistPreparation> PrepareHere(const std::shared_ptr<const RegionMap>& chosen);
  bool Applies(const AssistPreparation& prepared, const std::shared_ptr<const RegionMap>& chosen) const;
  cv::Mat Known(int frame) const;
  // Says once per frame that its label image has `strayPixels` pixels of colours that are no label's.
  void WarnOfStrayColours(int frame, int strayPixels);

  Timeline& timeline_;
  PresegEngine& preseg_;
  std::string labelDir_;
  const LabelFile* file_;
  AssistSupplier* supplier_ = nullptr;
  std::shared_ptr<const ProposalFolder> proposals_;
  LabelColours colours_;
  std::set<int> framesWithStrayColours_;  // said already
  PresegEngine pyramid_;  // for the pyramid regions at the start thresholds
  LabelCarrier carrier_;
  std::shared_ptr<const AssistPreparation> preparation_;
  cv::Mat confidence_;  // of the last completion
  // What preparation_ was made for.
  uint64_t frameSerial_ = 0;
  uint64_t presegGeneration_ = 0;
};

}  // namespace labeler

#endif  // LABELER_ANNOTATION_FRAME_ASSISTANT_H_
