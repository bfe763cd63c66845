// LabelAssist: a frame's label image completed from what the annotator painted, the labels carried from the
// neighbouring frames and the frame's own edges.
//
// Built once per frame: the frame is cut into small regions (the cells of its presegmentations, cut again along
// the boundaries of the carried labels, so that a region straddling two carried labels becomes two) and these
// form a RegionGraph. Each completion gives the regions their evidence (painted pixels, whatever their colour,
// black included; the reliable carried ones with a tenth of that weight; and, for a region nothing else speaks
// for, the label of a painted region of nearly the same mean colour, weaker still) and lets a SeededWalker label
// them; the regions it is unsure of are cut finer and walked again (see UnsureRefinement); every unpainted pixel
// takes its region's label, or its piece's where one was walked again, and a confidence (see
// CompletionConfidence, lowered to a refined piece's own margin). Painted pixels never change and are
// sure. Not thread-safe; the object owns copies of what it needs.
#ifndef LABELER_ASSIST_LABEL_ASSIST_H_
#define LABELER_ASSIST_LABEL_ASSIST_H_

#include <memory>
#include <opencv2/core.hpp>
#include <vector>

#include "assist/carried_evidence.h"
#include "assist/region_graph.h"
#include "assist/seeded_walker.h"
#include "assist/unsure_refinement.h"

namespace labeler {

struct AssistInputs {
  cv::Mat frame;                    // 8-bit colour
  std::vector<cv::Mat> partitions;  // region numbers (32-bit integers) of the presegmentations used; at least one
  CarriedLabels carried;            // from the neighbouring frames; may be empty
  cv::Mat finer{};                  // region numbers of a finer presegmentation, for the unsure cells; may be empty
};

class LabelAssist {
 public:
  explicit LabelAssist(const AssistInputs& inputs);

  struct Completion {
    cv::Mat labels;      // 8-bit colour
    cv::Mat confidence;  // 8-bit, one channel: 255 painted or beyond doubt, 0 a tie or no evidence
  };

  // `labels` (8-bit colour, the frame's size) where `painted` (8-bit, one channel, non-zero painted) says so;
  // every other pixel the label the evidence gives it, black where nothing reaches.
  Completion Complete(const cv::Mat& labels, const cv::Mat& painted);

  int regionCount() const { return graph_->nodeCount(); }

 private:
  cv::Mat evidence_;  // the reliable carried labels
  std::unique_ptr<RegionGraph> graph_;
  std::unique_ptr<SeededWalker> walker_;
  std::unique_ptr<UnsureRefinement> refinement_;  // with a finer presegmentation
};

}  // namespace labeler

#endif  // LABELER_ASSIST_LABEL_ASSIST_H_
