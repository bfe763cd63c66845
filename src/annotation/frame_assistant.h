// FrameAssistant: label assist for the timeline's current frame, prepared once per frame and presegmentation.
//
// Completes a label image of the current frame (see LabelAssist) from the frame, the regions of the published
// presegmentation, the pyramid regions at their start thresholds, and the stored label images of the frames just
// before and after it, read from the label folder. The preparation is redone only when the frame's picture or
// the published presegmentation changed; each completion after that costs one walk. Used by the labeller in
// assist mode and by `labeler-tool assist`, so that both give the same labels. Borrows the timeline and the
// presegmentation engine, which must outlive it. A preparation that fails is not tried again until the frame or
// the presegmentation changes; the completions until then fail at once. A completion that fails leaves no
// confidence; each completion's confidence is a picture of its own, never written to afterwards. Colours of
// stored label images are mapped to the labels' before the assist sees them (see LabelColours); a label image
// with colours that are no label's is said once per frame.
#ifndef LABELER_ANNOTATION_FRAME_ASSISTANT_H_
#define LABELER_ANNOTATION_FRAME_ASSISTANT_H_

#include <cstdint>
#include <memory>
#include <set>
#include <opencv2/core.hpp>
#include <string>

#include "annotation/label_completer.h"
#include "assist/label_assist.h"
#include "assist/label_colours.h"
#include "config/label_set.h"
#include "preseg/preseg_engine.h"
#include "propagation/label_carrier.h"
#include "timeline/timeline.h"

namespace labeler {

class FrameAssistant : public LabelCompleter {
 public:
  FrameAssistant(Timeline& timeline, PresegEngine& preseg, const LabelSet& labels, std::string labelDir);

  cv::Mat Complete(const cv::Mat& labels, const cv::Mat& painted) override;
  cv::Mat Confidence() const override { return confidence_; }
  bool Outdated() const override;

 private:
  void Prepare();
  std::vector<LabelledNeighbour> StoredNeighbours(const cv::Mat& grey);
  // `labels` mapped where `painted` marks, `painted` losing what comes out unlabelled; says once per frame when
  // colours are no label's.
  void MapColours(cv::Mat& labels, cv::Mat& painted, int frame);

  Timeline& timeline_;
  PresegEngine& preseg_;
  std::string labelDir_;
  LabelColours colours_;
  std::set<int> framesWithStrayColours_;  // said already
  PresegEngine pyramid_;  // the pyramid regions at the start thresholds, whatever the chosen setting
  LabelCarrier carrier_;
  std::unique_ptr<LabelAssist> assist_;
  cv::Mat confidence_;  // of the last completion
  // What assist_ was prepared for.
  uint64_t frameSerial_ = 0;
  uint64_t presegGeneration_ = 0;
};

}  // namespace labeler

#endif  // LABELER_ANNOTATION_FRAME_ASSISTANT_H_
