#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "timeline/timeline.h"
#include "tools/command_support.h"
#include "tools/commands.h"
#include "annotation/label_images.h"
#include "tools/label_project.h"

namespace labeler::tool {
namespace {

struct FrameStats {
  bool labelled = false;
  long long pixels = 0;
  LabelCounts counts;
};

double Share(long long part, long long whole) { return whole > 0 ? static_cast<double>(part) / whole : 0.0; }

void PrintCsv(const LabelSet& labels, const std::vector<FrameStats>& frames, const FrameStats& total,
              int labelledFrames) {
  std::printf("frame,has_label_image");
  for (const LabelInfo& label : labels) std::printf(",%s", CsvField(label.name).c_str());
  std::printf(",unlabelled,unknown\n");
  auto shares = [&labels](const FrameStats& stats) {
    for (size_t l = 0; l < labels.size(); ++l) std::printf(",%.6f", Share(stats.counts.perLabel[l], stats.pixels));
    std::printf(",%.6f,%.6f\n", Share(stats.counts.unlabelled, stats.pixels), Share(stats.counts.unknown, stats.pixels));
  };
  for (size_t f = 0; f < frames.size(); ++f) {
    std::printf("%zu,%d", f, frames[f].labelled ? 1 : 0);
    if (frames[f].labelled) {
      shares(frames[f]);
    } else {
      std::printf("%s\n", std::string(labels.size() + 2, ',').c_str());
    }
  }
  std::printf("total,%d", labelledFrames);
  shares(total);
}

void PrintTable(const LabelSet& labels, const std::vector<FrameStats>& frames, const FrameStats& total,
                int labelledFrames) {
  std::vector<int> widths;
  std::printf("%8s  %-8s", "frame", "labelled");
  for (const LabelInfo& label : labels) {
    widths.push_back(std::max<int>(7, static_cast<int>(label.name.size())));
    std::printf("  %*s", widths.back(), label.name.c_str());
  }
  std::printf("  %10s  %7s\n", "unlabelled", "unknown");
  auto shares = [&](const FrameStats& stats) {
    for (size_t l = 0; l < labels.size(); ++l) {
      std::printf("  %*.1f%%", widths[l] - 1, 100 * Share(stats.counts.perLabel[l], stats.pixels));
    }
    std::printf("  %9.1f%%  %6.1f%%\n", 100 * Share(stats.counts.unlabelled, stats.pixels),
                100 * Share(stats.counts.unknown, stats.pixels));
  };
  for (size_t f = 0; f < frames.size(); ++f) {
    std::printf("%8zu  %-8s", f, frames[f].labelled ? "yes" : "no");
    if (frames[f].labelled) {
      shares(frames[f]);
    } else {
      std::printf("\n");
    }
  }
  std::printf("%8s  %-8s", "total", (std::to_string(labelledFrames) + "/" + std::to_string(frames.size())).c_str());
  shares(total);
}

}  // namespace

// Per frame of the timeline: whether it has a label image and the share of each label's pixels; the totals
// are over the pixels of all labelled frames.
int StatsCommand(int argc, char** argv) {
  std::string meta;
  bool csv = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--meta") {
      meta = TextOption(argc, argv, i, kStatsUsage);
    } else if (arg == "--csv") {
      csv = true;
    } else {
      throw FatalError(ErrorLine("unexpected argument " + arg) + kStatsUsage);
    }
  }
  if (meta.empty()) throw FatalError(ErrorLine("--meta is required") + kStatsUsage);
  const LabelProject project = LoadLabelProject(meta, true);
  const int frameCount = CountTimelineFrames(*project.config.FILE_TIMELINE);
  const ColourIndex index(project.labels);
  std::map<int, std::string> fileOfFrame;
  int beyond = 0;
  for (const LabelImageFile& file : FindLabelImages(*project.config.DIR_LABEL_IMGS)) {
    if (file.frame < frameCount) {
      fileOfFrame[file.frame] = file.path;
    } else {
      ++beyond;
    }
  }
  if (beyond > 0) {
    std::fprintf(stderr, "labeler-tool: warning: %d label images are numbered past the timeline's %d frames\n", beyond,
                 frameCount);
  }
  std::vector<int> labelledFrameNumbers;
  for (const auto& [frame, path] : fileOfFrame) labelledFrameNumbers.push_back(frame);
  std::vector<FrameStats> frames(frameCount);
  std::vector<std::string> problems(labelledFrameNumbers.size());
  ForEachFrameOnAllCores(static_cast<int>(labelledFrameNumbers.size()), "stats", [&](int i) {
    const int frame = labelledFrameNumbers[i];
    const cv::Mat image = ReadStoredLabelImage(fileOfFrame[frame]);
    if (image.empty()) {
      problems[i] = fileOfFrame.at(frame) + ": can't be decoded as an image";
      return;
    }
    frames[frame].labelled = true;
    frames[frame].pixels = static_cast<long long>(image.total());
    frames[frame].counts = CountLabels(image, index, project.labels.size(), nullptr, 0);
  });
  FrameStats total;
  total.counts.perLabel.assign(project.labels.size(), 0);
  int labelledFrames = 0;
  for (const FrameStats& stats : frames) {
    if (!stats.labelled) continue;
    ++labelledFrames;
    total.pixels += stats.pixels;
    for (size_t l = 0; l < project.labels.size(); ++l) total.counts.perLabel[l] += stats.counts.perLabel[l];
    total.counts.unlabelled += stats.counts.unlabelled;
    total.counts.unknown += stats.counts.unknown;
  }
  if (csv) {
    PrintCsv(project.labels, frames, total, labelledFrames);
  } else {
    PrintTable(project.labels, frames, total, labelledFrames);
  }
  int failed = 0;
  for (const std::string& problem : problems) {
    if (problem.empty()) continue;
    std::fprintf(stderr, "labeler-tool: error: %s\n", problem.c_str());
    ++failed;
  }
  return failed > 0 ? 1 : 0;
}

}  // namespace labeler::tool
