// What labeler-tool stats counts of a clip, frame by frame and in total: read by its printers and by the report
// page it writes.
#ifndef LABELER_TOOLS_CLIP_STATS_H_
#define LABELER_TOOLS_CLIP_STATS_H_

#include <map>
#include <string>
#include <vector>

#include "tools/label_project.h"

namespace labeler::tool {

struct FrameStats {
  bool labelled = false;
  long long pixels = 0;
  LabelCounts counts;
  long long painted = 0;    // pixels painted by hand, as the label folder's record says
  long long completed = 0;  // pixels labelled by label assist
};

// One clip of the corpus as stats sees it: its label images and conflict files, and the rows of this shard's
// share of its timeline frames.
struct StatsClip {
  std::string meta;
  std::string name;
  LabelProject project;
  ColourIndex index;
  std::map<int, std::string> fileOfFrame;
  std::vector<LabelImageFile> conflicts;  // of the frames in the share
  std::vector<int> frames;                // the share, ascending
  std::vector<FrameStats> rows;           // one per frame of the share
  FrameStats total;
  int labelledFrames = 0;
};

inline double Share(long long part, long long whole) {
  return whole > 0 ? static_cast<double>(part) / whole : 0.0;
}

}  // namespace labeler::tool

#endif  // LABELER_TOOLS_CLIP_STATS_H_
