#include "tools/label_project.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <regex>
#include <thread>
#include <tuple>

#include "annotation/label_images.h"
#include "common/fatal_error.h"
#include "common/run_on_threads.h"
#include "tools/progress.h"

namespace labeler::tool {
namespace {

// The regular files of `dir` whose whole name matches `name`, its first group being the frame number; by frame,
// then path.
std::vector<LabelImageFile> FindFrameFiles(const std::string& dir, const std::regex& name) {
  std::vector<LabelImageFile> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    std::smatch match;
    const std::string filename = entry.path().filename().string();
    if (entry.is_regular_file(error) && std::regex_match(filename, match, name)) {
      files.push_back({std::stoi(match[1]), entry.path().string()});
    }
  }
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return std::tie(a.frame, a.path) < std::tie(b.frame, b.path); });
  return files;
}

}  // namespace

LabelProject LoadLabelProject(const std::string& metaPath, bool needsTimeline) {
  LabelProject project;
  ReadMetaFile(project.config, metaPath);
  std::string missing;
  if (!project.config.FILE_LABEL_NAMES) missing += " FILE_LABEL_NAMES";
  if (!project.config.DIR_LABEL_IMGS) missing += " DIR_LABEL_IMGS";
  if (needsTimeline && !project.config.FILE_TIMELINE) missing += " FILE_TIMELINE";
  if (!missing.empty()) throw FatalError(ErrorLine("meta file " + metaPath + " lacks" + missing));
  LoadLabelSet(*project.config.FILE_LABEL_NAMES, project.labels);
  return project;
}

std::vector<LabelImageFile> FindLabelImages(const std::string& dir) {
  std::error_code error;
  if (!std::filesystem::is_directory(dir, error)) {
    throw FatalError(ErrorLine("label folder " + dir + " (DIR_LABEL_IMGS) is not a folder"));
  }
  static const std::regex kName(R"(frame-(\d{6,9})\.png)");
  return FindFrameFiles(dir, kName);
}

std::vector<LabelImageFile> FindConflictFiles(const std::string& dir) {
  static const std::regex kName(R"(frame-(\d{6,9})\.conflict-\d+\.png)");
  return FindFrameFiles(dir, kName);
}

// Label images are runs of equal colours: each run is looked up and counted once.
LabelCounts CountLabels(const cv::Mat& image, const ColourIndex& index, size_t labelCount, cv::Mat* indices,
                        int unlabelledValue) {
  LabelCounts counts;
  counts.perLabel.assign(labelCount, 0);
  if (indices != nullptr) indices->create(image.size(), CV_8UC1);
  const bool blackIsLabel = index.blackLabel() >= 0;
  constexpr int kUnlabelled = -2;
  cv::Vec3b lastColour(0, 0, 0);
  int lastLabel = blackIsLabel ? index.blackLabel() : kUnlabelled;
  for (int y = 0; y < image.rows; ++y) {
    const cv::Vec3b* row = image.ptr<cv::Vec3b>(y);
    uchar* out = indices != nullptr ? indices->ptr<uchar>(y) : nullptr;
    for (int x = 0; x < image.cols;) {
      const cv::Vec3b colour = row[x];
      int end = x + 1;
      while (end < image.cols && row[end] == colour) ++end;
      if (colour != lastColour) {
        lastColour = colour;
        lastLabel = colour == cv::Vec3b(0, 0, 0) && !blackIsLabel ? kUnlabelled : index.Find(colour);
      }
      const int length = end - x;
      if (lastLabel >= 0) {
        counts.perLabel[lastLabel] += length;
        if (out != nullptr) std::memset(out + x, lastLabel, length);
      } else if (lastLabel == kUnlabelled) {
        counts.unlabelled += length;
        if (out != nullptr) std::memset(out + x, unlabelledValue, length);
      } else {
        if (counts.unknown == 0) counts.firstUnknown = {x, y};
        counts.unknown += length;
      }
      x = end;
    }
  }
  return counts;
}

void ForEachFrameOnAllCores(int count, const char* what, const std::function<void(int)>& work) {
  Progress progress(what, count);
  ForEachFrameOnAllCores(count, progress, 0, work);
  progress.Finish();
}

void ForEachFrameOnAllCores(int count, Progress& progress, int before, const std::function<void(int)>& work) {
  std::atomic<int> next{0};
  std::atomic<int> done{0};
  auto worker = [&](int thread) {
    for (int i = next++; i < count; i = next++) {
      try {
        work(i);
      } catch (...) {
        next = count;  // the run has failed: no thread starts another frame
        throw;
      }
      const int finished = ++done;
      if (thread == 0) progress.Update(before + finished);  // the calling thread reports progress
    }
  };
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  RunOnThreads(std::clamp(count, 1, cores), worker);
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace labeler::tool
