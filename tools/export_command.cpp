// labeler-tool export: the colour label images of a project as class-index masks for training.
//
// Every label image DIR_LABEL_IMGS/frame-NNNNNN.png becomes OUT/frame-NNNNNN.png, one byte per pixel holding
// the index of its label in the label-names file (--unlabelled N where no label is), and OUT/classes.csv lists
// the labels with their colours and hot keys. With --frames, OUT/frames/frame-NNNNNN.png is the very frame of
// the timeline each mask belongs to. Each file is its own success or failure: a failure is named on standard
// error, the rest are still written, and the command ends with status 1.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <opencv2/imgcodecs.hpp>
#include <filesystem>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/quiet_console.h"
#include "timeline/timeline.h"
#include "tools/command_support.h"
#include "tools/commands.h"
#include "annotation/label_images.h"
#include "tools/label_project.h"
#include "tools/mask_png.h"

namespace labeler::tool {
namespace {

struct ExportOptions {
  std::string meta;
  std::string out;
  int unlabelled = 255;
  bool frames = false;
};

ExportOptions ParseExportOptions(int argc, char** argv) {
  ExportOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--meta") {
      options.meta = TextOption(argc, argv, i, kExportUsage);
    } else if (arg == "--out") {
      options.out = TextOption(argc, argv, i, kExportUsage);
    } else if (arg == "--frames") {
      options.frames = true;
    } else if (arg == "--unlabelled") {
      options.unlabelled = IntOption(argc, argv, i, 0, 255, kExportUsage);
    } else {
      throw FatalError(ErrorLine("unexpected argument " + arg) + kExportUsage);
    }
  }
  if (options.meta.empty() || options.out.empty()) {
    throw FatalError(ErrorLine("--meta and --out are required") + kExportUsage);
  }
  return options;
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

// The text of a FatalError as a clause of another line: without its error prefix and its line ends.
std::string Reason(const FatalError& failure) {
  std::string prefix = ErrorLine("");
  prefix.pop_back();
  std::string text = failure.what();
  if (text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
  std::replace(text.begin(), text.end(), '\n', ' ');
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// A mask that failed to export must not stay behind from an earlier export, looking current.
std::string RemoveStaleMask(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::remove(path, error)) return "";
  return "; the mask of an earlier export, " + path + ", was removed";
}

// The frames the exported masks belong to, in ascending order, read forward through one timeline (it seeks only
// across gaps, and checks where each seek landed), so every picture is exactly the frame the labeller shows for
// that number. Returns the problems, one per frame that could not be written.
std::vector<std::string> ExportFrames(const std::string& timelinePath, const std::vector<int>& frames,
                                      const std::filesystem::path& folder) {
  std::vector<std::string> problems;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  std::unique_ptr<Timeline> timeline;
  {
    QuietConsole quiet;  // the timeline's own console lines are not this command's output
    try {
      timeline = std::make_unique<Timeline>(timelinePath);
      timeline->ReloadMovie();
    } catch (const FatalError& failure) {
      return {"cannot read the frames: " + Reason(failure)};
    }
  }
  for (int frame : frames) {
    const std::string path = LabelImagePath(folder.string(), frame);
    cv::Mat image;
    try {
      QuietConsole quiet;
      if (frame < timeline->frameCount()) image = timeline->GoToFrame(frame);
    } catch (const FatalError& failure) {
      problems.push_back(path + ": " + Reason(failure));
      continue;
    }
    if (image.empty() || timeline->currentFrame() != frame) {
      problems.push_back(path + ": frame " + std::to_string(frame) + " can't be read from " + timelinePath);
      continue;
    }
    std::vector<unsigned char> png;
    if (!cv::imencode(".png", image, png)) {
      problems.push_back(path + ": PNG encoding failed");
      continue;
    }
    const std::string reason = WriteFileAtomically(path, png);
    if (!reason.empty()) problems.push_back(path + ": cannot be written: " + reason);
  }
  return problems;
}

std::string WriteMask(const std::string& path, const cv::Mat& mask) {
  std::vector<unsigned char> png;
  if (!EncodeMaskPng(mask, png)) return path + ": PNG encoding failed";
  const std::string reason = WriteFileAtomically(path, png);
  return reason.empty() ? "" : path + ": cannot be written: " + reason;
}

}  // namespace

// A label image with colours no label has is reported and skipped, as is every file that can't be written.
int ExportCommand(int argc, char** argv) {
  const ExportOptions options = ParseExportOptions(argc, argv);
  const LabelProject project = LoadLabelProject(options.meta, false);
  if (options.frames && !project.config.FILE_TIMELINE) {
    throw FatalError(ErrorLine("--frames needs FILE_TIMELINE in " + options.meta));
  }
  if (project.labels.size() > 256) {
    throw FatalError(ErrorLine("an 8-bit index mask holds 256 labels; " + options.meta + " has " +
                               std::to_string(project.labels.size())));
  }
  const ColourIndex index(project.labels);
  if (index.blackLabel() < 0 && options.unlabelled < static_cast<int>(project.labels.size())) {
    std::fprintf(stderr, "labeler-tool: warning: --unlabelled %d is also the index of label '%s'\n",
                 options.unlabelled, project.labels[options.unlabelled].name.c_str());
  }
  const std::string& labelDir = *project.config.DIR_LABEL_IMGS;
  if (FoldersOverlap(options.out, labelDir)) {
    throw FatalError(ErrorLine("the output folder " + options.out + " and the label folder " + labelDir +
                               " overlap; masks would overwrite label images, choose another --out"));
  }
  std::error_code error;
  std::filesystem::create_directories(options.out, error);
  if (!std::filesystem::is_directory(options.out, error)) {
    throw FatalError(ErrorLine("cannot create the output folder " + options.out));
  }
  const std::vector<LabelImageFile> files = FindLabelImages(labelDir);
  std::vector<std::string> problems(files.size());
  ForEachFrameOnAllCores(static_cast<int>(files.size()), "export", [&](int i) {
    const LabelImageFile& file = files[i];
    char name[32];
    std::snprintf(name, sizeof name, "frame-%.6d.png", file.frame);
    const std::string out = (std::filesystem::path(options.out) / name).string();
    const cv::Mat image = ReadStoredLabelImage(file.path);
    if (image.empty()) {
      problems[i] = file.path + ": can't be decoded as an image; skipped" + RemoveStaleMask(out);
      return;
    }
    cv::Mat mask;
    const LabelCounts counts = CountLabels(image, index, project.labels.size(), &mask, options.unlabelled);
    if (counts.unknown > 0) {
      problems[i] = file.path + ": " + std::to_string(counts.unknown) + " pixels of colours no label has, the first at (" +
                    std::to_string(counts.firstUnknown.x) + ", " + std::to_string(counts.firstUnknown.y) + "); skipped" +
                    RemoveStaleMask(out);
      return;
    }
    problems[i] = WriteMask(out, mask);
    if (!problems[i].empty()) problems[i] += RemoveStaleMask(out);
  });
  if (options.frames) {
    std::vector<int> exportedFrames;
    for (size_t i = 0; i < files.size(); ++i) {
      if (problems[i].empty()) exportedFrames.push_back(files[i].frame);
    }
    for (std::string& problem :
         ExportFrames(*project.config.FILE_TIMELINE, exportedFrames, std::filesystem::path(options.out) / "frames")) {
      problems.push_back(std::move(problem));
    }
  }
  const std::string classesPath = (std::filesystem::path(options.out) / "classes.csv").string();
  const std::string classes = ClassesCsv(project.labels);
  const std::string classesProblem =
      WriteFileAtomically(classesPath, std::vector<unsigned char>(classes.begin(), classes.end()));
  if (!classesProblem.empty()) problems.push_back(classesPath + ": cannot be written: " + classesProblem);
  int failed = 0;
  size_t masksFailed = 0;  // the first files.size() problems are the masks'; frames and the class list follow
  for (size_t i = 0; i < problems.size(); ++i) {
    if (problems[i].empty()) continue;
    std::fprintf(stderr, "labeler-tool: error: %s\n", problems[i].c_str());
    ++failed;
    if (i < files.size()) ++masksFailed;
  }
  const size_t exported = files.size() - masksFailed;
  std::printf("Exported %zu of %zu label images to %s\n", exported, files.size(), options.out.c_str());
  return failed > 0 ? 1 : 0;
}

}  // namespace labeler::tool
