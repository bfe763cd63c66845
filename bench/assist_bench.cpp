// labeler_assist_bench: the strokes a simulated annotator needs per frame of the demo clip, painting alone, after
// carrying the previous frame's labels ("p"), and with label assist on.
//
// Usage: labeler_assist_bench --demo DIR [--frames N] [--first F] [--setting S] [--assist-only 1]
// DIR is a folder written by "labeler-demo DIR --truth DIR/truth [--hard]". In each mode the annotator labels
// frames F to F+N-1 in order on a label folder of its own, each frame on the label images it finished for the
// frames before, through the labeller's own classes. Until the label image shown is good enough (pixel accuracy
// 0.95 and mean IoU 0.90 over the labels the truth holds, or 80 strokes), it scribbles the true label over the
// largest wrong area, with the region tool (setting S) or the brush (setting 0), whichever fixes more pixels;
// taking up the other tool costs a stroke. With assist, every completion shown also says how well its confidence
// points at its errors, as a reviewer of a pre-labelled clip would use it: the share of its wrong pixels among its
// 10 % least sure.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <set>
#include <stdexcept>
#include <vector>

#include "annotation/frame_assistant.h"
#include "annotation/label_image_file.h"
#include "annotation/label_images.h"
#include "common/quiet_console.h"
#include "propagation/label_carrier.h"

namespace labeler {
namespace {

constexpr int kMaxStrokes = 80;
constexpr int kMaxRadius = 10;
constexpr size_t kMaxScribblePoints = 40;
constexpr double kGoodAccuracy = 0.95;
constexpr double kGoodMeanIou = 0.90;
constexpr double kLeastSureShare = 0.10;

struct Options {
  std::string demoDir;
  int frames = 8;
  int first = 0;
  int setting = kGraphPreseg;
  int assistOnly = 0;  // 1: only the assist mode, for quick comparisons of its variants
};

enum class Mode { kPlain, kCarryThenStrokes, kAssist };
constexpr const char* kModeNames[] = {"plain", "p then strokes", "assist"};

// Each pixel's colour as one number, so that label images compare with cv::compare.
cv::Mat PackColours(const cv::Mat& bgr) {
  cv::Mat packed(bgr.size(), CV_32S);
  for (int y = 0; y < bgr.rows; ++y) {
    const cv::Vec3b* in = bgr.ptr<cv::Vec3b>(y);
    int* out = packed.ptr<int>(y);
    for (int x = 0; x < bgr.cols; ++x) out[x] = in[x][0] | in[x][1] << 8 | in[x][2] << 16;
  }
  return packed;
}

cv::Scalar UnpackColour(int packed) { return cv::Scalar(packed & 255, (packed >> 8) & 255, packed >> 16, 0); }

struct Truth {
  cv::Mat packed;
  std::vector<int> labels;  // the colours it holds
};

Truth ReadTruth(const std::string& dir, int frame) {
  const cv::Mat image = cv::imread(LabelImagePath(dir, frame), cv::IMREAD_COLOR);
  if (image.empty()) throw std::runtime_error("no truth " + LabelImagePath(dir, frame));
  Truth truth{PackColours(image), {}};
  const std::set<int> labels(truth.packed.begin<int>(), truth.packed.end<int>());
  truth.labels.assign(labels.begin(), labels.end());
  return truth;
}

struct Score {
  double accuracy = 0;
  double meanIou = 0;
  bool Good() const { return accuracy >= kGoodAccuracy && meanIou >= kGoodMeanIou; }
};

Score Compare(const cv::Mat& shown, const Truth& truth) {
  const cv::Mat packed = PackColours(shown);
  Score score;
  score.accuracy = cv::countNonZero(packed == truth.packed) / static_cast<double>(packed.total());
  for (int label : truth.labels) {
    const cv::Mat shownHere = packed == label, trueHere = truth.packed == label;
    score.meanIou += cv::countNonZero(shownHere & trueHere) / double(cv::countNonZero(shownHere | trueHere));
  }
  score.meanIou /= static_cast<double>(truth.labels.size());
  return score;
}

struct WrongArea {
  cv::Mat mask;  // 255 inside
  int label = 0;
  int pixels = 0;
};

// The largest 8-connected area of pixels of one true label shown unlabelled or with another label.
WrongArea LargestWrongArea(const cv::Mat& shown, const Truth& truth) {
  const cv::Mat wrong = PackColours(shown) != truth.packed;
  WrongArea largest;
  for (int label : truth.labels) {
    cv::Mat components, stats, centroids;
    const int count = cv::connectedComponentsWithStats(wrong & (truth.packed == label), components, stats,
                                                       centroids, 8, CV_32S);
    for (int c = 1; c < count; ++c) {
      const int pixels = stats.at<int>(c, cv::CC_STAT_AREA);
      if (pixels > largest.pixels) largest = {components == c, label, pixels};
    }
  }
  return largest;
}

struct Scribble {
  std::vector<cv::Point> points;
  int radius = 1;
  cv::Scalar colour;
};

// A point of `core` in every `step`-sized cell that holds one, row after row walked back and forth, as a hand
// scribbles; every cell counts, so that a thin core is not missed between grid lines.
std::vector<cv::Point> PointsEvery(const cv::Mat& core, int step) {
  const cv::Rect bounds = cv::boundingRect(core);
  std::vector<cv::Point> points;
  for (int y = bounds.y, row = 0; y < bounds.br().y; y += step, ++row) {
    std::vector<cv::Point> rowPoints;
    for (int x = bounds.x; x < bounds.br().x; x += step) {
      const cv::Rect cell = cv::Rect(x, y, step, step) & bounds;
      std::vector<cv::Point> inside;
      cv::findNonZero(core(cell), inside);
      if (!inside.empty()) rowPoints.push_back(inside[inside.size() / 2] + cell.tl());
    }
    if (row % 2 == 1) std::reverse(rowPoints.begin(), rowPoints.end());
    points.insert(points.end(), rowPoints.begin(), rowPoints.end());
  }
  return points;
}

// One drag over `area` with its true label: discs as large as the area allows, up to 10 pixels, where they fit
// inside it, one every radius or, for a large area, sparser to stay within 40 points.
Scribble ScribbleOver(const WrongArea& area) {
  cv::Mat distance;
  cv::distanceTransform(area.mask, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE);
  double deepest = 0;
  cv::minMaxLoc(distance, nullptr, &deepest);
  Scribble scribble;
  scribble.radius = std::clamp(static_cast<int>(std::floor(deepest)), 1, kMaxRadius);
  scribble.colour = UnpackColour(area.label);
  const cv::Mat core = distance >= scribble.radius;
  int step = scribble.radius;
  scribble.points = PointsEvery(core, step);
  while (scribble.points.size() > kMaxScribblePoints) {
    step = static_cast<int>(std::ceil(step * std::sqrt(scribble.points.size() / double(kMaxScribblePoints))));
    scribble.points = PointsEvery(core, step);
  }
  return scribble;
}

// The assistant with a stopwatch, which keeps its last completion: what each completion costs the annotator in
// waiting, and how well its confidence points at its errors.
class TimedAssistant : public LabelCompleter {
 public:
  TimedAssistant(Timeline& timeline, PresegEngine& preseg, const LabelSet& labels, const std::string& labelDir)
      : assistant_(timeline, preseg, labels, labelDir, nullptr) {}
  cv::Mat Complete(const cv::Mat& labels, const cv::Mat& painted) override {
    const auto start = std::chrono::steady_clock::now();
    completed_ = assistant_.Complete(labels, painted);
    seconds_.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    painted_ = painted.clone();
    return completed_;
  }
  cv::Mat Confidence() const override { return assistant_.Confidence(); }
  bool Outdated() const override { return assistant_.Outdated(); }
  const std::vector<double>& seconds() const { return seconds_; }
  const cv::Mat& completed() const { return completed_; }
  const cv::Mat& painted() const { return painted_; }

 private:
  FrameAssistant assistant_;
  std::vector<double> seconds_;
  cv::Mat completed_;
  cv::Mat painted_;
};

// The share of a completion's wrong unpainted pixels that are among its 10 % least confident unpainted pixels:
// how much of the error a reviewer finds by looking there first. Pixels tied at the threshold count in
// proportion, as a random pick among them would. NaN unless some but at most 10 % of the unpainted pixels are
// wrong: with more, even a perfect confidence could not hold them all, and the figure would only say how wrong
// the completion is.
double WrongShareOfLeastSure(const cv::Mat& completed, const cv::Mat& painted, const cv::Mat& confidence,
                             const Truth& truth) {
  const cv::Mat wrong = PackColours(completed) != truth.packed;
  std::vector<double> pixels(256, 0), wrongPixels(256, 0);
  double unpainted = 0, allWrong = 0;
  for (int y = 0; y < completed.rows; ++y) {
    for (int x = 0; x < completed.cols; ++x) {
      if (painted.at<uchar>(y, x) != 0) continue;
      const uchar sure = confidence.at<uchar>(y, x);
      const bool isWrong = wrong.at<uchar>(y, x) != 0;
      ++pixels[sure];
      wrongPixels[sure] += isWrong;
      ++unpainted;
      allWrong += isWrong;
    }
  }
  if (allWrong == 0 || allWrong > kLeastSureShare * unpainted) return std::nan("");
  double left = kLeastSureShare * unpainted, found = 0;
  for (int sure = 0; sure < 256 && left > 0; ++sure) {
    const double taken = std::min(left, pixels[sure]);
    if (taken > 0) found += wrongPixels[sure] * taken / pixels[sure];
    left -= taken;
  }
  return found / allWrong;
}

struct FrameResult {
  int strokes = 0;
  Score score;
  // The strokes after which pixel accuracy first reached 0.95, and mean IoU 0.85 and 0.90; -1 for never.
  int strokesTo[3] = {-1, -1, -1};
  // WrongShareOfLeastSure of each completion shown to the annotator (on entering the frame, after each stroke)
  // for which it is defined.
  std::vector<double> wrongShares;
};

struct ModeRun {
  Mode mode;
  std::vector<FrameResult> frames;
  std::vector<double> completionSeconds;
};

// A fresh label folder for each run, removed with it however the run ends.
struct LabelFolder {
  LabelFolder() : path((std::filesystem::temp_directory_path() / "labeler-assist-bench-XXXXXX").string()) {
    if (mkdtemp(path.data()) == nullptr) throw std::runtime_error("cannot create a temporary label folder");
  }
  ~LabelFolder() { std::filesystem::remove_all(path); }
  std::string path;
};

// The label names of the demo clip.
LabelSet DemoLabels(const std::string& demoDir) {
  LabelSet labels;
  QuietConsole quiet;
  LoadLabelSet((std::filesystem::path(demoDir) / "labels.txt").string(), labels);
  return labels;
}

// One annotator's pass over the frames in one mode: the labeller's classes on the demo clip, without windows.
class Session {
 public:
  Session(const Options& options, Mode mode)
      : options_(options), mode_(mode), labelDir_(labelFolder_.path),
        timeline_((std::filesystem::path(options.demoDir) / "demo.avi").string()),
        assistant_(timeline_, preseg_, DemoLabels(options.demoDir), labelDir_), images_(timeline_, preseg_, strokes_, redraws_, labelDir_),
        tool_(options.setting) {
    timeline_.ReloadMovie();
    timeline_.GoToFrame(options.first);
    if (options.first + options.frames > timeline_.frameCount()) throw std::runtime_error("the clip is too short");
    preseg_.CreatePresegImages(timeline_.frame().size());
    preseg_.currentPreseg().algorithm = options.setting;
    images_.Create(timeline_.frame().size());
    images_.LoadCurrentFrame();
    if (mode == Mode::kAssist) images_.SetCompleter(&assistant_);
    images_.RenderWorking(RenderMode::kFull);
  }

  ModeRun Run() {
    ModeRun run{mode_, {}, {}};
    for (int i = 0; i < options_.frames; ++i) {
      if (i > 0) NextFrame();
      if (i > 0 && mode_ == Mode::kCarryThenStrokes) CarryPreviousFrame();
      run.frames.push_back(Annotate(ReadTruth(options_.demoDir + "/truth", timeline_.currentFrame())));
    }
    run.completionSeconds = assistant_.seconds();
    return run;
  }

 private:
  // Leaving the frame saves its label image, as the labeller does on Space; with assist, the annotator accepts
  // the finished frame (Enter), so that a completion it needed no stroke for is saved too.
  void NextFrame() {
    if (mode_ == Mode::kAssist) images_.Accept();
    if (!images_.ChangeFrame(+1)) throw std::runtime_error("cannot save a label image in " + labelDir_);
    images_.RenderWorking(RenderMode::kFull);
  }

  // What the "p" key does: the previous frame's finished label image carried by the flow, snapped to the regions
  // of the setting in force, as one carried stroke.
  void CarryPreviousFrame() {
    const int current = timeline_.currentFrame();
    cv::Mat labels = images_.SavedOnLeaving(current - 1);
    if (labels.empty()) labels = ReadStoredLabelImage(LabelImagePath(labelDir_, current - 1));
    cv::Mat carried = CarryLabels(labels, carrier_.Flow(Grey(current), Grey(current - 1)));
    preseg_.UpdatePresegmentation(timeline_.frame(), current, 0);
    if (std::shared_ptr<const RegionMap> regions = preseg_.Regions()) carried = SnapToRegions(carried, *regions);
    strokes_.AddCarriedLabels(std::move(carried), FormatPresegParams(preseg_.currentPreseg()));
    images_.RenderWorking();
    images_.Commit();
  }

  cv::Mat Grey(int frame) {
    cv::Mat grey;
    cv::cvtColor(timeline_.FrameAt(frame).image, grey, cv::COLOR_BGR2GRAY);
    return grey;
  }

  FrameResult Annotate(const Truth& truth) {
    FrameResult result;
    for (;;) {
      result.score = Compare(images_.shown(), truth);
      const bool reached[3] = {result.score.accuracy >= kGoodAccuracy, result.score.meanIou >= 0.85,
                               result.score.meanIou >= kGoodMeanIou};
      for (int goal = 0; goal < 3; ++goal) {
        if (reached[goal] && result.strokesTo[goal] < 0) result.strokesTo[goal] = result.strokes;
      }
      if (mode_ == Mode::kAssist && !assistant_.Confidence().empty()) {
        const double share =
            WrongShareOfLeastSure(assistant_.completed(), assistant_.painted(), assistant_.Confidence(), truth);
        if (!std::isnan(share)) result.wrongShares.push_back(share);
      }
      if (result.score.Good() || result.strokes >= kMaxStrokes) return result;
      result.strokes += PaintWithBetterTool(ScribbleOver(LargestWrongArea(images_.shown(), truth)), truth);
    }
  }

  // Tries the other tool first and takes it back; keeps the tool in hand unless the other fixed more. Returns
  // the strokes spent, the change of tool counted as one.
  int PaintWithBetterTool(const Scribble& scribble, const Truth& truth) {
    if (options_.setting == kNoPreseg) {
      Paint(scribble, kNoPreseg);
      return 1;
    }
    const int other = tool_ == kNoPreseg ? options_.setting : kNoPreseg;
    Paint(scribble, other);
    const double accuracyWithOther = Compare(images_.shown(), truth).accuracy;
    Undo();
    Paint(scribble, tool_);
    if (Compare(images_.shown(), truth).accuracy >= accuracyWithOther) return 1;
    Undo();
    Paint(scribble, other);
    tool_ = other;
    return 2;
  }

  // A drag as the mouse paints it: press, moves, release, then the render and commit of the release.
  void Paint(const Scribble& scribble, int tool) {
    PresegParams params = preseg_.currentPreseg();
    params.algorithm = tool;
    const std::vector<cv::Point>& points = scribble.points;
    strokes_.BeginStroke(points.front().x, points.front().y, scribble.radius, scribble.colour,
                         FormatPresegParams(params));
    for (size_t i = 1; i + 1 < points.size(); ++i) strokes_.currentStroke()->AddPoint(points[i].x, points[i].y);
    strokes_.EndStroke(points.back().x, points.back().y);
    images_.RenderWorking(RenderMode::kIncremental);
    images_.Commit();
  }

  void Undo() {
    strokes_.UndoStroke();
    images_.RebuildCommitted();
  }

  const Options options_;
  const Mode mode_;
  const LabelFolder labelFolder_;
  const std::string& labelDir_;
  Timeline timeline_;
  PresegEngine preseg_;
  StrokeStore strokes_;
  RedrawRequests redraws_;
  TimedAssistant assistant_;
  LabelImages images_;
  LabelCarrier carrier_;
  int tool_;  // the setting the annotator paints with now
};

// The timeline, the presegmentations and the label images say what they do on the console, as for the annotator;
// here only the table counts.
ModeRun RunMode(const Options& options, Mode mode) {
  QuietConsole quiet;
  return Session(options, mode).Run();
}

double Mean(const std::vector<double>& values) {
  return values.empty() ? 0 : std::accumulate(values.begin(), values.end(), 0.0) / values.size();
}

// How well the assist's confidence points at its errors: per frame the mean over its completions of the share of
// their wrong pixels among their 10 % least sure ("-" where no completion counts), then the mean over the frames.
void PrintLeastSure(const ModeRun& run) {
  std::vector<double> frameMeans;
  std::printf("%-16s", "  least sure");
  for (const FrameResult& frame : run.frames) {
    if (frame.wrongShares.empty()) {
      std::printf(" %5s", "-");
    } else {
      frameMeans.push_back(Mean(frame.wrongShares));
      std::printf(" %5.2f", frameMeans.back());
    }
  }
  std::printf(" %6.2f\n", Mean(frameMeans));
}

// One line: the strokes of each frame (starred where the annotator gave up), then the means over the frames.
void PrintRun(const ModeRun& run) {
  std::vector<double> strokes, accuracy, iou;
  std::printf("%-16s", kModeNames[static_cast<int>(run.mode)]);
  for (const FrameResult& frame : run.frames) {
    std::printf(" %4d%s", frame.strokes, frame.score.Good() ? " " : "*");
    strokes.push_back(frame.strokes);
    accuracy.push_back(frame.score.accuracy);
    iou.push_back(frame.score.meanIou);
  }
  std::printf(" %6.1f %9.3f %9.3f", Mean(strokes), Mean(accuracy), Mean(iou));
  if (!run.completionSeconds.empty()) std::printf("   %.3f s", Mean(run.completionSeconds));
  std::printf("\n");
  if (run.mode == Mode::kAssist) PrintLeastSure(run);
  const FrameResult& fresh = run.frames.front();
  std::printf("  first frame: accuracy 0.95 after %d strokes, mean IoU 0.85 after %d, 0.90 after %d (-1: never)\n",
              fresh.strokesTo[0], fresh.strokesTo[1], fresh.strokesTo[2]);
}

void PrintTable(const Options& options, const std::vector<ModeRun>& runs) {
  std::printf("Strokes per frame until pixel accuracy >= %.2f and mean IoU >= %.2f; %s, setting %d\n", kGoodAccuracy,
              kGoodMeanIou, options.demoDir.c_str(), options.setting);
  std::printf("%-16s", "mode");
  for (int i = 0; i < options.frames; ++i) std::printf(" %5d", options.first + i);
  std::printf("   mean  accuracy  mean IoU   per completion\n");
  for (const ModeRun& run : runs) PrintRun(run);
  std::printf("* stopped after %d strokes short of the goal; accuracy and mean IoU: means over the frames\n",
              kMaxStrokes);
  std::printf("least sure: share of the wrong unpainted pixels among the %.0f %% least sure, per completion shown "
              "with at most %.0f %% wrong\n",
              100 * kLeastSureShare, 100 * kLeastSureShare);
}

bool ParseOptions(int argc, char** argv, Options& options) {
  if (argc % 2 == 0) return false;
  for (int i = 1; i < argc; i += 2) {
    const std::string name = argv[i];
    int* number = name == "--frames" ? &options.frames
                  : name == "--first" ? &options.first
                  : name == "--setting" ? &options.setting
                  : name == "--assist-only" ? &options.assistOnly
                  : nullptr;
    if (name == "--demo") options.demoDir = argv[i + 1];
    else if (number != nullptr) *number = std::atoi(argv[i + 1]);
    else return false;
  }
  return !options.demoDir.empty() && options.frames > 0 && options.first >= 0 && options.setting >= kNoPreseg &&
         options.setting <= kLastPresegSetting;
}

}  // namespace
}  // namespace labeler

int main(int argc, char** argv) {
  labeler::Options options;
  if (!labeler::ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: labeler_assist_bench --demo DIR [--frames N] [--first F] [--setting 0..5] "
                         "[--assist-only 1]\n");
    return 2;
  }
  try {
    std::vector<labeler::ModeRun> runs;
    using labeler::Mode;
    for (Mode mode : {Mode::kPlain, Mode::kCarryThenStrokes, Mode::kAssist}) {
      if (mode == Mode::kAssist || options.assistOnly == 0) runs.push_back(RunMode(options, mode));
    }
    labeler::PrintTable(options, runs);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "labeler_assist_bench: error: %s\n", error.what());
    return 1;
  }
  return 0;
}
