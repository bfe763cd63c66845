#include "app/status_line.h"

#include <filesystem>
#include <string>

namespace labeler {
namespace {

std::string PresegName(const PresegParams& preseg) {
  switch (preseg.algorithm) {
    case kPyramidPreseg: return "pyramid " + std::to_string(preseg.pyrSeg1) + "/" + std::to_string(preseg.pyrSeg2);
    case kMeanShiftPreseg0:
    case kMeanShiftPreseg1:
    case kMeanShiftPreseg2: return "mean shift " + std::to_string(preseg.algorithm - kMeanShiftPreseg0 + 1);
    case kGraphPreseg: return "graph";
    default: return "no presegmentation";
  }
}

std::string SavingState(const SessionState& state) {
  const size_t unsaved = state.unsavedStrokes;
  if (unsaved > 0) return std::to_string(unsaved) + (unsaved == 1 ? " unsaved stroke" : " unsaved strokes");
  if (!state.assisted) return "nothing unsaved";
  if (state.savesOnLeaving) return "saved on leaving";
  return state.completionSaved ? "completion saved" : "completion not saved, Enter accepts";
}

}  // namespace

std::vector<ui::StatusPart> DescribeSession(const SessionState& state) {
  std::vector<ui::StatusPart> parts;
  const Timeline& timeline = state.timeline;
  std::string frame = "frame " + std::to_string(timeline.currentFrame()) + " / " + std::to_string(timeline.frameCount());
  if (timeline.kind() == TimelineKind::kStillList) {
    frame += " " + std::filesystem::path(timeline.stillNames()[timeline.currentFrame()]).filename().string();
  }
  parts.push_back({frame});
  if (state.currentLabel >= 0 && state.currentLabel < static_cast<int>(state.labels.size())) {
    const LabelInfo& label = state.labels[state.currentLabel];
    parts.push_back({label.name, true,
                     cv::Vec3b(cv::saturate_cast<uchar>(label.blue), cv::saturate_cast<uchar>(label.green),
                               cv::saturate_cast<uchar>(label.red))});
  } else {
    parts.push_back({"no label"});
  }
  parts.push_back({"brush " + std::to_string(state.brushRadius)});
  parts.push_back({PresegName(state.preseg)});
  if (state.overlayPercent > 0) parts.push_back({"labels over frame " + std::to_string(state.overlayPercent) + " %"});
  if (state.assisted) parts.push_back({"assist"});
  // After a save that failed or went beside, "nothing unsaved" would mislead: the notice stands in its place.
  if (state.fileNotice.empty() || state.unsavedStrokes > 0) parts.push_back({SavingState(state)});
  if (!state.fileNotice.empty()) parts.push_back({state.fileNotice});
  return parts;
}

}  // namespace labeler
