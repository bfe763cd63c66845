// WindowComposer: what "Click Me!", "Rescaled PreSeg" and "Labeled Map" show, and when.
//
// "Click Me!" shows the frame, with the brush circle and the discs of the stroke being painted while the pointer
// moves. "Rescaled PreSeg" shows the presegmentation lightened to low contrast, the frame showing through the
// region under the pointer in a red highlight, the cursor circle and the stroke being painted, all resized by
// the display scale. "Labeled Map" shows the working label image with the region boundaries in grey and the
// cursor. Other components ask for redraws through RedrawRequests; ApplyPendingRedraws carries them out, whole.
// Redraws only draw: they read the frame, the published presegmentation and the working label image as the
// handlers left them, and change none of them.
//
// Mouse moves redraw only what they change: the composer remembers what each window shows (cursor, stroke
// discs, selected region) and recomposes and sends just the rectangles that differ, so a move costs the size
// of the brush, not of the frame. Each window's picture is always exactly what a whole redraw would show; the
// rescaled one is computed a rectangle at a time by a Rescaler, from a frame-sized picture composed only where
// the resize reads it. The composer owns its pictures and borrows everything it draws from.
#ifndef LABELER_APP_WINDOW_COMPOSER_H_
#define LABELER_APP_WINDOW_COMPOSER_H_

#include <cstdint>
#include <opencv2/core.hpp>

#include "annotation/label_images.h"
#include "annotation/mouse_interaction.h"
#include "annotation/redraw_requests.h"
#include "annotation/stroke_store.h"
#include "app/rescaler.h"
#include "preseg/preseg_engine.h"
#include "timeline/timeline.h"
#include "ui/window_system.h"

namespace labeler {

inline constexpr const char* kFrameWindow = "Click Me!";
inline constexpr const char* kPresegWindow = "Rescaled PreSeg";
inline constexpr const char* kLabelWindow = "Labeled Map";

class WindowComposer : public Canvas {
 public:
  WindowComposer(ui::WindowSystem& windows, const Timeline& timeline, PresegEngine& preseg,
                 LabelImages& labelImages, const StrokeStore& strokes, PointerState& pointer,
                 RedrawRequests& redraws);

  // The frame-sized pictures, for frames of `frameSize`.
  void Create(cv::Size frameSize);
  // The picture of "Rescaled PreSeg", of `size`.
  void CreateRescaled(cv::Size size);

  // Redraws the requested windows whole, in the order "Click Me!", "Rescaled PreSeg", "Labeled Map".
  void ApplyPendingRedraws();
  void ShowFrame();

  cv::Mat& scratch() override { return scratch_; }
  void ShowInFrameWindow(const cv::Mat& image) override;
  void ShowRescaled(const cv::Mat& image) override;
  void ShowFrameWithCursor(cv::Point at, const Stroke* stroke) override;
  void RedrawPresegWindow() override;
  void RedrawLabelWindow() override;

  // Cycles "Click Me!" through no label overlay (the default), the working label image blended over the frame at
  // 40 percent, and at 70 percent; labelled (non-black) pixels only. Redraws the window.
  void CycleOverlay();
  int overlayPercent() const { return overlayPercent_; }

  // With false, every redraw recomposes and sends whole pictures, as before partial redraws existed: the
  // reference the partial pictures are checked against.
  void SetPartialRedraws(bool partial) { partialRedraws_ = partial; }

 private:
  // The brush circle and stroke discs a picture shows, to tell what a new picture changes.
  struct Marks {
    bool cursorShown = false;
    cv::Point cursor;
    int radius = 0;
    uint64_t stroke = 0;  // serial of the stroke whose discs are shown, 0 for none
    size_t discs = 0;
    cv::Rect discBounds;

    // The rectangle where `next`, showing the discs of `stroke` (or none), differs from these marks.
    cv::Rect ChangesTo(const Marks& next, const Stroke* stroke) const;
  };
  static Marks MarksOf(cv::Point cursor, int radius, const Stroke* stroke);
  static void DrawMarks(cv::Mat& picture, const cv::Rect& rect, const Marks& marks, const Stroke* stroke);

  void ComposeFrameWindow(const cv::Rect& rect, const Marks& marks, const Stroke* stroke);
  void RecomposeFrameWindow(const cv::Rect& rect);
  const Stroke* FindStroke(uint64_t serial) const;
  void BlendLabels(const cv::Rect& rect);
  void ComposePreseg(const cv::Rect& rect, const Marks& marks, const Stroke* stroke);
  void ComposeLabelWindow(const cv::Rect& rect, const Marks& marks);
  void ForgetShownPictures();
  cv::Rect FrameRect() const { return {0, 0, timeline_.width(), timeline_.height()}; }

  ui::WindowSystem& windows_;
  const Timeline& timeline_;
  PresegEngine& preseg_;
  LabelImages& labelImages_;
  const StrokeStore& strokes_;
  PointerState& pointer_;
  RedrawRequests& redraws_;

  cv::Mat scratch_;
  cv::Mat framePicture_;   // what "Click Me!" shows
  cv::Mat presegPicture_;  // the frame-sized picture "Rescaled PreSeg" is resized from, where the resize reads it
  cv::Mat rescaled_;
  cv::Mat labelWindow_;
  cv::Mat lighten_;  // lookup table: presegmentation value to its lightened, low-contrast value
  Rescaler rescaler_;
  bool partialRedraws_ = true;
  int overlayPercent_ = 0;

  // What each window shows now, for partial redraws; `valid` false means only a whole redraw will do.
  struct FrameShown {
    bool valid = false;
    uint64_t frameSerial = 0;
    Marks marks;
  } frameShown_;
  bool FrameShownIsCurrent() const { return frameShown_.valid && frameShown_.frameSerial == timeline_.frameSerial(); }
  // The presegmentation picture shown: the frame, and the presegmentation published over it.
  struct ShownPicture {
    uint64_t frameSerial = 0;
    uint64_t presegGeneration = 0;
    bool operator==(const ShownPicture&) const = default;
  };
  struct PresegShown {
    bool valid = false;
    ShownPicture picture;
    uint64_t selection = 0;
    cv::Rect selectionBounds;
    Marks marks;
  } presegShown_;
  struct LabelShown {
    bool valid = false;
    uint64_t edges = 0;  // the presegmentation generation whose edges are shown
    Marks marks;
  } labelShown_;
};

}  // namespace labeler

#endif  // LABELER_APP_WINDOW_COMPOSER_H_
