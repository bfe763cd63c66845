// LabelImages: the label image of the current frame, its rendering from strokes, its file, and the frame change.
//
// Two frame-sized colour images: the committed one (the stored label image plus every finished stroke of this
// visit; what is saved) and the working one (the committed one plus the latest render; what "Labeled Map"
// shows). A stroke painted without presegmentation colours its brush discs; one painted with a presegmentation
// colours, whole, every region of that presegmentation its discs touch. Label images are stored as
// "<dir>/frame-%.6d.png", written atomically. With a completer set (label assist), every pixel left unpainted by
// the committed image is completed after each commit; the completed image is what is shown and saved, and a
// frame whose completion labels anything is saved even without strokes. The object borrows the timeline, the
// presegmentation engine, the stroke store, the redraw requests and the completer, which must outlive it.
#ifndef LABELER_ANNOTATION_LABEL_IMAGES_H_
#define LABELER_ANNOTATION_LABEL_IMAGES_H_

#include <cstdint>
#include <deque>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "annotation/label_completer.h"
#include "annotation/label_image_file.h"
#include "annotation/redraw_requests.h"
#include "common/files.h"
#include "annotation/stroke_store.h"
#include "preseg/preseg_engine.h"
#include "timeline/timeline.h"

namespace labeler {

enum class RenderMode { kFull, kIncremental };

// "<dir>/frame-%.6d.png".
std::string LabelImagePath(const std::string& dir, int frame);

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

  // Writes the committed image of `frame` (completed, with assist on) if the store holds strokes or the completion
  // labels anything. Returns false, after saying why on standard error, when the file could not be written; the
  // file on disk is then unchanged. When the stored label image changed on disk since this labeller loaded it, it
  // is kept, and this version is written beside it as "frame-NNNNNN.conflict-N.png" (saying so).
  bool SaveLabelImage(int frame);

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
  // completion wherever it is black.
  const cv::Mat& shown() const { return completer_ != nullptr ? shown_ : working_; }

  // The label image of `frame` as its file holds it, when that is the frame left last (saved on leaving, or
  // loaded intact and left unchanged) and the file has not changed since; else empty: carrying labels back from
  // it then decodes nothing.
  cv::Mat SavedOnLeaving(int frame) const;

  // The part of the working image that changed since it had generation `generation` (all of it when that was
  // too long ago to tell; empty when nothing did), so that a window need only redraw that.
  cv::Rect ChangesSince(uint64_t generation) const;

  const cv::Mat& committed() const { return committed_; }
  const cv::Mat& working() const { return working_; }
  // Change with every change of their image.
  uint64_t committedGeneration() const { return committedGeneration_; }
  uint64_t workingGeneration() const { return workingGeneration_; }

 private:
  // Replaces `image` by the stored label image of `frame`, converted to 8-bit colour, or sets it to black when
  // there is none. A stored image that can't be used (undecodable, or of another size) is reported once, the
  // frame starts black, and the file is kept as "<name>.bak" before a save replaces it.
  void LoadLabelImage(cv::Mat& image, int frame);
  void RememberUnchanged(int frame);
  bool ChangedSinceLoaded(int frame, const std::string& path) const;
  bool SaveBeside(int frame, const std::string& path);
  bool WriteLabelImage(const std::string& path);
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
  bool KeepUnusableFile(const std::string& path);

  Timeline& timeline_;
  PresegEngine& preseg_;
  StrokeStore& strokes_;
  RedrawRequests& redraws_;
  std::string labelDir_;

  cv::Mat stored_;  // the stored label image as the frame was entered: what undo, redo and clear rebuild on
  cv::Mat committed_;
  cv::Mat working_;
  uint64_t committedGeneration_ = 0;
  uint64_t workingGeneration_ = 0;
  uint64_t committedStrokes_ = 0;  // the stroke store's generation at the last commit
  LabelCompleter* completer_ = nullptr;
  cv::Mat completed_;  // the committed image completed, while assist is on
  cv::Mat shown_;      // the working image over completed_, while assist is on
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

  // The stored label image as this labeller last loaded or saved it: a save finding it changed since (another
  // labeller on the folder wrote it) goes beside it instead of over it.
  struct LoadedFile {
    int frame = -1;
    FileStamp stamp;
  };
  LoadedFile loaded_;
  int leftFrame_ = -1;          // the frame left last, when its file's label image is known
  cv::Mat leftLabels_;          // ... that label image
  FileStamp leftStamp_;         // ... and the stamp its file had then
  FileStamp storedStamp_;       // the stamp of the file stored_ was loaded from
  int unusableFrame_ = -1;      // the frame whose stored label image could not be used
  std::string unusablePath_;    // ... and its file, kept as .bak before the first save replaces it
};

}  // namespace labeler

#endif  // LABELER_ANNOTATION_LABEL_IMAGES_H_
