#include "app/window_composer.h"

#include <opencv2/imgproc.hpp>

namespace labeler {

WindowComposer::WindowComposer(ui::WindowSystem& windows, const Timeline& timeline, const PresegEngine& preseg,
                               const LabelImages& labelImages, const StrokeStore& strokes,
                               const PointerState& pointer, RedrawRequests& redraws)
    : windows_(windows),
      strokes_(strokes),
      pointer_(pointer),
      redraws_(redraws),
      frame_(timeline),
      overlay_(labelImages),
      frameMarks_(strokes),
      preseg_(timeline, preseg, {&rescaler_.sourceRows(), &rescaler_.sourceColumns()}),
      highlight_(timeline, preseg, pointer, {&rescaler_.sourceRows(), &rescaler_.sourceColumns()}),
      presegMarks_(strokes),
      labels_(labelImages),
      edges_(preseg),
      unsure_(labelImages),
      labelMarks_(strokes),
      frameWindow_(framePicture_, {&frame_, &overlay_, &frameMarks_}),
      presegWindow_(presegPicture_, {&preseg_, &highlight_, &presegMarks_}),
      labelWindow_(labelPicture_, {&labels_, &edges_, &unsure_, &labelMarks_}) {}

void WindowComposer::Create(cv::Size frameSize) {
  scratch_ = cv::Mat::zeros(frameSize, CV_8UC3);
  framePicture_ = cv::Mat::zeros(frameSize, CV_8UC3);
  presegPicture_ = cv::Mat::zeros(frameSize, CV_8UC3);
  labelPicture_ = cv::Mat::zeros(frameSize, CV_8UC3);
  frameWindow_.Forget();
  presegWindow_.Forget();
  labelWindow_.Forget();
}

void WindowComposer::CreateRescaled(cv::Size size) {
  rescaled_ = cv::Mat::zeros(size, CV_8UC3);
  rescaler_ = Rescaler(presegPicture_.size(), size);
  presegWindow_.Forget();
}

void WindowComposer::ApplyPendingRedraws() {
  if (redraws_.frameWindowDirty) {
    ShowFrame();
    redraws_.frameWindowDirty = false;
  }
  if (redraws_.presegWindowDirty) {
    presegWindow_.Forget();
    RedrawPresegWindow();
    redraws_.presegWindowDirty = false;
  }
  if (redraws_.labelWindowDirty) {
    labelWindow_.Forget();
    RedrawLabelWindow();
    redraws_.labelWindowDirty = false;
  }
}

// The frame and its overlay, without the brush marks.
void WindowComposer::ShowFrame() {
  frameMarks_.Set(Marks{});
  frameWindow_.Compose(true);
  windows_.ShowImage(kFrameWindow, framePicture_);
}

void WindowComposer::CycleOverlay() {
  const int percent = overlay_.percent();
  overlay_.SetPercent(percent == 0 ? 40 : percent == 40 ? 70 : 0);
  if (!frameWindow_.shown()) {
    ShowFrame();
    return;
  }
  RefreshFrameWindow();
}

void WindowComposer::RefreshFrameWindow() {
  Show(kFrameWindow, framePicture_, frameWindow_.Compose(!partialRedraws_));
}

// Sends `rect` of the picture, the whole picture when that is what changed.
void WindowComposer::Show(const char* window, const cv::Mat& picture, const cv::Rect& rect) {
  if (rect.empty()) return;
  if (rect == cv::Rect(0, 0, picture.cols, picture.rows)) {
    windows_.ShowImage(window, picture);
  } else {
    windows_.ShowImageRect(window, picture, rect);
  }
}

Marks WindowComposer::PointerMarks(const Stroke* stroke) const {
  return Marks::Of({pointer_.cursorX, pointer_.cursorY}, pointer_.brushRadius, stroke);
}

void WindowComposer::ShowInFrameWindow(const cv::Mat& image) {
  windows_.ShowImage(kFrameWindow, image);
  frameWindow_.Forget();
}

void WindowComposer::ShowRescaled(const cv::Mat& image) {
  cv::resize(image, rescaled_, rescaled_.size(), 0, 0, cv::INTER_LINEAR);
  windows_.ShowImage(kPresegWindow, rescaled_);
  presegWindow_.Forget();
}

void WindowComposer::ShowFrameWithCursor(cv::Point at, const Stroke* stroke) {
  frameMarks_.Set(Marks::Of(at, pointer_.brushRadius, stroke));
  RefreshFrameWindow();
}

void WindowComposer::RedrawPresegWindow() {
  presegMarks_.Set(PointerMarks(strokes_.currentStroke()));
  const cv::Rect changes = presegWindow_.Compose(!partialRedraws_);
  if (changes.empty()) return;
  const cv::Rect target = changes == cv::Rect(0, 0, presegPicture_.cols, presegPicture_.rows)
                              ? cv::Rect(cv::Point(), rescaled_.size())
                              : rescaler_.TargetRectOf(changes);
  rescaler_.Rescale(presegPicture_, rescaled_, target);
  Show(kPresegWindow, rescaled_, target);
}

// The working label image's changes reach "Labeled Map" and, when labels are laid over it, "Click Me!".
void WindowComposer::RedrawLabelWindow() {
  labelMarks_.Set(PointerMarks(nullptr));
  Show(kLabelWindow, labelPicture_, labelWindow_.Compose(!partialRedraws_));
  if (overlay_.percent() > 0 && frameWindow_.shown()) RefreshFrameWindow();
}

}  // namespace labeler
