// What the export, stats and carry commands read of a labelling project: its meta file, its label set, its label
// images, and the mapping from label colours back to label indices; and what those commands share besides: a
// loop over frames on every core and CSV fields.
#ifndef LABELER_TOOLS_LABEL_PROJECT_H_
#define LABELER_TOOLS_LABEL_PROJECT_H_

#include <functional>
#include <opencv2/core.hpp>
#include <string>
#include <utility>
#include <vector>

#include "config/colour_index.h"
#include "config/label_set.h"
#include "config/meta_file.h"
#include "tools/progress.h"

namespace labeler::tool {

struct LabelProject {
  MetaConfig config;
  LabelSet labels;
};

// Reads the meta file and the label names. Throws FatalError when either can't be read, or when the meta file lacks
// FILE_LABEL_NAMES, DIR_LABEL_IMGS or, with `needsTimeline`, FILE_TIMELINE.
LabelProject LoadLabelProject(const std::string& metaPath, bool needsTimeline);

struct LabelImageFile {
  int frame;
  std::string path;
};
// The label images "frame-NNNNNN.png" of `dir` (6 to 9 digits), by ascending frame number. Throws FatalError
// when `dir` is not a folder.
std::vector<LabelImageFile> FindLabelImages(const std::string& dir);

// The conflict files of `dir`, "frame-NNNNNN.conflict-K.png": a labeller's version of a label image saved beside
// the one another process changed meanwhile, waiting for someone to reconcile them. They are not frames. Sorted
// by frame, then name; none when `dir` can't be read.
std::vector<LabelImageFile> FindConflictFiles(const std::string& dir);

// What one label image holds.
struct LabelCounts {
  std::vector<long long> perLabel;  // pixels of each label
  long long unlabelled = 0;         // black pixels when no label is black
  long long unknown = 0;            // pixels of colours no label has
  cv::Point firstUnknown{-1, -1};
};

// Counts the pixels of `image` per label; when `indices` is given, also writes there (8-bit, one channel)
// each pixel's label index, or `unlabelledValue` for unlabelled pixels. Pixels of colours no label has are left
// unwritten there: an image with any is not to be exported.
LabelCounts CountLabels(const cv::Mat& image, const ColourIndex& index, size_t labelCount, cv::Mat* indices,
                        int unlabelledValue);

// Runs work(i) for i in [0, count) on every core, and says how far it is on standard error (see Progress).
// When a call throws, no further frame is started, and the first exception is rethrown here once every thread
// has stopped.
void ForEachFrameOnAllCores(int count, const char* what, const std::function<void(int)>& work);
// The same as part of a longer run whose `progress` already counts `before` frames done.
void ForEachFrameOnAllCores(int count, Progress& progress, int before, const std::function<void(int)>& work);

// A CSV field, quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text);

}  // namespace labeler::tool

#endif  // LABELER_TOOLS_LABEL_PROJECT_H_
