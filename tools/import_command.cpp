// labeler-tool import: masks made elsewhere (a segmentation model's predictions, masks of an earlier tool, or this
// tool's own export) become the project's label images, which the labeller then loads as any other.
//
// Each mask DIR/frame-NNNNNN.png of this shard's share is checked against its frame: a mask of another size, of a
// frame beyond the timeline or another mask's frame, or unreadable is refused, alone. A colour mask (read as the
// labeller reads label images made elsewhere) keeps its label colours and black; an index mask (--index, 8-bit
// PNG) gives each pixel the colour of the label of its number, as DIR/classes.csv names them (so a model trained
// with its classes in another order still means the right labels) or, without one, in the label file's order,
// 255 and any number no label has being unlabelled. Pixels of colours or numbers no label has are counted per file and
// left unlabelled. A frame that has a label image keeps it unless --replace. Label images are written as the
// labeller writes them, replaced whole, so that `export` (with its default --unlabelled 255) then
// `import --index` gives back the same label images the labeller saved.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "annotation/label_images.h"
#include "annotation/label_masks.h"
#include "common/files.h"
#include "common/quiet_console.h"
#include "timeline/timeline.h"
#include "tools/command_support.h"
#include "tools/commands.h"
#include "tools/json_object.h"
#include "tools/label_project.h"
#include "tools/mask_png.h"
#include "tools/run_report.h"
#include "tools/shard.h"

namespace labeler::tool {
namespace {

struct ImportOptions {
  std::string meta;
  std::string masks;
  bool index = false;
  bool replace = false;
  Shard shard;
  bool json = false;
};

ImportOptions ParseImportOptions(int argc, char** argv) {
  ImportOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--meta") {
      options.meta = TextOption(argc, argv, i, kImportUsage);
    } else if (arg == "--masks") {
      options.masks = TextOption(argc, argv, i, kImportUsage);
    } else if (arg == "--index") {
      options.index = true;
    } else if (arg == "--replace") {
      options.replace = true;
    } else if (arg == "--shard") {
      options.shard = ParseShard(TextOption(argc, argv, i, kImportUsage));
    } else if (arg == "--json") {
      options.json = true;
    } else {
      throw FatalError(ErrorLine("unexpected argument " + arg) + kImportUsage);
    }
  }
  if (options.meta.empty() || options.masks.empty()) {
    throw FatalError(ErrorLine("--meta and --masks are required") + kImportUsage);
  }
  return options;
}

// The frames masks are checked against: how many there are and their size, which the labeller requires of
// every frame alike.
struct Frames {
  int count = 0;
  cv::Size size;
};

Frames FramesOf(const std::string& timelinePath) {
  QuietConsole quiet;  // the timeline's own console lines are not this command's output
  Timeline timeline(timelinePath);
  timeline.ReloadMovie();
  return {timeline.frameCount(), cv::Size(timeline.width(), timeline.height())};
}

struct Imported {
  bool written = false;
  bool kept = false;  // the frame had a label image, left as it was
  long long unknown = 0;  // pixels of colours or numbers no label has, left unlabelled
  std::optional<Failure> failure;
};

Imported ImportMask(const LabelImageFile& mask, const ImportOptions& options, const MaskReader& reader,
                    const LabelProject& project, const Frames& frames) {
  Imported result;
  const std::string out = LabelImagePath(*project.config.DIR_LABEL_IMGS, mask.frame);
  if (mask.frame >= frames.count) {
    result.failure = Failure{mask.path, "frame " + std::to_string(mask.frame) + " is beyond the timeline's " +
                                            std::to_string(frames.count) + " frames; skipped"};
    return result;
  }
  if (!options.replace && std::filesystem::exists(out)) {
    result.kept = true;
    return result;
  }
  const MaskRead read = reader.Read(mask.path, mask.frame, frames.size);
  result.unknown = read.unknown;
  if (!read.problem.empty()) {
    result.failure = Failure{mask.path, read.problem + "; skipped"};
    return result;
  }
  const std::string reason = WritePngAtomically(out, read.labels);
  if (!reason.empty()) {
    result.failure = Failure{out, reason};
  } else {
    result.written = true;
  }
  return result;
}

void PrintJsonSummary(const ImportOptions& options, int masks, int imported, int kept,
                      const std::vector<Failure>& failures) {
  JsonObject summary;
  summary.Add("command", std::string("import"))
      .AddJson("shard", ShardJson(options.shard))
      .Add("masks", masks)
      .Add("imported", imported)
      .Add("kept", kept)
      .Add("failed", static_cast<long long>(failures.size()))
      .AddJson("failures", FailuresJson(failures));
  std::printf("%s\n", summary.Text().c_str());
}

}  // namespace

int ImportCommand(int argc, char** argv) {
  const ImportOptions options = ParseImportOptions(argc, argv);
  const LabelProject project = LoadLabelProject(options.meta, true);
  const Frames frames = FramesOf(*project.config.FILE_TIMELINE);
  if (!std::filesystem::is_directory(options.masks)) {
    throw FatalError(ErrorLine("--masks " + options.masks + " is not a folder"));
  }
  const std::vector<LabelImageFile> masks = FindLabelImages(options.masks);
  if (masks.empty()) {
    std::fprintf(stderr, "labeler-tool: warning: %s holds no mask named frame-NNNNNN.png\n", options.masks.c_str());
  }
  // Two masks of one frame (frame-000001.png and frame-0000001.png) would race for one label image: the first
  // in the corpus's order is taken, the others refused, whatever the shard.
  std::vector<LabelImageFile> share;
  std::vector<Failure> failures;
  int taken = 0;  // this shard's masks
  for (size_t position = 0; position < masks.size(); ++position) {
    if (!options.shard.Takes(static_cast<long long>(position))) continue;
    ++taken;
    if (position > 0 && masks[position].frame == masks[position - 1].frame) {
      failures.push_back({masks[position].path, "another mask of frame " + std::to_string(masks[position].frame) +
                                                    " comes first; skipped"});
    } else {
      share.push_back(masks[position]);
    }
  }
  std::error_code error;
  std::filesystem::create_directories(*project.config.DIR_LABEL_IMGS, error);  // a project not yet labelled
  const MaskReader reader = options.index
                                ? MaskReader(project.labels, NumberingOfMaskFolder(options.masks, project.labels))
                                : MaskReader(project.labels);
  std::vector<Imported> results(share.size());
  ForEachFrameOnAllCores(static_cast<int>(share.size()), "import",
                         [&](int i) { results[i] = ImportMask(share[i], options, reader, project, frames); });
  int imported = 0, kept = 0;
  for (size_t i = 0; i < share.size(); ++i) {
    const Imported& result = results[i];
    if (result.failure) failures.push_back(*result.failure);
    imported += result.written;
    kept += result.kept;
    if (result.unknown > 0) {
      std::fprintf(stderr, "labeler-tool: warning: %s: %lld pixels of %s no label has; left unlabelled\n",
                   share[i].path.c_str(), result.unknown, options.index ? "numbers" : "colours");
    }
  }
  PrintFailures(failures);
  if (options.json) {
    PrintJsonSummary(options, taken, imported, kept, failures);
  } else {
    std::printf("Imported %d of %d masks into %s%s\n", imported, taken,
                project.config.DIR_LABEL_IMGS->c_str(),
                kept > 0 ? (" (" + std::to_string(kept) + " frames kept their label image; --replace replaces them)")
                               .c_str()
                         : "");
  }
  return failures.empty() ? 0 : 1;
}

}  // namespace labeler::tool
