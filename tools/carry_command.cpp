// labeler-tool carry: how well labels carried from frame to frame match the true labels.
//
// For every K-th frame t that has a true label image, the true labels of t are carried to t + 1 (one step) and
// on, each step from the previous proposal, to t + STEPS; each method is scored against the true labels of
// t + 1 and of t + STEPS: pixel accuracy over the truly labelled pixels, and per label the intersection over
// union, summed over all frames scored. Methods: a plain copy of the labels, the optical flow, and the flow
// snapped to the regions of each presegmentation setting, as "p" in the labeller does.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "annotation/label_images.h"
#include "common/quiet_console.h"
#include "preseg/preseg_engine.h"
#include "propagation/label_carrier.h"
#include "timeline/timeline.h"
#include "tools/command_support.h"
#include "tools/commands.h"
#include "tools/label_project.h"

namespace labeler::tool {
namespace {

struct CarryOptions {
  std::string meta;
  std::string truth;
  int every = 1;
  int steps = 5;
};

CarryOptions ParseCarryOptions(int argc, char** argv) {
  CarryOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--meta") {
      options.meta = TextOption(argc, argv, i, kCarryUsage);
    } else if (arg == "--truth") {
      options.truth = TextOption(argc, argv, i, kCarryUsage);
    } else if (arg == "--every") {
      options.every = IntOption(argc, argv, i, 1, 1000000, kCarryUsage);
    } else if (arg == "--steps") {
      options.steps = IntOption(argc, argv, i, 1, 1000, kCarryUsage);
    } else {
      throw FatalError(ErrorLine("unexpected argument " + arg) + kCarryUsage);
    }
  }
  if (options.meta.empty()) throw FatalError(ErrorLine("--meta is required") + kCarryUsage);
  return options;
}

// Pixel counts of one method over all frames scored.
struct Score {
  long long correct = 0;
  long long labelled = 0;
  std::vector<long long> intersection, truthCount, carriedCount;

  void Add(const cv::Mat& carried, const cv::Mat& truth, const ColourIndex& index, size_t labels) {
    intersection.resize(labels);
    truthCount.resize(labels);
    carriedCount.resize(labels);
    for (int y = 0; y < truth.rows; ++y) {
      const cv::Vec3b* t = truth.ptr<cv::Vec3b>(y);
      const cv::Vec3b* c = carried.ptr<cv::Vec3b>(y);
      for (int x = 0; x < truth.cols; ++x) {
        const int truthLabel = t[x] == cv::Vec3b(0, 0, 0) ? -1 : index.Find(t[x]);
        const int carriedLabel = c[x] == cv::Vec3b(0, 0, 0) ? -1 : index.Find(c[x]);
        if (truthLabel >= 0) {
          ++labelled;
          ++truthCount[truthLabel];
          correct += truthLabel == carriedLabel;
        }
        if (carriedLabel >= 0) ++carriedCount[carriedLabel];
        if (truthLabel >= 0 && truthLabel == carriedLabel) ++intersection[truthLabel];
      }
    }
  }
  double Iou(size_t label) const {
    const long long unite = truthCount[label] + carriedCount[label] - intersection[label];
    return unite == 0 ? -1 : static_cast<double>(intersection[label]) / unite;
  }
};

// The frames, their grey versions, their flows and their presegmentations, each computed once while the run
// still needs it. The run visits the clip forward, starting frame after starting frame, so everything about the
// frames before the current starting frame is forgotten: memory stays that of the frames one start spans.
class ClipCache {
 public:
  ClipCache(const std::string& timeline) : timeline_(timeline) {
    QuietConsole quiet;
    timeline_.ReloadMovie();
  }
  int frameCount() const { return timeline_.frameCount(); }
  cv::Size frameSize() const { return {timeline_.width(), timeline_.height()}; }
  void ForgetFramesBefore(int frame) {
    frames_.erase(frames_.begin(), frames_.lower_bound(frame));
    greys_.erase(greys_.begin(), greys_.lower_bound(frame));
    std::erase_if(flows_, [frame](const auto& flow) { return std::min(flow.first.first, flow.first.second) < frame; });
    std::erase_if(regions_, [frame](const auto& regions) { return regions.first.first < frame; });
  }
  // Whether the movie has the frames `first` to `last`, read in that order (a movie without an index would be
  // read again from its start for every step back). A movie that ends early is found out here, before its last
  // frame could be taken for a later one.
  bool Reaches(int first, int last) {
    QuietConsole quiet;
    for (int frame = first; frame <= last; ++frame) {
      if (frames_.count(frame) != 0) continue;
      cv::Mat picture = timeline_.GoToFrame(frame).clone();
      if (timeline_.currentFrame() != frame) return false;
      frames_[frame] = picture;
    }
    return true;
  }
  // A frame Reaches has read: every frame of a start is.
  const cv::Mat& Frame(int frame) const { return frames_.at(frame); }
  // The flow from frame `to` back to frame `from`.
  const cv::Mat& Flow(int to, int from) {
    auto key = std::make_pair(to, from);
    auto it = flows_.find(key);
    if (it != flows_.end()) return it->second;
    return flows_[key] = carrier_.Flow(Grey(to), Grey(from));
  }
  std::shared_ptr<const RegionMap> Regions(int frame, int setting) {
    auto key = std::make_pair(frame, setting);
    auto it = regions_.find(key);
    if (it != regions_.end()) return it->second;
    QuietConsole quiet;
    PresegEngine engine;
    engine.CreatePresegImages(Frame(frame).size());
    engine.currentPreseg().algorithm = setting;
    engine.UpdatePresegmentation(Frame(frame), frame, 1);
    return regions_[key] = engine.Regions();
  }

 private:
  const cv::Mat& Grey(int frame) {
    auto it = greys_.find(frame);
    if (it != greys_.end()) return it->second;
    cv::Mat grey;
    cv::cvtColor(Frame(frame), grey, cv::COLOR_BGR2GRAY);
    return greys_[frame] = grey;
  }

  Timeline timeline_;
  LabelCarrier carrier_;
  std::map<int, cv::Mat> frames_, greys_;
  std::map<std::pair<int, int>, cv::Mat> flows_;
  std::map<std::pair<int, int>, std::shared_ptr<const RegionMap>> regions_;
};

const char* kMethodNames[] = {"copy", "flow", "flow + pyramid", "flow + mean shift 1", "flow + mean shift 2",
                              "flow + mean shift 3", "flow + graph"};
constexpr int kMethods = 7;

cv::Mat CarryOneStep(ClipCache& clip, int method, const cv::Mat& labels, int from, int to) {
  if (method == 0) return labels;
  cv::Mat carried = CarryLabels(labels, clip.Flow(to, from));
  if (method == 1) return carried;
  return SnapToRegions(carried, *clip.Regions(to, method - 1));
}

// Whether the label images of `frames` are all of the frames' size; names the first that is not.
bool OfFrameSize(const std::array<int, 3>& frames, const std::array<cv::Mat, 3>& images, cv::Size size,
                 const std::string& dir) {
  for (size_t i = 0; i < frames.size(); ++i) {
    if (images[i].size() == size) continue;
    std::fprintf(stderr,
                 "labeler-tool carry: warning: %s is %d x %d pixels, not of the frames' size %d x %d; "
                 "frame %d is not scored\n",
                 LabelImagePath(dir, frames[i]).c_str(), images[i].cols, images[i].rows, size.width, size.height,
                 frames[0]);
    return false;
  }
  return true;
}

void PrintTable(const char* title, const std::array<Score, kMethods>& scores, const LabelSet& labels) {
  std::printf("%s\n%-22s %9s", title, "method", "accuracy");
  for (const LabelInfo& label : labels) std::printf(" %12.12s", label.name.c_str());
  std::printf("\n");
  for (int m = 0; m < kMethods; ++m) {
    const Score& score = scores[m];
    std::printf("%-22s %9.4f", kMethodNames[m], score.labelled ? static_cast<double>(score.correct) / score.labelled : 0);
    for (size_t l = 0; l < labels.size(); ++l) {
      const double iou = l < score.truthCount.size() ? score.Iou(l) : -1;
      if (iou < 0) {
        std::printf(" %12s", "-");
      } else {
        std::printf(" %12.4f", iou);
      }
    }
    std::printf("\n");
  }
}

}  // namespace

int CarryCommand(int argc, char** argv) {
  const CarryOptions options = ParseCarryOptions(argc, argv);
  const LabelProject project = LoadLabelProject(options.meta, true);
  const std::string truthDir = options.truth.empty() ? *project.config.DIR_LABEL_IMGS : options.truth;
  const ColourIndex index(project.labels);
  const std::string& timeline = *project.config.FILE_TIMELINE;
  ClipCache clip(timeline);
  const cv::Size size = clip.frameSize();
  if (!CanCarry(size)) {
    throw FatalError(ErrorLine("the frames of " + timeline + " are " + std::to_string(size.width) + " x " +
                               std::to_string(size.height) + " pixels; labels can't be carried between frames under " +
                               std::to_string(kSmallestCarriedSide) + " pixels on a side"));
  }
  std::array<Score, kMethods> oneStep, chained;
  int scored = 0;
  for (int start = 0; start + options.steps < clip.frameCount(); start += options.every) {
    clip.ForgetFramesBefore(start);
    const cv::Mat first = ReadStoredLabelImage(LabelImagePath(truthDir, start), size);
    const cv::Mat next = ReadStoredLabelImage(LabelImagePath(truthDir, start + 1), size);
    const cv::Mat last = ReadStoredLabelImage(LabelImagePath(truthDir, start + options.steps), size);
    if (first.empty() || next.empty() || last.empty()) continue;
    if (!OfFrameSize({start, start + 1, start + options.steps}, {first, next, last}, size, truthDir)) continue;
    if (!clip.Reaches(start, start + options.steps)) {
      std::fprintf(stderr, "labeler-tool carry: warning: %s ends before frame %d; frames from %d on are not scored\n",
                   timeline.c_str(), start + options.steps, start);
      break;
    }
    for (int method = 0; method < kMethods; ++method) {
      cv::Mat labels = first;
      for (int step = 1; step <= options.steps; ++step) {
        labels = CarryOneStep(clip, method, labels, start + step - 1, start + step);
        if (step == 1) oneStep[method].Add(labels, next, index, project.labels.size());
      }
      chained[method].Add(labels, last, index, project.labels.size());
    }
    ++scored;
    std::fprintf(stderr, "labeler-tool carry: frame %d scored\n", start);
  }
  if (scored == 0) throw FatalError(ErrorLine("no frame of " + truthDir + " has the true labels needed to score"));
  std::printf("Scored %d starting frames of %s against %s\n", scored, timeline.c_str(), truthDir.c_str());
  PrintTable("One step (t to t + 1): pixel accuracy and intersection over union per label", oneStep, project.labels);
  PrintTable(("Chained (t to t + " + std::to_string(options.steps) + ", each step from the last)").c_str(), chained,
             project.labels);
  return 0;
}

}  // namespace labeler::tool
