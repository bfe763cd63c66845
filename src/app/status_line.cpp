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
  // On a narrow window what the annotator can't see elsewhere stays longest: where the work stands, the label in
  // hand and whether it is saved. The brush shows under the mouse, the setting on its trackbar.
  // A file notice (a save that failed or went beside) is shown nowhere else and stays longest of all.
  constexpr int kShownElsewhere = 0, kMode = 2, kEssential = 3, kNotice = 4;
  parts.push_back({frame, false, {}, kEssential});
  if (state.currentLabel >= 0 && state.currentLabel < static_cast<int>(state.labels.size())) {
    const LabelInfo& label = state.labels[state.currentLabel];
    parts.push_back({label.name, true,
                     cv::Vec3b(cv::saturate_cast<uchar>(label.blue), cv::saturate_cast<uchar>(label.green),
                               cv::saturate_cast<uchar>(label.red)),
                     kEssential});
  } else {
    parts.push_back({"no label", false, {}, kEssential});
  }
  parts.push_back({"brush " + std::to_string(state.brushRadius), false, {}, kShownElsewhere});
  parts.push_back({PresegName(state.preseg), false, {}, kShownElsewhere});
  if (state.overlayPercent > 0) {
    parts.push_back({"labels over frame " + std::to_string(state.overlayPercent) + " %", false, {}, kMode});
  }
  if (state.assisted) parts.push_back({"assist", false, {}, kMode});
  // After a save that failed or went beside, "nothing unsaved" would mislead: the notice stands in its place.
  if (state.fileNotice.empty() || state.unsavedStrokes > 0) {
    parts.push_back({SavingState(state), false, {}, kEssential});
  }
  if (!state.fileNotice.empty()) parts.push_back({state.fileNotice, false, {}, kNotice});
  return parts;
}

}  // namespace labeler
