// labeler-tool export: the colour label images of a project as class-index masks for training.
//
// Every label image DIR_LABEL_IMGS/frame-NNNNNN.png becomes OUT/frame-NNNNNN.png, one byte per pixel holding
// the index of its label in the label-names file (--unlabelled N where no label is), and OUT/classes.csv lists
// the labels with their colours and hot keys. With --frames, OUT/frames/frame-NNNNNN.png is the very frame of
// the timeline each mask belongs to. Several meta files export each to the subfolder of OUT named after the meta
// file, and --shard K/N exports only the job's share of the corpus's label images. Conflict files beside the
// label images are no frames: they are counted and left alone.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/files.h"
#include "tools/command_support.h"
#include "tools/commands.h"
#include "annotation/label_images.h"
#include "tools/corpus.h"
#include "tools/frame_pictures.h"
#include "tools/json_object.h"
#include "tools/label_project.h"
#include "tools/mask_png.h"
#include "tools/run_report.h"
#include "tools/shard.h"

namespace labeler::tool {
namespace {

struct ExportOptions {
  std::vector<std::string> metas;
  std::string out;
  int unlabelled = 255;
  bool palette = false;  // --format palette
  bool frames = false;
  Shard shard;
  bool json = false;
};

ExportOptions ParseExportOptions(int argc, char** argv) {
  ExportOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--meta") {
      options.metas.push_back(TextOption(argc, argv, i, kExportUsage));
    } else if (arg == "--out") {
      options.out = TextOption(argc, argv, i, kExportUsage);
    } else if (arg == "--frames") {
      options.frames = true;
    } else if (arg == "--format") {
      const std::string format = TextOption(argc, argv, i, kExportUsage);
      if (format != "index" && format != "palette") {
        throw FatalError(ErrorLine("--format takes index or palette, not '" + format + "'") + kExportUsage);
      }
      options.palette = format == "palette";
    } else if (arg == "--unlabelled") {
      options.unlabelled = IntOption(argc, argv, i, 0, 255, kExportUsage);
    } else if (arg == "--shard") {
      options.shard = ParseShard(TextOption(argc, argv, i, kExportUsage));
    } else if (arg == "--json") {
      options.json = true;
    } else {
      throw FatalError(ErrorLine("unexpected argument " + arg) + kExportUsage);
    }
  }
  if (options.metas.empty() || options.out.empty()) {
    throw FatalError(ErrorLine("--meta and --out are required") + kExportUsage);
  }
  return options;
}

// The colour of unlabelled pixels in a palette mask where no label has that index: the colour the PASCAL VOC
// masks give their "void" index 255, unlike any label of the usual label sets.
constexpr PaletteColour kUnlabelledColour = {224, 224, 192};

// The palette of the masks of `labels`: each label's colour at its index, kUnlabelledColour at `unlabelled`
// (unless a label has it), black elsewhere.
std::vector<PaletteColour> MaskPalette(const LabelSet& labels, int unlabelled) {
  std::vector<PaletteColour> palette(256, PaletteColour{0, 0, 0});
  palette[unlabelled] = kUnlabelledColour;
  for (size_t i = 0; i < labels.size(); ++i) {
    palette[i] = {cv::saturate_cast<uchar>(labels[i].red), cv::saturate_cast<uchar>(labels[i].green),
                  cv::saturate_cast<uchar>(labels[i].blue)};
  }
  return palette;
}

// classes.csv for loaders that read JSON, with the index of unlabelled pixels.
std::string ClassesJson(const LabelSet& labels, int unlabelled) {
  std::vector<std::string> classes;
  for (size_t i = 0; i < labels.size(); ++i) {
    const LabelInfo& label = labels[i];
    classes.push_back(JsonObject()
                          .Add("id", static_cast<long long>(i))
                          .Add("name", label.name)
                          .AddJson("colour", JsonArray({std::to_string(label.red), std::to_string(label.green),
                                                        std::to_string(label.blue)}))
                          .Text());
  }
  return JsonObject().AddJson("classes", JsonArray(classes)).Add("unlabelled", unlabelled).Text() + "\n";
}

std::string ClassesCsv(const LabelSet& labels) {
  std::string csv = "index,name,red,green,blue,hot_key\n";
  for (size_t i = 0; i < labels.size(); ++i) {
    const LabelInfo& label = labels[i];
    csv += std::to_string(i) + ',' + CsvField(label.name) + ',' + std::to_string(label.red) + ',' +
           std::to_string(label.green) + ',' + std::to_string(label.blue) + ',' +
           (label.hotKey >= 0 ? std::to_string(label.hotKey) : "") + '\n';
  }
  return csv;
}

// Whether one of the two folders is the other or lies inside it, after links and ".." are resolved (a folder
// that does not exist yet is resolved as far as it exists).
bool FoldersOverlap(const std::string& a, const std::string& b) {
  auto resolve = [](const std::string& folder) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::weakly_canonical(std::filesystem::absolute(folder), error);
    return path.filename().empty() ? path.parent_path() : path;
  };
  auto within = [](const std::filesystem::path& inner, const std::filesystem::path& outer) {
    return std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end()).first == outer.end();
  };
  const std::filesystem::path first = resolve(a);
  const std::filesystem::path second = resolve(b);
  return within(first, second) || within(second, first);
}

// A mask that failed to export must not stay behind from an earlier export, looking current.
std::string RemoveStaleMask(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::remove(path, error)) return "";
  return "; the mask of an earlier export, " + path + ", was removed";
}

// The frames the exported masks belong to, in ascending order, read forward through one timeline (it seeks only
// across gaps, and checks where each seek landed), so every picture is exactly the frame the labeller shows for
// that number; a few frames are read at a time and written on every core, as encoding a picture costs several
// times decoding it. Returns the failures, one per frame that could not be written; `done` counts each frame
// written or failed.
std::vector<Failure> ExportFrames(const std::string& timelinePath, const std::vector<int>& frames,
                                  const std::filesystem::path& folder, Progress& progress, int& done) {
  std::vector<Failure> problems;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  std::unique_ptr<FramePictures> pictures;
  try {
    pictures = std::make_unique<FramePictures>(timelinePath);
  } catch (const FatalError& failure) {
    return {{"", "cannot read the frames: " + FailureReason(failure)}};
  }
  const size_t batch = 2 * std::max(1u, std::thread::hardware_concurrency());
  for (size_t first = 0; first < frames.size(); first += batch) {
    std::vector<std::pair<std::string, cv::Mat>> read;  // path and picture
    for (size_t i = first; i < std::min(frames.size(), first + batch); ++i) {
      const std::string path = LabelImagePath(folder.string(), frames[i]);
      std::string reason;
      cv::Mat image = pictures->Read(frames[i], reason);
      if (image.empty()) {
        problems.push_back({path, reason});
      } else {
        read.emplace_back(path, std::move(image));
      }
    }
    done += static_cast<int>(std::min(frames.size(), first + batch) - first - read.size());
    std::vector<std::string> reasons(read.size());
    ForEachFrameOnAllCores(static_cast<int>(read.size()), progress, done,
                           [&](int i) { reasons[i] = WritePngAtomically(read[i].first, read[i].second); });
    done += static_cast<int>(read.size());
    for (size_t i = 0; i < read.size(); ++i) {
      if (!reasons[i].empty()) problems.push_back({read[i].first, reasons[i]});
    }
  }
  return problems;
}

// The reason the mask could not be written, or "".
std::string WriteMask(const std::string& path, const cv::Mat& mask, const std::vector<PaletteColour>& palette) {
  std::vector<unsigned char> png;
  if (!EncodeMaskPng(mask, png, palette)) return "PNG encoding failed";
  const std::string reason = WriteFileAtomically(path, png);
  return reason.empty() ? "" : "cannot be written: " + reason;
}

// One clip of the corpus as export sees it: its project, the folder its masks go to, and the label images of
// this shard's share.
struct ExportClip {
  std::string meta;
  LabelProject project;
  ColourIndex index;
  std::string out;
  std::vector<LabelImageFile> files;
  std::vector<int> exportedFrames;
  std::vector<PaletteColour> palette;  // of its masks, empty for greyscale ones
};

// Loads a clip and checks, before anything is written, that its masks can hold its labels and can't land on its
// label images.
ExportClip OpenClip(const ExportOptions& options, const std::string& meta, const std::string& out) {
  LabelProject project = LoadLabelProject(meta, false);
  if (options.frames && !project.config.FILE_TIMELINE) {
    throw FatalError(ErrorLine("--frames needs FILE_TIMELINE in " + meta));
  }
  if (project.labels.size() > 256) {
    throw FatalError(ErrorLine("an 8-bit index mask holds 256 labels; " + meta + " has " +
                               std::to_string(project.labels.size())));
  }
  const ColourIndex index(project.labels);
  if (index.blackLabel() < 0 && options.unlabelled < static_cast<int>(project.labels.size())) {
    std::fprintf(stderr, "labeler-tool: warning: --unlabelled %d is also the index of label '%s'\n",
                 options.unlabelled, project.labels[options.unlabelled].name.c_str());
  }
  const std::string& labelDir = *project.config.DIR_LABEL_IMGS;
  if (FoldersOverlap(out, labelDir)) {
    throw FatalError(ErrorLine("the output folder " + out + " and the label folder " + labelDir +
                               " overlap; masks would overwrite label images, choose another --out"));
  }
  std::vector<PaletteColour> palette = options.palette ? MaskPalette(project.labels, options.unlabelled)
                                                       : std::vector<PaletteColour>();
  return {meta, std::move(project), index, out, {}, {}, std::move(palette)};
}

void RequireOutputsSpareLabelFolders(const std::vector<ExportClip>& clips);

// One clip exports to --out itself, as it always has; several export each to the subfolder named after its
// meta file.
std::vector<ExportClip> OpenClips(const ExportOptions& options) {
  std::vector<ExportClip> clips;
  if (options.metas.size() == 1) {
    clips.push_back(OpenClip(options, options.metas[0], options.out));
    return clips;
  }
  const std::vector<std::string> stems = DistinctFolderNames(options.metas);
  for (size_t i = 0; i < options.metas.size(); ++i) {
    clips.push_back(OpenClip(options, options.metas[i], (std::filesystem::path(options.out) / stems[i]).string()));
  }
  RequireOutputsSpareLabelFolders(clips);
  return clips;
}

// Each clip's output checked against its own label folder is not enough with several: one clip's masks could
// land in another clip's label folder.
void RequireOutputsSpareLabelFolders(const std::vector<ExportClip>& clips) {
  for (const ExportClip& writer : clips) {
    for (const ExportClip& other : clips) {
      const std::string& labelDir = *other.project.config.DIR_LABEL_IMGS;
      if (FoldersOverlap(writer.out, labelDir)) {
        throw FatalError(ErrorLine("the output folder " + writer.out + " and the label folder " + labelDir + " of " +
                                   other.meta + " overlap; masks would overwrite label images, choose another --out"));
      }
    }
  }
}

struct MaskJob {
  size_t clip;
  LabelImageFile file;
};

// This shard's share of the corpus's label images (every N-th of them, clips in the order given, frames
// ascending), also kept per clip. Positions count label images, not timeline frames, so shards stay even when
// only every few frames are labelled; the label folders must not change between the shards of one export.
std::vector<MaskJob> ShareOfCorpus(std::vector<ExportClip>& clips, const Shard& shard) {
  std::vector<MaskJob> jobs;
  long long position = 0;
  for (size_t c = 0; c < clips.size(); ++c) {
    for (const LabelImageFile& file : FindLabelImages(*clips[c].project.config.DIR_LABEL_IMGS)) {
      if (!shard.Takes(position++)) continue;
      clips[c].files.push_back(file);
      jobs.push_back({c, file});
    }
  }
  return jobs;
}

// Writes the mask of one label image; a label image with colours no label has is skipped.
std::optional<Failure> ExportMask(const ExportClip& clip, const LabelImageFile& file, int unlabelled) {
  const std::string out =
      (std::filesystem::path(clip.out) / std::filesystem::path(LabelImagePath(".", file.frame)).filename()).string();
  const cv::Mat image = ReadStoredLabelImage(file.path);
  if (image.empty()) return Failure{file.path, "can't be decoded as an image; skipped" + RemoveStaleMask(out)};
  cv::Mat mask;
  const LabelCounts counts = CountLabels(image, clip.index, clip.project.labels.size(), &mask, unlabelled);
  if (counts.unknown > 0) {
    return Failure{file.path, std::to_string(counts.unknown) + " pixels of colours no label has, the first at (" +
                                  std::to_string(counts.firstUnknown.x) + ", " +
                                  std::to_string(counts.firstUnknown.y) + "); skipped" + RemoveStaleMask(out)};
  }
  const std::string reason = WriteMask(out, mask, clip.palette);
  if (!reason.empty()) return Failure{out, reason + RemoveStaleMask(out)};
  return std::nullopt;
}

// Every shard writes each clip's class lists, the same bytes, so any shard's output says what its indices mean.
std::vector<Failure> WriteClassLists(const ExportClip& clip, int unlabelled) {
  std::vector<Failure> failures;
  const std::pair<const char*, std::string> lists[] = {{"classes.csv", ClassesCsv(clip.project.labels)},
                                                       {"classes.json", ClassesJson(clip.project.labels, unlabelled)}};
  for (const auto& [name, text] : lists) {
    const std::string path = (std::filesystem::path(clip.out) / name).string();
    const std::string reason = WriteFileAtomically(path, std::vector<unsigned char>(text.begin(), text.end()));
    if (!reason.empty()) failures.push_back({path, "cannot be written: " + reason});
  }
  return failures;
}

size_t CountConflictFiles(const std::vector<ExportClip>& clips) {
  size_t count = 0;
  for (const ExportClip& clip : clips) count += FindConflictFiles(*clip.project.config.DIR_LABEL_IMGS).size();
  return count;
}

void PrintSummary(const std::vector<ExportClip>& clips, const Shard& shard) {
  const std::string ofShard = shard.IsWhole() ? "" : " (shard " + shard.Text() + ")";
  for (const ExportClip& clip : clips) {
    std::printf("Exported %zu of %zu label images to %s%s\n", clip.exportedFrames.size(), clip.files.size(),
                clip.out.c_str(), ofShard.c_str());
  }
}

void PrintJsonSummary(const std::vector<ExportClip>& clips, const Shard& shard, size_t conflicts,
                      const std::vector<Failure>& failures) {
  std::vector<std::string> clipObjects;
  size_t exported = 0;
  size_t labelImages = 0;
  for (const ExportClip& clip : clips) {
    clipObjects.push_back(JsonObject()
                              .Add("meta", clip.meta)
                              .Add("out", clip.out)
                              .Add("label_images", clip.files.size())
                              .Add("exported", clip.exportedFrames.size())
                              .Text());
    exported += clip.exportedFrames.size();
    labelImages += clip.files.size();
  }
  std::printf("%s\n", JsonObject()
                          .Add("command", "export")
                          .AddJson("shard", ShardJson(shard))
                          .Add("label_images", labelImages)
                          .Add("exported", exported)
                          .Add("failed", failures.size())
                          .Add("ignored_conflict_files", conflicts)
                          .AddJson("clips", JsonArray(clipObjects))
                          .AddJson("failures", FailuresJson(failures))
                          .Text()
                          .c_str());
}

}  // namespace

// Each file is its own success or failure: failures are named on standard error, the rest are still written,
// and the command then ends with status 1.
int ExportCommand(int argc, char** argv) {
  const ExportOptions options = ParseExportOptions(argc, argv);
  std::vector<ExportClip> clips = OpenClips(options);
  for (const ExportClip& clip : clips) CreateOutputFolder(clip.out);
  const std::vector<MaskJob> jobs = ShareOfCorpus(clips, options.shard);
  // With --frames, each label image is two files to write: its mask and its frame.
  const int count = static_cast<int>(jobs.size());
  Progress progress("export", options.frames ? 2 * count : count, options.frames ? "files" : "frames");
  std::vector<std::optional<Failure>> maskFailures(jobs.size());
  ForEachFrameOnAllCores(count, progress, 0, [&](int i) {
    maskFailures[i] = ExportMask(clips[jobs[i].clip], jobs[i].file, options.unlabelled);
  });
  int done = count;
  std::vector<Failure> failures;
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (maskFailures[i]) {
      failures.push_back(*maskFailures[i]);
    } else {
      clips[jobs[i].clip].exportedFrames.push_back(jobs[i].file.frame);
    }
  }
  if (options.frames) {
    done += static_cast<int>(failures.size());  // label images without a mask have no frame to write
    for (const ExportClip& clip : clips) {
      for (Failure& failure : ExportFrames(*clip.project.config.FILE_TIMELINE, clip.exportedFrames,
                                           std::filesystem::path(clip.out) / "frames", progress, done)) {
        failures.push_back(std::move(failure));
      }
    }
  }
  progress.Finish();
  for (const ExportClip& clip : clips) {
    for (Failure& failure : WriteClassLists(clip, options.unlabelled)) failures.push_back(std::move(failure));
  }
  PrintFailures(failures);
  const size_t conflicts = CountConflictFiles(clips);
  if (conflicts > 0) {
    std::fprintf(stderr, "labeler-tool: left out %zu conflict file%s (frame-NNNNNN.conflict-N.png)\n", conflicts,
                 conflicts == 1 ? "" : "s");
  }
  if (options.json) {
    PrintJsonSummary(clips, options.shard, conflicts, failures);
  } else {
    PrintSummary(clips, options.shard);
  }
  return failures.empty() ? 0 : 1;
}

}  // namespace labeler::tool
