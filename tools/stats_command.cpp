// labeler-tool stats: how much of the footage is labelled, frame by frame and in total, and which conflict files
// wait beside the label images. Several meta files give one block per clip; --shard K/N takes the job's share
// of the corpus's timeline frames; --report DIR writes the same as a page to read in a browser, with a chart
// along each clip and pictures of its least labelled frames and conflict files.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "timeline/timeline.h"
#include "tools/clip_stats.h"
#include "tools/command_support.h"
#include "tools/commands.h"
#include "annotation/label_images.h"
#include "annotation/painted_record.h"
#include "tools/corpus.h"
#include "tools/json_object.h"
#include "tools/label_project.h"
#include "tools/run_report.h"
#include "tools/shard.h"
#include "tools/stats_report.h"

namespace labeler::tool {
namespace {

struct StatsOptions {
  std::vector<std::string> metas;
  bool csv = false;
  bool json = false;
  Shard shard;
  std::string report;  // the folder of the report page, when one is asked for
};

StatsOptions ParseStatsOptions(int argc, char** argv) {
  StatsOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--meta") {
      options.metas.push_back(TextOption(argc, argv, i, kStatsUsage));
    } else if (arg == "--csv") {
      options.csv = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--shard") {
      options.shard = ParseShard(TextOption(argc, argv, i, kStatsUsage));
    } else if (arg == "--report") {
      options.report = TextOption(argc, argv, i, kStatsUsage);
    } else {
      throw FatalError(ErrorLine("unexpected argument " + arg) + kStatsUsage);
    }
  }
  if (options.metas.empty()) throw FatalError(ErrorLine("--meta is required") + kStatsUsage);
  if (options.csv && options.json) throw FatalError(ErrorLine("--csv and --json exclude each other") + kStatsUsage);
  // A shard's share is every N-th frame: the report's chart and totals would be of none of the clips.
  if (!options.report.empty() && !options.shard.IsWhole()) {
    throw FatalError(ErrorLine("--report pictures whole clips; run it without --shard"));
  }
  return options;
}

// Of the pixels of a saved label image, how many were painted by hand and how many completed.
void CountPainted(const cv::Mat& image, const std::string& labelDir, int frame, FrameStats& row) {
  const cv::Mat painted = PaintedPixels(labelDir, frame, image);
  row.painted = cv::countNonZero(painted);
  row.completed = cv::countNonZero(NonBlackPixels(image) & ~painted);
}

StatsClip OpenClip(const std::string& meta, const std::string& name) {
  LabelProject project = LoadLabelProject(meta, true);
  const ColourIndex index(project.labels);
  StatsClip clip{meta, name, std::move(project), index, {}, {}, {}, {}, {}, 0};
  const int frameCount = CountTimelineFrames(*clip.project.config.FILE_TIMELINE);
  int beyond = 0;
  for (const LabelImageFile& file : FindLabelImages(*clip.project.config.DIR_LABEL_IMGS)) {
    if (file.frame < frameCount) {
      clip.fileOfFrame[file.frame] = file.path;
    } else {
      ++beyond;
    }
  }
  if (beyond > 0) {
    std::fprintf(stderr, "labeler-tool: warning: %d label images are numbered past the timeline's %d frames\n", beyond,
                 frameCount);
  }
  clip.frames.resize(frameCount);
  for (int f = 0; f < frameCount; ++f) clip.frames[f] = f;
  return clip;
}

std::vector<StatsClip> OpenClips(const std::vector<std::string>& metas) {
  const std::vector<std::string> names = DistinctStems(metas);
  std::vector<StatsClip> clips;
  for (size_t i = 0; i < metas.size(); ++i) clips.push_back(OpenClip(metas[i], names[i]));
  return clips;
}

// Keeps of every clip the frames, and the conflict files of frames, at this shard's positions of the corpus:
// every N-th timeline frame, clips in the order given, frames ascending.
void TakeShare(std::vector<StatsClip>& clips, const Shard& shard) {
  long long offset = 0;
  for (StatsClip& clip : clips) {
    const long long frameCount = static_cast<long long>(clip.frames.size());
    std::vector<int> share;
    for (int frame : clip.frames) {
      if (shard.Takes(offset + frame)) share.push_back(frame);
    }
    for (const LabelImageFile& file : FindConflictFiles(*clip.project.config.DIR_LABEL_IMGS)) {
      if (shard.Takes(offset + file.frame)) clip.conflicts.push_back(file);
    }
    clip.frames = std::move(share);
    clip.rows.resize(clip.frames.size());
    offset += frameCount;
  }
}

struct RowJob {
  size_t clip;
  size_t row;
};

// Counts the labels of every labelled frame of the share on every core.
std::vector<Failure> CountShare(std::vector<StatsClip>& clips) {
  std::vector<RowJob> jobs;
  for (size_t c = 0; c < clips.size(); ++c) {
    for (size_t r = 0; r < clips[c].frames.size(); ++r) {
      if (clips[c].fileOfFrame.count(clips[c].frames[r]) > 0) jobs.push_back({c, r});
    }
  }
  std::vector<Failure> problems(jobs.size());
  ForEachFrameOnAllCores(static_cast<int>(jobs.size()), "stats", [&](int i) {
    StatsClip& clip = clips[jobs[i].clip];
    FrameStats& row = clip.rows[jobs[i].row];
    const std::string& path = clip.fileOfFrame.at(clip.frames[jobs[i].row]);
    const cv::Mat image = ReadStoredLabelImage(path);
    if (image.empty()) {
      problems[i] = {path, "can't be decoded as an image"};
      return;
    }
    row.labelled = true;
    row.pixels = static_cast<long long>(image.total());
    row.counts = CountLabels(image, clip.index, clip.project.labels.size(), nullptr, 0);
    CountPainted(image, *clip.project.config.DIR_LABEL_IMGS, clip.frames[jobs[i].row], row);
  });
  std::erase_if(problems, [](const Failure& problem) { return problem.reason.empty(); });
  return problems;
}

void SumRows(StatsClip& clip) {
  clip.total.counts.perLabel.assign(clip.project.labels.size(), 0);
  for (const FrameStats& stats : clip.rows) {
    if (!stats.labelled) continue;
    ++clip.labelledFrames;
    clip.total.pixels += stats.pixels;
    for (size_t l = 0; l < clip.project.labels.size(); ++l) clip.total.counts.perLabel[l] += stats.counts.perLabel[l];
    clip.total.counts.unlabelled += stats.counts.unlabelled;
    clip.total.counts.unknown += stats.counts.unknown;
    clip.total.painted += stats.painted;
    clip.total.completed += stats.completed;
  }
}

// `prefix` begins every row: the clip's name and a comma when the rows of several clips are printed together.
void PrintCsv(const StatsClip& clip, const std::string& prefix, bool header) {
  const LabelSet& labels = clip.project.labels;
  if (header) {
    std::printf("%sframe,has_label_image", prefix.empty() ? "" : "clip,");
    for (const LabelInfo& label : labels) std::printf(",%s", CsvField(label.name).c_str());
    std::printf(",unlabelled,unknown\n");
  }
  auto shares = [&labels](const FrameStats& stats) {
    for (size_t l = 0; l < labels.size(); ++l) std::printf(",%.6f", Share(stats.counts.perLabel[l], stats.pixels));
    std::printf(",%.6f,%.6f\n", Share(stats.counts.unlabelled, stats.pixels), Share(stats.counts.unknown, stats.pixels));
  };
  for (size_t r = 0; r < clip.rows.size(); ++r) {
    std::printf("%s%d,%d", prefix.c_str(), clip.frames[r], clip.rows[r].labelled ? 1 : 0);
    if (clip.rows[r].labelled) {
      shares(clip.rows[r]);
    } else {
      std::printf("%s\n", std::string(labels.size() + 2, ',').c_str());
    }
  }
  std::printf("%stotal,%d", prefix.c_str(), clip.labelledFrames);
  shares(clip.total);
}

void PrintTable(const StatsClip& clip) {
  const LabelSet& labels = clip.project.labels;
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
  for (size_t r = 0; r < clip.rows.size(); ++r) {
    std::printf("%8d  %-8s", clip.frames[r], clip.rows[r].labelled ? "yes" : "no");
    if (clip.rows[r].labelled) {
      shares(clip.rows[r]);
    } else {
      std::printf("\n");
    }
  }
  std::printf("%8s  %-8s", "total",
              (std::to_string(clip.labelledFrames) + "/" + std::to_string(clip.rows.size())).c_str());
  shares(clip.total);
  std::printf("%d frame%s saved; of their pixels %.1f%% painted by hand, %.1f%% completed by label assist\n",
              clip.labelledFrames, clip.labelledFrames == 1 ? "" : "s",
              100 * Share(clip.total.painted, clip.total.pixels), 100 * Share(clip.total.completed, clip.total.pixels));
}

// The rows of several clips make one CSV only when their columns are the same labels.
void CheckSameLabels(const std::vector<StatsClip>& clips) {
  auto names = [](const StatsClip& clip) {
    std::vector<std::string> list;
    for (const LabelInfo& label : clip.project.labels) list.push_back(label.name);
    return list;
  };
  for (const StatsClip& clip : clips) {
    if (names(clip) != names(clips[0])) {
      throw FatalError(ErrorLine("--csv over several clips needs the same labels; " + clips[0].meta + " and " +
                                 clip.meta + " differ (use --json, or one clip at a time)"));
    }
  }
}

size_t CountConflicts(const std::vector<StatsClip>& clips) {
  size_t count = 0;
  for (const StatsClip& clip : clips) count += clip.conflicts.size();
  return count;
}

// The conflict files, each on its own line: after the table on standard output, beside a CSV on standard error.
void PrintConflicts(const std::vector<StatsClip>& clips, std::FILE* stream) {
  const size_t count = CountConflicts(clips);
  if (count == 0) return;
  std::fprintf(stream, "%zu conflict file%s to reconcile:\n", count, count == 1 ? "" : "s");
  for (const StatsClip& clip : clips) {
    for (const LabelImageFile& file : clip.conflicts) std::fprintf(stream, "  %s\n", file.path.c_str());
  }
}

std::string ClipJson(const StatsClip& clip) {
  std::vector<std::string> labels;
  for (size_t l = 0; l < clip.project.labels.size(); ++l) {
    labels.push_back(
        JsonObject().Add("name", clip.project.labels[l].name).Add("pixels", clip.total.counts.perLabel[l]).Text());
  }
  std::vector<std::string> conflicts;
  for (const LabelImageFile& file : clip.conflicts) conflicts.push_back(JsonQuoted(file.path));
  return JsonObject()
      .Add("meta", clip.meta)
      .Add("name", clip.name)
      .Add("frames", clip.rows.size())
      .Add("labelled_frames", clip.labelledFrames)
      .Add("pixels", clip.total.pixels)
      .AddJson("labels", JsonArray(labels))
      .Add("unlabelled", clip.total.counts.unlabelled)
      .Add("unknown", clip.total.counts.unknown)
      .Add("painted_pixels", clip.total.painted)
      .Add("completed_pixels", clip.total.completed)
      .AddJson("conflict_files", JsonArray(conflicts))
      .Text();
}

void PrintJson(const std::vector<StatsClip>& clips, const Shard& shard, const std::vector<Failure>& failures) {
  std::vector<std::string> clipObjects;
  size_t frames = 0;
  size_t labelledFrames = 0;
  for (const StatsClip& clip : clips) {
    clipObjects.push_back(ClipJson(clip));
    frames += clip.rows.size();
    labelledFrames += clip.labelledFrames;
  }
  std::printf("%s\n", JsonObject()
                          .Add("command", "stats")
                          .AddJson("shard", ShardJson(shard))
                          .Add("frames", frames)
                          .Add("labelled_frames", labelledFrames)
                          .Add("conflict_files", CountConflicts(clips))
                          .Add("failed", failures.size())
                          .AddJson("clips", JsonArray(clipObjects))
                          .AddJson("failures", FailuresJson(failures))
                          .Text()
                          .c_str());
}

void PrintHuman(const std::vector<StatsClip>& clips, bool csv) {
  const bool several = clips.size() > 1;
  for (size_t c = 0; c < clips.size(); ++c) {
    if (csv) {
      PrintCsv(clips[c], several ? CsvField(clips[c].name) + "," : "", c == 0);
    } else {
      if (several) std::printf("%s%s (%s)\n", c > 0 ? "\n" : "", clips[c].name.c_str(), clips[c].meta.c_str());
      PrintTable(clips[c]);
    }
  }
  PrintConflicts(clips, csv ? stderr : stdout);
}

}  // namespace

// Per frame of the timeline: whether it has a label image and the share of each label's pixels; the totals
// are over the pixels of all labelled frames. With --report the page takes the table's place.
int StatsCommand(int argc, char** argv) {
  const StatsOptions options = ParseStatsOptions(argc, argv);
  std::vector<StatsClip> clips = OpenClips(options.metas);
  if (options.csv) CheckSameLabels(clips);
  if (!options.report.empty()) CreateOutputFolder(options.report);
  TakeShare(clips, options.shard);
  std::vector<Failure> failures = CountShare(clips);
  for (StatsClip& clip : clips) SumRows(clip);
  const bool reportWritten = !options.report.empty() && WriteStatsReport(options.report, clips, failures);
  if (options.json) {
    PrintJson(clips, options.shard, failures);
  } else if (!options.report.empty() && !options.csv) {
    if (reportWritten) std::printf("Report written to %s\n", StatsReportPage(options.report).c_str());
  } else {
    PrintHuman(clips, options.csv);
  }
  PrintFailures(failures);
  return failures.empty() ? 0 : 1;
}

}  // namespace labeler::tool
