#include "app/window_composer.h"

#include <opencv2/imgproc.hpp>

namespace labeler {
namespace {

// The presegmentation is shown at 90 percent (90 x 0.01 in single precision) plus 80.
constexpr double kPresegWeight = 90 * 0.01f;
constexpr double kBrightening = 80;
const cv::Vec3b kHighlight(0, 20, 200);
const cv::Scalar kCursorColour(0, 255, 0);

}  // namespace

WindowComposer::WindowComposer(ui::WindowSystem& windows, const Timeline& timeline, PresegEngine& preseg,
                               LabelImages& labelImages, const StrokeStore& strokes, PointerState& pointer,
                               RedrawRequests& redraws)
    : windows_(windows),
      timeline_(timeline),
      preseg_(preseg),
      labelImages_(labelImages),
      strokes_(strokes),
      pointer_(pointer),
      redraws_(redraws) {
  // The lightening as a table, made with the very conversion it replaces, so every value comes out the same.
  cv::Mat ramp(1, 256, CV_8UC1);
  for (int v = 0; v < 256; ++v) ramp.at<uchar>(0, v) = static_cast<uchar>(v);
  ramp.convertTo(lighten_, CV_8U, kPresegWeight, kBrightening);
}

void WindowComposer::Create(cv::Size frameSize) {
  scratch_ = cv::Mat::zeros(frameSize, CV_8UC3);
  labelWindow_ = cv::Mat::zeros(frameSize, CV_8UC3);
  pointer_.regionMask = cv::Mat::zeros(frameSize, CV_8UC1);
  pointer_.regionPixels.clear();
}

void WindowComposer::CreateRescaled(cv::Size size) { rescaled_ = cv::Mat::zeros(size, CV_8UC3); }

void WindowComposer::ApplyPendingRedraws() {
  if (redraws_.frameWindowDirty) {
    ShowFrame();
    redraws_.frameWindowDirty = false;
  }
  if (redraws_.presegWindowDirty) {
    RedrawPresegWindow();
    redraws_.presegWindowDirty = false;
  }
  if (redraws_.labelWindowDirty) {
    RedrawLabelWindow();
    redraws_.labelWindowDirty = false;
  }
}

void WindowComposer::ShowFrame() { windows_.ShowImage(kFrameWindow, timeline_.frame()); }

void WindowComposer::ShowInFrameWindow(const cv::Mat& image) { windows_.ShowImage(kFrameWindow, image); }

void WindowComposer::ShowRescaled(const cv::Mat& image) {
  cv::resize(image, rescaled_, rescaled_.size(), 0, 0, cv::INTER_LINEAR);
  windows_.ShowImage(kPresegWindow, rescaled_);
}

void WindowComposer::RedrawPresegWindow() {
  preseg_.UpdatePresegmentation(timeline_.frame(), timeline_.currentFrame(), 0);
  if (preseg_.currentPreseg().algorithm != kNoPreseg) {
    ComposePreseg();
  } else {
    timeline_.frame().copyTo(scratch_);
  }
  DrawCursor(scratch_, pointer_.cursorX, pointer_.cursorY);
  if (const Stroke* stroke = strokes_.currentStroke()) stroke->DrawStroke(scratch_, cv::Scalar(-1.0));
  ShowRescaled(scratch_);
}

void WindowComposer::ComposePreseg() {
  cv::LUT(preseg_.presegColour(), lighten_, scratch_);
  HighlightRegion();
}

// Inside the selected region the frame shows through, shifted so that a pixel of the region's own colour
// becomes exactly the highlight colour.
void WindowComposer::HighlightRegion() {
  const cv::Vec3b& region = pointer_.regionColour;
  uchar shifted[3][256];  // per channel: frame value -> frame value + offset, saturated
  for (int c = 0; c < 3; ++c) {
    const int offset = kHighlight[c] - region[c];
    for (int v = 0; v < 256; ++v) shifted[c][v] = cv::saturate_cast<uchar>(v + offset);
  }
  const cv::Vec3b* frame = timeline_.frame().ptr<cv::Vec3b>(0);
  cv::Vec3b* out = scratch_.ptr<cv::Vec3b>(0);
  for (int pixel : pointer_.regionPixels) {
    const cv::Vec3b& in = frame[pixel];
    out[pixel] = cv::Vec3b(shifted[0][in[0]], shifted[1][in[1]], shifted[2][in[2]]);
  }
}

void WindowComposer::RedrawLabelWindow() {
  labelImages_.RenderLabelMap(labelImages_.committed(), labelImages_.working(), RenderMode::kIncremental);
  preseg_.UpdatePresegmentation(timeline_.frame(), timeline_.currentFrame(), 0);
  // Boundary pixels take the grey level of the edge image, the others the label colour.
  const cv::Mat& edges = preseg_.presegEdges();
  labelImages_.working().copyTo(labelWindow_);
  if (preseg_.currentPreseg().algorithm != kNoPreseg) {
    cv::merge(std::vector<cv::Mat>(3, edges), scratch_);
    scratch_.copyTo(labelWindow_, edges);
  }
  DrawCursor(labelWindow_, pointer_.cursorX, pointer_.cursorY);
  windows_.ShowImage(kLabelWindow, labelWindow_);
}

void WindowComposer::DrawCursor(cv::Mat& image, int x, int y) {
  cv::circle(image, cv::Point(x, y), pointer_.brushRadius, kCursorColour, 1, cv::LINE_8, 0);
}

}  // namespace labeler
