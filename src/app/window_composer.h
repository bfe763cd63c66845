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
// Each window's picture is a stack of layers (see window_layers.h); mouse moves redraw only the rectangles their
// layers changed, so a move costs the size of the brush, not of the frame, and each picture is always exactly
// what a whole redraw would show. The rescaled picture is computed a rectangle at a time by a Rescaler, from a
// frame-sized picture composed only where the resize reads it. The composer owns its pictures and layers and
// borrows everything they draw from.
#ifndef LABELER_APP_WINDOW_COMPOSER_H_
#define LABELER_APP_WINDOW_COMPOSER_H_

#include <cstdint>
#include <opencv2/core.hpp>

#include "annotation/label_images.h"
#include "annotation/mouse_interaction.h"
#include "annotation/redraw_requests.h"
#include "annotation/stroke_store.h"
#include "app/rescaler.h"
#include "app/window_layers.h"
#include "preseg/preseg_engine.h"
#include "timeline/timeline.h"
#include "ui/window_system.h"

namespace labeler {

inline constexpr const char* kFrameWindow = "Click Me!";
inline constexpr const char* kPresegWindow = "Rescaled PreSeg";
inline constexpr const char* kLabelWindow = "Labeled Map";

class WindowComposer : public Canvas {
 public:
  WindowComposer(ui::WindowSystem& windows, const Timeline& timeline, const PresegEngine& preseg,
                 const LabelImages& labelImages, const StrokeStore& strokes, const PointerState& pointer,
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
  int overlayPercent() const { return overlay_.percent(); }

  // With false, every redraw recomposes and sends whole pictures, as before partial redraws existed: the
  // reference the partial pictures are checked against.
  void SetPartialRedraws(bool partial) { partialRedraws_ = partial; }

 private:
  void RefreshFrameWindow();
  void Show(const char* window, const cv::Mat& picture, const cv::Rect& rect);
  Marks PointerMarks(const Stroke* stroke) const;

  ui::WindowSystem& windows_;
  const StrokeStore& strokes_;
  const PointerState& pointer_;
  RedrawRequests& redraws_;

  cv::Mat scratch_;
  cv::Mat framePicture_;   // what "Click Me!" shows
  cv::Mat presegPicture_;  // the frame-sized picture "Rescaled PreSeg" is resized from, where the resize reads it
  cv::Mat rescaled_;
  cv::Mat labelPicture_;   // what "Labeled Map" shows
  Rescaler rescaler_;
  bool partialRedraws_ = true;

  FrameLayer frame_;
  LabelOverlayLayer overlay_;
  MarksLayer frameMarks_;
  PresegLayer preseg_;
  HighlightLayer highlight_;
  MarksLayer presegMarks_;
  WorkingLabelsLayer labels_;
  EdgesLayer edges_;
  UnsureAreasLayer unsure_;
  MarksLayer labelMarks_;
  LayeredPicture frameWindow_;
  LayeredPicture presegWindow_;
  LayeredPicture labelWindow_;
};

}  // namespace labeler

#endif  // LABELER_APP_WINDOW_COMPOSER_H_
