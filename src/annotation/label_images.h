// LabelImages: the label image of the current frame, its rendering from strokes, and the frame change.
//
// Two frame-sized colour images: the committed one (the stored label image plus every finished stroke of this
// visit; what is saved) and the working one (the committed one plus the latest render; what "Labeled Map"
// shows). A stroke painted without presegmentation colours its brush discs; one painted with a presegmentation
// colours, whole, every region of that presegmentation its discs touch. Beside each image a mask says which of
// its pixels were painted by hand: the stored painted pixels (see painted_record.h) and every pixel a stroke of
// this visit reached, whatever its colour (black is a label too). With a completer set (label assist), every
// unpainted pixel is completed after each commit; the completed image is what is shown and saved. The stored
// label image and its saving belong to the LabelFile this object owns. The object borrows the timeline, the
// presegmentation engine, the stroke store, the redraw requests and the completer, which must outlive it.
#ifndef LABELER_ANNOTATION_LABEL_IMAGES_H_
#define LABELER_ANNOTATION_LABEL_IMAGES_H_

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "annotation/label_completer.h"
#include "annotation/label_file.h"
#include "annotation/label_image_file.h"
#include "annotation/redraw_requests.h"
#include "common/files.h"
#include "annotation/stroke_store.h"
#include "preseg/preseg_engine.h"
#include "timeline/timeline.h"

namespace labeler {

enum class RenderMode { kFull, kIncremental };

// Makes sure the label folder exists, creating it with its parents (and saying so); throws FatalError when it
// can't be created, is not a folder, or is a link to a missing folder.
void PrepareLabelFolder(const std::string& dir);

// Removes the temporary files that interrupted saves left in the label folder, and says how many. Only a labeller
// alone on the folder may: another one's save in progress has such a file too.
void RemoveLeftoverSaves(const std::string& dir);

class LabelImages {
 public:
  LabelImages(Timeline& timeline, PresegEngine& preseg, StrokeStore& strokes, RedrawRequests& redraws,
              std::string labelDir);

  // Creates the committed and working images (black) and the renderer's masks for frames of `frameSize`.
  void Create(cv::Size frameSize);

  // Makes the stored label image of the current frame the committed image (see LoadLabelImage); the next
  // RenderWorking shows it.
  void LoadCurrentFrame();

  // Writes the committed image of `frame` (completed, with assist on) and its painted pixels if the store holds
  // strokes, or with assist on if the annotator changed the frame (a stroke, undo, redo, clear) or accepted it.
  // A frame nobody touched is not written. Returns false, after saying why, when the file could not be written;
  // the file on disk is then unchanged (see LabelFile::Save).
  bool SaveLabelImage(int frame);

  // The frame as shown is the annotator's: its next save writes it even untouched.
  void Accept() { accepted_ = true; }
  // Whether leaving the frame now would write it.
  bool SavesOnLeaving() const;
  // With assist on: whether the label image on disk is the one shown.
  bool CompletionSaved() const { return completionSaved_; }
  // With assist on, the label image the current frame's file holds once the frame is accepted now (Enter, or a
  // frame key after a change), never written afterwards; empty with assist off.
  const cv::Mat& LabelsOnAccepting() const { return completed_; }
  // Changes whenever LabelsOnAccepting does.
  uint64_t completions() const { return completions_; }

  // The working image becomes the committed one with the strokes rendered over it: all of them (kFull) or the
  // last one (kIncremental). While a stroke is drawn, an incremental render only adds what its new points touch:
  // the stroke's regions found so far are kept between renders for as long as the committed image, the working
  // image, the frame and the stroke's presegmentation stay the same. Each stroke is rendered on the
  // presegmentation it was painted on; the current setting's is published again afterwards.
  void RenderWorking(RenderMode mode = RenderMode::kIncremental);

  // The working image becomes the committed one: a stroke has ended. A save rebuilds the committed image first
  // when the stroke list changed since the last commit (a render that failed), so no stroke is lost on disk.
  void Commit();

  // Leaves the current frame for the one `delta` frames away (0 reloads it): saves, moves, discards the
  // strokes, loads the new label image and requests all redraws; a non-zero step, or landing on the same frame
  // with another picture, also empties the presegmentation cache. Returns false, leaving everything as it was, when
  // the save failed.
  bool ChangeFrame(int delta);

  // Rebuilds the committed image from the stored label image and all strokes (after undo, redo, clear).
  void RebuildCommitted();

  // Turns label assist on with `completer` (borrowed; it must outlive its use), or off with nullptr.
  void SetCompleter(LabelCompleter* completer);
  bool assisted() const { return completer_ != nullptr; }

  // The label image of the current frame as "Labeled Map" shows it: the working image, and with assist on the
  // completion wherever nothing is painted.
  const cv::Mat& shown() const { return completer_ != nullptr ? shown_ : working_; }
  // The pixels of the working image painted by hand (255), the rest being stored or completed labels.
  const cv::Mat& painted() const { return workingPainted_; }
  // With assist on: the outline (255) of the areas where the last completion is unsure (see unsure_areas.h).
  const cv::Mat& unsureOutline() const { return unsureOutline_; }
  // A pixel of the largest unsure area nothing is painted on yet; nothing when there is none.
  std::optional<cv::Point> LargestUnsureArea() const;

  // The label image of `frame` as its file holds it, when that is the frame left last (saved on leaving, or
  // loaded intact and left unchanged) and the file has not changed since; else empty: carrying labels back from
  // it then decodes nothing.
  cv::Mat SavedOnLeaving(int frame) const { return file_.SavedOnLeaving(frame); }

  // The current frame's label file: the labeller takes its notices from it.
  LabelFile& file() { return file_; }

  // The part of the working image that changed since it had generation `generation` (all of it when that was
  // too long ago to tell; empty when nothing did), so that a window need only redraw that.
  cv::Rect ChangesSince(uint64_t generation) const;

  const cv::Mat& committed() const { return committed_; }
  const cv::Mat& working() const { return working_; }
  // Change with every change of their image.
  uint64_t committedGeneration() const { return committedGeneration_; }
  uint64_t workingGeneration() const { return workingGeneration_; }

 private:
  void CompleteCommitted();
  void ShowCompletion(const cv::Rect& rect);
  const cv::Mat& ToSave() const { return completer_ != nullptr ? completed_ : committed_; }
  void RenderStroke(const Stroke& stroke);
  void RenderLastStroke(const Stroke& stroke);
  // Runs `paint` with the presegmentation `stroke` was painted on published; currentPreseg() stays as it was.
  template <typename Paint>
  void WithPresegOf(const Stroke& stroke, Paint&& paint);
  void PaintPoints(const Stroke& stroke, size_t firstPoint);
  void PaintRegions(const Stroke& newPart, const cv::Vec3b& colour);
  void PaintCarried(const Stroke& stroke);
  void RestartWorking();
  void MarkChanged(const cv::Rect& rect);
  void FinishRender();
  void ForgetLastRender();
  void WriteDiagnosticCopies() const;

  Timeline& timeline_;
  PresegEngine& preseg_;
  StrokeStore& strokes_;
  RedrawRequests& redraws_;
  LabelFile file_;  // the stored label image as the frame was entered: what undo, redo and clear rebuild on

  cv::Mat committed_;
  cv::Mat working_;
  cv::Mat committedPainted_;  // the pixels of committed_ painted by hand, 255
  cv::Mat workingPainted_;    // ... of working_
  uint64_t committedGeneration_ = 0;
  uint64_t workingGeneration_ = 0;
  uint64_t committedStrokes_ = 0;  // the stroke store's generation at the last commit
  uint64_t enteredStrokes_ = 0;    // ... when the frame was entered
  bool accepted_ = false;
  bool completionSaved_ = false;
  LabelCompleter* completer_ = nullptr;
  cv::Mat completed_;  // the committed image completed, while assist is on; a new picture for each completion
  uint64_t completions_ = 0;  // of the label image: turning assist on or off counts as one
  cv::Mat shown_;      // the working image over completed_, while assist is on
  cv::Mat unsure_;         // where the last completion is unsure, while assist is on
  cv::Mat unsureOutline_;  // ... and the outline of those areas
  cv::Mat footprint_;            // the discs of the stroke being rendered, value 50; zero elsewhere
  std::vector<cv::Point> seeds_;
  // The regions filled for the stroke being rendered, in the region map of its presegmentation.
  std::shared_ptr<const RegionMap> fillMap_;
  std::vector<uint8_t> regionFilled_;
  std::vector<int> filledRegions_;
  cv::Rect renderChanges_;  // of the render under way
  // The rectangle each of the latest renders changed, by the generation it gave the working image.
  static constexpr size_t kRendersRemembered = 32;
  std::deque<std::pair<uint64_t, cv::Rect>> recentChanges_;

  // What an incremental render of the stroke being drawn builds on.
  struct RenderBasis {
    uint64_t committedGeneration = 0;
    uint64_t workingGeneration = 0;  // right after the render
    uint64_t frameSerial = 0;
    uint64_t presegGeneration = 0;
    uint64_t stroke = 0;  // its serial
    bool operator==(const RenderBasis&) const = default;
  };
  // What the last incremental render left in the working image: the regions of that stroke's first `points`
  // points, found in `fillMap_`.
  struct LastRender {
    bool valid = false;
    RenderBasis basis;
    size_t points = 0;
  };
  LastRender lastRender_;

};

}  // namespace labeler

#endif  // LABELER_ANNOTATION_LABEL_IMAGES_H_
