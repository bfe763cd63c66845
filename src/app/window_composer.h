// WindowComposer: what "Click Me!", "Rescaled PreSeg" and "Labeled Map" show, and when.
//
// "Rescaled PreSeg" shows the presegmentation lightened to low contrast, the frame showing through the region
// under the pointer in a red highlight, the cursor circle and the stroke being painted, all resized by the
// display scale. "Labeled Map" shows the working label image with the region boundaries in grey and the
// cursor. Other components ask for redraws through RedrawRequests; ApplyPendingRedraws carries them out. The
// composer owns its pictures and borrows everything it draws from.
#ifndef LABELER_APP_WINDOW_COMPOSER_H_
#define LABELER_APP_WINDOW_COMPOSER_H_

#include <opencv2/core.hpp>

#include "annotation/label_images.h"
#include "annotation/mouse_interaction.h"
#include "annotation/redraw_requests.h"
#include "annotation/stroke_store.h"
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

  // Redraws the requested windows in the order "Click Me!", "Rescaled PreSeg", "Labeled Map".
  void ApplyPendingRedraws();
  void ShowFrame();

  cv::Mat& scratch() override { return scratch_; }
  void ShowInFrameWindow(const cv::Mat& image) override;
  void ShowRescaled(const cv::Mat& image) override;
  void RedrawPresegWindow() override;
  void RedrawLabelWindow() override;
  void DrawCursor(cv::Mat& image, int x, int y) override;

 private:
  void ComposePreseg();
  void HighlightRegion();

  ui::WindowSystem& windows_;
  const Timeline& timeline_;
  PresegEngine& preseg_;
  LabelImages& labelImages_;
  const StrokeStore& strokes_;
  PointerState& pointer_;
  RedrawRequests& redraws_;

  cv::Mat scratch_;
  cv::Mat rescaled_;
  cv::Mat labelWindow_;
  cv::Mat lighten_;  // lookup table: presegmentation value to its lightened, low-contrast value
};

}  // namespace labeler

#endif  // LABELER_APP_WINDOW_COMPOSER_H_
