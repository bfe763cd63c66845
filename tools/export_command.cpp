#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

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
};

ExportOptions ParseExportOptions(int argc, char** argv) {
  ExportOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--meta") {
      options.meta = TextOption(argc, argv, i, kExportUsage);
    } else if (arg == "--out") {
      options.out = TextOption(argc, argv, i, kExportUsage);
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

void WriteClasses(const std::string& path, const LabelSet& labels) {
  std::ofstream csv(path);
  csv << "index,name,red,green,blue,hot_key\n";
  for (size_t i = 0; i < labels.size(); ++i) {
    const LabelInfo& label = labels[i];
    csv << i << ',' << CsvField(label.name) << ',' << label.red << ',' << label.green << ',' << label.blue << ','
        << (label.hotKey >= 0 ? std::to_string(label.hotKey) : "") << '\n';
  }
  if (!csv) throw FatalError(ErrorLine("cannot write " + path));
}

}  // namespace

// Every label image becomes an index mask; a file with colours no label has is reported and skipped, and the
// command then ends with status 1 once the others are done.
int ExportCommand(int argc, char** argv) {
  const ExportOptions options = ParseExportOptions(argc, argv);
  const LabelProject project = LoadLabelProject(options.meta, false);
  if (project.labels.size() > 256) {
    throw FatalError(ErrorLine("an 8-bit index mask holds 256 labels; " + options.meta + " has " +
                               std::to_string(project.labels.size())));
  }
  const ColourIndex index(project.labels);
  if (index.blackLabel() < 0 && options.unlabelled < static_cast<int>(project.labels.size())) {
    std::fprintf(stderr, "labeler-tool: warning: --unlabelled %d is also the index of label '%s'\n",
                 options.unlabelled, project.labels[options.unlabelled].name.c_str());
  }
  std::error_code error;
  std::filesystem::create_directories(options.out, error);
  if (!std::filesystem::is_directory(options.out, error)) {
    throw FatalError(ErrorLine("cannot create the output folder " + options.out));
  }
  const std::vector<LabelImageFile> files = FindLabelImages(*project.config.DIR_LABEL_IMGS);
  std::vector<std::string> problems(files.size());
  ForEachFrameOnAllCores(static_cast<int>(files.size()), "export", [&](int i) {
    const LabelImageFile& file = files[i];
    const cv::Mat image = ReadStoredLabelImage(file.path);
    if (image.empty()) {
      problems[i] = file.path + ": can't be decoded as an image; skipped";
      return;
    }
    cv::Mat mask;
    const LabelCounts counts = CountLabels(image, index, project.labels.size(), &mask, options.unlabelled);
    if (counts.unknown > 0) {
      problems[i] = file.path + ": " + std::to_string(counts.unknown) + " pixels of colours no label has, the first at (" +
                    std::to_string(counts.firstUnknown.x) + ", " + std::to_string(counts.firstUnknown.y) + "); skipped";
      return;
    }
    char name[32];
    std::snprintf(name, sizeof name, "frame-%.6d.png", file.frame);
    const std::string out = (std::filesystem::path(options.out) / name).string();
    if (!WriteMaskPng(out, mask)) problems[i] = out + ": cannot be written";
  });
  WriteClasses((std::filesystem::path(options.out) / "classes.csv").string(), project.labels);
  int failed = 0;
  for (const std::string& problem : problems) {
    if (problem.empty()) continue;
    std::fprintf(stderr, "labeler-tool: error: %s\n", problem.c_str());
    ++failed;
  }
  std::printf("Exported %zu of %zu label images to %s\n", files.size() - failed, files.size(), options.out.c_str());
  return failed > 0 ? 1 : 0;
}

}  // namespace labeler::tool
