#include "annotation/label_images.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <regex>
#include <opencv2/imgproc.hpp>

#include "common/fatal_error.h"
#include "annotation/painted_record.h"
#include "annotation/unsure_areas.h"
#include "common/files.h"

namespace labeler {
namespace {

constexpr uchar kFootprint = 50;
// Every render also leaves copies of its base and result here, when this folder exists.
constexpr const char* kDiagnosticFolder = "C:/temp";

// Temporary files a killed save left in the label folder: ".frame-NNNNNN.png.XXXXXX".
bool IsLeftoverSave(const std::string& name) {
  static const std::regex kLeftover(R"(\.frame-\d{6,}\.png\.[A-Za-z0-9]{6})");
  return std::regex_match(name, kLeftover);
}

}  // namespace

void RemoveLeftoverSaves(const std::string& dir) {
  int removed = 0;
  for (const std::string& folder : {dir, std::filesystem::path(PaintedRecordPath(dir, 0)).parent_path().string()}) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      std::error_code ignored;
      if (IsLeftoverSave(entry.path().filename().string()) && entry.is_regular_file(ignored) &&
          std::filesystem::remove(entry.path(), ignored)) {
        ++removed;
      }
    }
  }
  if (removed > 0) {
    std::fprintf(stderr, "%s: removed %d temporary file%s that an interrupted save left in %s\n", ProgramName().c_str(),
                 removed, removed == 1 ? "" : "s", dir.c_str());
  }
}

void PrepareLabelFolder(const std::string& dir) {
  std::error_code error;
  if (std::filesystem::is_directory(dir, error)) return;
  if (std::filesystem::is_symlink(dir, error)) {
    throw FatalError(ErrorLine("label folder " + dir + " (DIR_LABEL_IMGS) is a link to a missing folder"));
  }
  if (std::filesystem::exists(dir, error)) {
    throw FatalError(ErrorLine("label folder " + dir + " (DIR_LABEL_IMGS) is not a folder"));
  }
  if (!std::filesystem::create_directories(dir, error) || error) {
    throw FatalError(ErrorLine("cannot create label folder " + dir + " (DIR_LABEL_IMGS): " + error.message()));
  }
  std::printf("Created label folder %s\n", dir.c_str());
}

LabelImages::LabelImages(Timeline& timeline, PresegEngine& preseg, StrokeStore& strokes, RedrawRequests& redraws,
                         std::string labelDir)
    : timeline_(timeline), preseg_(preseg), strokes_(strokes), redraws_(redraws), file_(std::move(labelDir)) {}

void LabelImages::Create(cv::Size frameSize) {
  committed_ = cv::Mat::zeros(frameSize, CV_8UC3);
  working_ = cv::Mat::zeros(frameSize, CV_8UC3);
  committedPainted_ = cv::Mat::zeros(frameSize, CV_8UC1);
  workingPainted_ = cv::Mat::zeros(frameSize, CV_8UC1);
  file_.Clear(frameSize);
  footprint_ = cv::Mat::zeros(frameSize, CV_8UC1);
}

void LabelImages::LoadCurrentFrame() {
  file_.Load(timeline_.currentFrame(), committed_.size());
  file_.stored().copyTo(committed_);
  file_.storedPainted().copyTo(committedPainted_);
  ++committedGeneration_;
  enteredStrokes_ = strokes_.generation();
  accepted_ = false;
}

bool LabelImages::SavesOnLeaving() const {
  if (!strokes_.strokes().empty() || accepted_) return true;
  return completer_ != nullptr && strokes_.generation() != enteredStrokes_;
}

bool LabelImages::SaveLabelImage(int frame) {
  if (!SavesOnLeaving()) {
    file_.LeaveUnsaved(frame);
    return true;
  }
  if (committedStrokes_ != strokes_.generation()) RebuildCommitted();  // a commit failed half-way
  if (!file_.Save(frame, ToSave(), committedPainted_)) return false;
  accepted_ = false;
  completionSaved_ = true;
  return true;
}

void LabelImages::RenderWorking(RenderMode mode) {
  const std::vector<Stroke>& strokes = strokes_.strokes();
  if (mode == RenderMode::kFull || strokes.empty()) {
    RestartWorking();
    if (mode == RenderMode::kFull) {
      for (const Stroke& stroke : strokes) RenderStroke(stroke);
    }
  } else if (strokes.back().carried != nullptr) {  // carried labels need no presegmentation, and paint at once
    RestartWorking();
    PaintCarried(strokes.back());
  } else {
    RenderLastStroke(strokes.back());
  }
  FinishRender();
  preseg_.UpdatePresegmentation(timeline_.frame(), timeline_.currentFrame(), 0);  // the current setting's again
  if (completer_ != nullptr && completer_->Outdated()) CompleteCommitted();  // another setting was chosen
  WriteDiagnosticCopies();
}

// The stroke being drawn, on the presegmentation it was painted on: only its new points when the working image
// holds its render up to them, over the same committed image, frame and presegmentation.
void LabelImages::RenderLastStroke(const Stroke& stroke) {
  WithPresegOf(stroke, [&] {
    const RenderBasis basis{committedGeneration_, workingGeneration_, timeline_.frameSerial(),
                            preseg_.publishedGeneration(), stroke.serial};
    if (lastRender_.valid && lastRender_.basis == basis && lastRender_.points <= stroke.points.size()) {
      PaintPoints(stroke, lastRender_.points);
    } else {
      RestartWorking();
      PaintPoints(stroke, 0);
    }
    lastRender_ = {true, basis, stroke.points.size()};
  });
}

template <typename Paint>
void LabelImages::WithPresegOf(const Stroke& stroke, Paint&& paint) {
  // Put back however the painting ends: the trackbars show currentPreseg(), and new strokes record it.
  struct Restore {
    PresegParams& params;
    const PresegParams saved;
    ~Restore() { params = saved; }
  } restore{preseg_.currentPreseg(), preseg_.currentPreseg()};
  ParsePresegParams(preseg_.currentPreseg(), stroke.paramLine);
  preseg_.UpdatePresegmentation(timeline_.frame(), timeline_.currentFrame(), 0);
  paint();
}

void LabelImages::Commit() {
  working_.copyTo(committed_);
  workingPainted_.copyTo(committedPainted_);
  ++committedGeneration_;
  committedStrokes_ = strokes_.generation();
  CompleteCommitted();
}

void LabelImages::SetCompleter(LabelCompleter* completer) {
  completer_ = completer;
  ++completions_;
  completed_.release();
  shown_.release();
  unsure_ = cv::Mat::zeros(working_.size(), CV_8UC1);
  unsureOutline_ = unsure_.clone();
  if (completer_ != nullptr) {
    CompleteCommitted();
  } else {
    MarkChanged(cv::Rect(0, 0, working_.cols, working_.rows));
    FinishRender();
  }
}

// A completion that fails leaves the frame with its strokes alone, shown and saved: the assist is a help, and its
// failure must not keep the annotator's work from the disk.
void LabelImages::CompleteCommitted() {
  if (completer_ == nullptr) return;
  try {
    completed_ = completer_->Complete(committed_, committedPainted_);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: error: label assist failed on frame %d: %s; the frame has its strokes alone\n",
                 ProgramName().c_str(), timeline_.currentFrame(), error.what());
    completed_ = committed_.clone();
  }
  ++completions_;
  // Only a frame that leaving would not save asks whether its file holds the completion: no comparison per stroke.
  completionSaved_ = !SavesOnLeaving() && file_.hasFile() && SamePicture(completed_, file_.stored());
  unsure_ = UnsurePixels(completer_->Confidence(), committedPainted_);
  unsureOutline_ = OutlineOf(unsure_);
  ShowCompletion(cv::Rect(0, 0, working_.cols, working_.rows));
  MarkChanged(cv::Rect(0, 0, working_.cols, working_.rows));
  FinishRender();
}

std::optional<cv::Point> LabelImages::LargestUnsureArea() const {
  if (completer_ == nullptr || unsure_.empty()) return std::nullopt;
  return labeler::LargestUnsureArea(unsure_, workingPainted_);
}

// shown_ becomes the working image over the completion, within `rect`.
void LabelImages::ShowCompletion(const cv::Rect& rect) {
  if (shown_.size() != working_.size()) shown_ = cv::Mat::zeros(working_.size(), CV_8UC3);
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    const cv::Vec3b* working = working_.ptr<cv::Vec3b>(y);
    const uchar* painted = workingPainted_.ptr<uchar>(y);
    const cv::Vec3b* completed = completed_.ptr<cv::Vec3b>(y);
    cv::Vec3b* out = shown_.ptr<cv::Vec3b>(y);
    for (int x = rect.x; x < rect.x + rect.width; ++x) out[x] = painted[x] != 0 ? working[x] : completed[x];
  }
}

void LabelImages::RestartWorking() {
  ForgetLastRender();
  committed_.copyTo(working_);
  committedPainted_.copyTo(workingPainted_);
  MarkChanged(cv::Rect(0, 0, working_.cols, working_.rows));
}

void LabelImages::WriteDiagnosticCopies() const {
  std::error_code error;
  if (!std::filesystem::is_directory(kDiagnosticFolder, error)) return;
  try {
    cv::imwrite(std::string(kDiagnosticFolder) + "/01.bmp", committed_);
    cv::imwrite(std::string(kDiagnosticFolder) + "/02.bmp", working_);
  } catch (const cv::Exception&) {
    // The copies are for looking at, nothing depends on them.
  }
}

// Each stroke of a full render on the presegmentation it was painted on.
void LabelImages::RenderStroke(const Stroke& stroke) {
  if (stroke.carried != nullptr) {
    PaintCarried(stroke);
    return;
  }
  WithPresegOf(stroke, [&] {
    PaintPoints(stroke, 0);
    ForgetLastRender();
  });
}

// Paints the stroke's points from `firstPoint` on, under the presegmentation now published. Without one,
// the discs themselves. With one, every region (8-connected pixels of exactly one colour) that holds a pixel
// of their discs inside the frame, whole; regions filled before for this stroke are skipped.
void LabelImages::PaintPoints(const Stroke& stroke, size_t firstPoint) {
  const std::vector<cv::Point>& points = stroke.points;
  if (preseg_.currentPreseg().algorithm == kNoPreseg) {
    for (size_t i = firstPoint; i < points.size(); ++i) {
      cv::circle(working_, points[i], stroke.radius, stroke.colour, cv::FILLED, cv::LINE_8, 0);
      cv::circle(workingPainted_, points[i], stroke.radius, cv::Scalar(255), cv::FILLED, cv::LINE_8, 0);
      MarkChanged(DiscBounds(points[i], stroke.radius));
    }
    return;
  }
  Stroke newPart;
  newPart.points.assign(points.begin() + static_cast<std::ptrdiff_t>(std::min(firstPoint, points.size())),
                        points.end());
  if (newPart.points.empty()) return;
  newPart.radius = stroke.radius;
  const cv::Vec3b colour(cv::saturate_cast<uchar>(stroke.colour[0]), cv::saturate_cast<uchar>(stroke.colour[1]),
                         cv::saturate_cast<uchar>(stroke.colour[2]));
  PaintRegions(newPart, colour);
}

// The regions under the discs are looked up in the presegmentation's region map and painted from its pixel
// lists: the work is the size of the regions newly reached, however large the ones reached before.
void LabelImages::PaintRegions(const Stroke& newPart, const cv::Vec3b& colour) {
  std::shared_ptr<const RegionMap> map = preseg_.Regions();
  if (map != fillMap_) {
    ForgetLastRender();
    fillMap_ = map;
    regionFilled_.assign(static_cast<size_t>(map->regionCount()), 0);
  }
  newPart.DrawStroke(footprint_, cv::Scalar(kFootprint));
  const cv::Rect bounds = newPart.StrokeBounds() & cv::Rect(0, 0, footprint_.cols, footprint_.rows);
  seeds_.clear();
  for (int x = bounds.x; x < bounds.x + bounds.width; ++x) {
    for (int y = bounds.y; y < bounds.y + bounds.height; ++y) {
      uchar& mark = footprint_.ptr<uchar>(y)[x];
      if (mark == kFootprint) {
        seeds_.emplace_back(x, y);
        mark = 0;
      }
    }
  }
  cv::Vec3b* pixels = working_.ptr<cv::Vec3b>(0);
  uchar* painted = workingPainted_.ptr<uchar>(0);
  for (const cv::Point& seed : seeds_) {
    const int region = map->RegionAt(seed.x, seed.y);
    if (regionFilled_[region] != 0) continue;
    regionFilled_[region] = 1;
    filledRegions_.push_back(region);
    for (int pixel : map->Pixels(region)) {
      pixels[pixel] = colour;
      painted[pixel] = 255;
    }
    MarkChanged(map->Bounds(region));
  }
}

// Carried labels never overwrite the annotator's own work: with assist on they go where nothing is painted (a
// completion is no one's work); without it, where nothing is labelled, as label images always were.
void LabelImages::PaintCarried(const Stroke& stroke) {
  const cv::Mat& carried = *stroke.carried;
  const cv::Rect bounds = stroke.carriedBounds & cv::Rect(0, 0, working_.cols, working_.rows);
  const cv::Vec3b black(0, 0, 0);
  for (int y = bounds.y; y < bounds.y + bounds.height; ++y) {
    const cv::Vec3b* in = carried.ptr<cv::Vec3b>(y);
    cv::Vec3b* out = working_.ptr<cv::Vec3b>(y);
    uchar* painted = workingPainted_.ptr<uchar>(y);
    for (int x = bounds.x; x < bounds.x + bounds.width; ++x) {
      if (in[x] != black && painted[x] == 0 && (completer_ != nullptr || out[x] == black)) {
        out[x] = in[x];
        painted[x] = 255;
      }
    }
  }
  MarkChanged(bounds);
}

void LabelImages::MarkChanged(const cv::Rect& rect) {
  renderChanges_ |= rect & cv::Rect(0, 0, working_.cols, working_.rows);
}

// The working image has a new generation, and what the render changed is remembered under it.
void LabelImages::FinishRender() {
  if (completer_ != nullptr && !completed_.empty()) ShowCompletion(renderChanges_);
  ++workingGeneration_;
  if (lastRender_.valid) lastRender_.basis.workingGeneration = workingGeneration_;
  recentChanges_.emplace_back(workingGeneration_, renderChanges_);
  if (recentChanges_.size() > kRendersRemembered) recentChanges_.pop_front();
  renderChanges_ = cv::Rect();
}

cv::Rect LabelImages::ChangesSince(uint64_t generation) const {
  if (generation >= workingGeneration_) return {};
  if (recentChanges_.empty() || recentChanges_.front().first > generation + 1) {
    return {0, 0, working_.cols, working_.rows};
  }
  cv::Rect changes;
  for (const auto& [after, rect] : recentChanges_) {
    if (after > generation) changes |= rect;
  }
  return changes;
}

void LabelImages::ForgetLastRender() {
  for (int region : filledRegions_) regionFilled_[region] = 0;
  filledRegions_.clear();
  lastRender_.valid = false;
}

bool LabelImages::ChangeFrame(int delta) {
  const int left = timeline_.currentFrame();
  if (!SaveLabelImage(left)) return false;
  const cv::Mat picture = timeline_.frame();
  timeline_.GoToRelativeFrame(delta);
  strokes_.DiscardStrokes();
  LoadCurrentFrame();
  redraws_.frameWindowDirty = redraws_.presegWindowDirty = redraws_.labelWindowDirty = true;
  if (delta != 0) preseg_.InvalidatePresegCache();
  // A still replaced on disk comes back from a reload (or a step clamped to the same frame) as another picture,
  // whose presegmentation is not the one computed before.
  if (timeline_.currentFrame() == left && !SamePicture(picture, timeline_.frame())) preseg_.ForgetPicture();
  CompleteCommitted();
  return true;
}

// From the stored label image as it was loaded, not as the disk holds it now: a file another labeller wrote since
// must still be found changed when the frame is saved.
void LabelImages::RebuildCommitted() {
  file_.stored().copyTo(committed_);
  file_.storedPainted().copyTo(committedPainted_);
  ++committedGeneration_;
  RenderWorking(RenderMode::kFull);
  Commit();
}

}  // namespace labeler
