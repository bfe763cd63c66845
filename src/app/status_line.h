// The status line of "Click Me!": what the annotator needs to know at a glance, from the state of the session.
//
// Parts, in order: the frame ("frame 12 / 795", and the still's file name for a still list), the current label
// with a swatch of its colour (or "no label"), the brush radius, the presegmentation by name and parameters
// ("none", "pyramid 24/30", "mean shift 2", "graph"), the label overlay when one is shown, "assist" while label
// assist completes the frame, and what leaving the frame would save: the strokes not yet saved, with assist on
// whether the completion shown is the one on disk, and the last save that failed or went beside another
// labeller's, until the next frame change (in place of the rest, unless strokes wait to be saved). The windowing
// layer adds the zoom.
#ifndef LABELER_APP_STATUS_LINE_H_
#define LABELER_APP_STATUS_LINE_H_

#include <string>
#include <vector>

#include "config/label_set.h"
#include "preseg/preseg_params.h"
#include "timeline/timeline.h"
#include "ui/window_system.h"

namespace labeler {

struct SessionState {
  const Timeline& timeline;
  const LabelSet& labels;
  int currentLabel;
  int brushRadius;
  const PresegParams& preseg;
  int overlayPercent;  // 0 for none
  bool assisted;
  size_t unsavedStrokes;
  bool savesOnLeaving;    // the frame is written when left, strokes or none
  bool completionSaved;   // with assist on: the label image on disk is the one shown
  std::string fileNotice;  // the last save that failed or went beside, until the next frame change; or ""
};

std::vector<ui::StatusPart> DescribeSession(const SessionState& state);

}  // namespace labeler

#endif  // LABELER_APP_STATUS_LINE_H_
