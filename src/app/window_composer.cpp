#include "app/window_composer.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

namespace labeler {
namespace {

// The presegmentation is shown at 90 percent (90 x 0.01 in single precision) plus 80.
constexpr double kPresegWeight = 90 * 0.01f;
constexpr double kBrightening = 80;
const cv::Vec3b kHighlight(0, 20, 200);
const cv::Scalar kCursorColour(0, 255, 0);

// The entries of the ascending `sorted` inside [from, to).
std::pair<const int*, const int*> Within(const std::vector<int>& sorted, int from, int to) {
  const int* begin = sorted.data();
  const int* end = begin + sorted.size();
  return {std::lower_bound(begin, end, from), std::lower_bound(begin, end, to)};
}

}  // namespace

// `stroke` is the stroke whose discs `next` shows, or nullptr.
cv::Rect WindowComposer::Marks::ChangesTo(const Marks& next, const Stroke* stroke) const {
  cv::Rect changes;
  if (cursorShown != next.cursorShown || cursor != next.cursor || radius != next.radius) {
    if (cursorShown) changes |= DiscBounds(cursor, radius);
    if (next.cursorShown) changes |= DiscBounds(next.cursor, next.radius);
  }
  if (stroke != nullptr && this->stroke == next.stroke && discs <= next.discs) {
    for (size_t i = discs; i < next.discs; ++i) changes |= DiscBounds(stroke->points[i], stroke->radius);
  } else if (this->stroke != next.stroke || discs != next.discs) {
    changes |= discBounds;
    changes |= next.discBounds;
  }
  return changes;
}

WindowComposer::Marks WindowComposer::MarksOf(cv::Point cursor, int radius, const Stroke* stroke) {
  Marks marks;
  marks.cursorShown = true;
  marks.cursor = cursor;
  marks.radius = radius;
  if (stroke != nullptr) {
    marks.stroke = stroke->serial;
    marks.discs = stroke->points.size();
    marks.discBounds = stroke->StrokeBounds();
  }
  return marks;
}

// The brush circle, then the stroke's discs in its colour, as far as they fall inside `rect`.
void WindowComposer::DrawMarks(cv::Mat& picture, const cv::Rect& rect, const Marks& marks, const Stroke* stroke) {
  cv::Mat area = picture(rect);
  const cv::Point origin = rect.tl();
  if (marks.cursorShown) {
    cv::circle(area, marks.cursor - origin, marks.radius, kCursorColour, 1, cv::LINE_8, 0);
  }
  if (stroke == nullptr) return;
  for (size_t i = 0; i < marks.discs; ++i) {
    const cv::Point& point = stroke->points[i];
    if ((DiscBounds(point, stroke->radius) & rect).empty()) continue;
    cv::circle(area, point - origin, stroke->radius, stroke->colour, cv::FILLED, cv::LINE_8, 0);
  }
}

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
  framePicture_ = cv::Mat::zeros(frameSize, CV_8UC3);
  presegPicture_ = cv::Mat::zeros(frameSize, CV_8UC3);
  labelWindow_ = cv::Mat::zeros(frameSize, CV_8UC3);
  pointer_.region = RegionSelection{};
  ForgetShownPictures();
}

void WindowComposer::CreateRescaled(cv::Size size) {
  rescaled_ = cv::Mat::zeros(size, CV_8UC3);
  rescaler_ = Rescaler(presegPicture_.size(), size);
  presegShown_.valid = false;
}

void WindowComposer::ForgetShownPictures() {
  frameShown_.valid = presegShown_.valid = labelShown_.valid = false;
}

void WindowComposer::ApplyPendingRedraws() {
  if (redraws_.frameWindowDirty) {
    ShowFrame();
    redraws_.frameWindowDirty = false;
  }
  if (redraws_.presegWindowDirty) {
    presegShown_.valid = false;
    RedrawPresegWindow();
    redraws_.presegWindowDirty = false;
  }
  if (redraws_.labelWindowDirty) {
    labelShown_.valid = false;
    RedrawLabelWindow();
    redraws_.labelWindowDirty = false;
  }
}

void WindowComposer::ShowFrame() {
  frameShown_ = {true, timeline_.frameSerial(), Marks{}};
  ComposeFrameWindow(FrameRect(), frameShown_.marks, nullptr);
  windows_.ShowImage(kFrameWindow, framePicture_);
}

void WindowComposer::CycleOverlay() {
  overlayPercent_ = overlayPercent_ == 0 ? 40 : overlayPercent_ == 40 ? 70 : 0;
  if (!FrameShownIsCurrent()) {
    ShowFrame();
    return;
  }
  RecomposeFrameWindow(FrameRect());
}

// Recomposes `rect` of "Click Me!" with the marks it shows, as when the label overlay changes under them.
void WindowComposer::RecomposeFrameWindow(const cv::Rect& rect) {
  const Stroke* stroke = FindStroke(frameShown_.marks.stroke);
  if (stroke == nullptr && frameShown_.marks.stroke != 0) {
    frameShown_.marks.stroke = 0;
    frameShown_.marks.discs = 0;
    frameShown_.marks.discBounds = cv::Rect();
    ComposeFrameWindow(FrameRect(), frameShown_.marks, nullptr);
    windows_.ShowImage(kFrameWindow, framePicture_);
    return;
  }
  ComposeFrameWindow(rect, frameShown_.marks, stroke);
  if (rect == FrameRect()) {
    windows_.ShowImage(kFrameWindow, framePicture_);
  } else {
    windows_.ShowImageRect(kFrameWindow, framePicture_, rect);
  }
}

const Stroke* WindowComposer::FindStroke(uint64_t serial) const {
  if (serial == 0) return nullptr;
  for (const Stroke& stroke : strokes_.strokes()) {
    if (stroke.serial == serial) return &stroke;
  }
  return nullptr;
}

void WindowComposer::ShowInFrameWindow(const cv::Mat& image) {
  windows_.ShowImage(kFrameWindow, image);
  frameShown_.valid = false;
}

void WindowComposer::ShowRescaled(const cv::Mat& image) {
  cv::resize(image, rescaled_, rescaled_.size(), 0, 0, cv::INTER_LINEAR);
  windows_.ShowImage(kPresegWindow, rescaled_);
  presegShown_.valid = false;
}

void WindowComposer::ShowFrameWithCursor(cv::Point at, const Stroke* stroke) {
  const Marks next = MarksOf(at, pointer_.brushRadius, stroke);
  if (!FrameShownIsCurrent() || !partialRedraws_) {
    ComposeFrameWindow(FrameRect(), next, stroke);
    windows_.ShowImage(kFrameWindow, framePicture_);
  } else {
    const cv::Rect changes = frameShown_.marks.ChangesTo(next, stroke) & FrameRect();
    if (!changes.empty()) {
      ComposeFrameWindow(changes, next, stroke);
      windows_.ShowImageRect(kFrameWindow, framePicture_, changes);
    }
  }
  frameShown_ = {true, timeline_.frameSerial(), next};
}

void WindowComposer::ComposeFrameWindow(const cv::Rect& rect, const Marks& marks, const Stroke* stroke) {
  timeline_.frame()(rect).copyTo(framePicture_(rect));
  if (overlayPercent_ > 0) BlendLabels(rect);
  DrawMarks(framePicture_, rect, marks, stroke);
}

void WindowComposer::BlendLabels(const cv::Rect& rect) {
  const int weight = overlayPercent_ * 256 / 100;
  const cv::Mat& labels = labelImages_.working();
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    const cv::Vec3b* label = labels.ptr<cv::Vec3b>(y);
    cv::Vec3b* out = framePicture_.ptr<cv::Vec3b>(y);
    for (int x = rect.x; x < rect.x + rect.width; ++x) {
      if (label[x] == cv::Vec3b(0, 0, 0)) continue;
      for (int c = 0; c < 3; ++c) out[x][c] = static_cast<uchar>((out[x][c] * (256 - weight) + label[x][c] * weight + 128) >> 8);
    }
  }
}

void WindowComposer::RedrawPresegWindow() {
  const Stroke* stroke = strokes_.currentStroke();
  const Marks next = MarksOf({pointer_.cursorX, pointer_.cursorY}, pointer_.brushRadius, stroke);
  const int algorithm = preseg_.currentPreseg().algorithm;
  const RegionSelection& selection = pointer_.region;
  const ShownPicture picture{timeline_.frameSerial(), preseg_.publishedGeneration()};
  const bool samePicture = partialRedraws_ && presegShown_.valid && presegShown_.picture == picture;
  if (!samePicture) {
    ComposePreseg(FrameRect(), next, stroke);
    rescaler_.Rescale(presegPicture_, rescaled_, cv::Rect(cv::Point(), rescaled_.size()));
    windows_.ShowImage(kPresegWindow, rescaled_);
  } else {
    cv::Rect changes = presegShown_.marks.ChangesTo(next, stroke);
    if (algorithm != kNoPreseg && presegShown_.selection != selection.serial) {
      changes |= presegShown_.selectionBounds;
      changes |= selection.bounds;
    }
    changes &= FrameRect();
    if (!changes.empty()) {
      ComposePreseg(changes, next, stroke);
      const cv::Rect target = rescaler_.TargetRectOf(changes);
      rescaler_.Rescale(presegPicture_, rescaled_, target);
      windows_.ShowImageRect(kPresegWindow, rescaled_, target);
    }
  }
  presegShown_ = {true, picture, selection.serial, selection.bounds, next};
}

// The lightened presegmentation with the frame showing through the selected region (or the frame itself with
// no presegmentation), computed only at the rows and columns the resize reads; then the circle and discs.
// Inside the selected region the frame is shifted so that a pixel of the region's own colour becomes exactly
// the highlight colour.
void WindowComposer::ComposePreseg(const cv::Rect& rect, const Marks& marks, const Stroke* stroke) {
  const cv::Mat& frame = timeline_.frame();
  const cv::Mat& preseg = preseg_.presegColour();
  const bool presegmented = preseg_.currentPreseg().algorithm != kNoPreseg;
  const RegionSelection& selection = pointer_.region;
  uchar shifted[3][256];  // per channel: frame value -> frame value + offset, saturated
  for (int c = 0; c < 3; ++c) {
    const int offset = kHighlight[c] - selection.colour[c];
    for (int v = 0; v < 256; ++v) shifted[c][v] = cv::saturate_cast<uchar>(v + offset);
  }
  const uchar* lighten = lighten_.ptr<uchar>(0);
  const auto [firstRow, endRow] = Within(rescaler_.sourceRows(), rect.y, rect.y + rect.height);
  const auto [firstColumn, endColumn] = Within(rescaler_.sourceColumns(), rect.x, rect.x + rect.width);
  for (const int* row = firstRow; row != endRow; ++row) {
    const cv::Vec3b* in = frame.ptr<cv::Vec3b>(*row);
    cv::Vec3b* out = presegPicture_.ptr<cv::Vec3b>(*row);
    if (!presegmented) {
      for (const int* x = firstColumn; x != endColumn; ++x) out[*x] = in[*x];
      continue;
    }
    const cv::Vec3b* regions = preseg.ptr<cv::Vec3b>(*row);
    const int rowStart = *row * frame.cols;
    for (const int* x = firstColumn; x != endColumn; ++x) {
      if (selection.Contains(rowStart + *x)) {
        const cv::Vec3b& v = in[*x];
        out[*x] = cv::Vec3b(shifted[0][v[0]], shifted[1][v[1]], shifted[2][v[2]]);
      } else {
        const cv::Vec3b& v = regions[*x];
        out[*x] = cv::Vec3b(lighten[v[0]], lighten[v[1]], lighten[v[2]]);
      }
    }
  }
  DrawMarks(presegPicture_, rect, marks, stroke);
}

void WindowComposer::RedrawLabelWindow() {
  const cv::Rect workingChanges = labelImages_.TakeWorkingChanges();
  const Marks next = MarksOf({pointer_.cursorX, pointer_.cursorY}, pointer_.brushRadius, nullptr);
  const uint64_t edges = preseg_.publishedGeneration();
  const bool sameEdges = partialRedraws_ && labelShown_.valid && labelShown_.edges == edges;
  if (!sameEdges) {
    ComposeLabelWindow(FrameRect(), next);
    windows_.ShowImage(kLabelWindow, labelWindow_);
  } else {
    const cv::Rect changes = (workingChanges | labelShown_.marks.ChangesTo(next, nullptr)) & FrameRect();
    if (!changes.empty()) {
      ComposeLabelWindow(changes, next);
      windows_.ShowImageRect(kLabelWindow, labelWindow_, changes);
    }
  }
  labelShown_ = {true, edges, next};
  if (overlayPercent_ > 0 && FrameShownIsCurrent()) {
    const cv::Rect overlayChanges = sameEdges ? workingChanges & FrameRect() : FrameRect();
    if (!overlayChanges.empty()) RecomposeFrameWindow(overlayChanges);
  }
}

// The working label image; boundary pixels take the grey level of the edge image; then the circle.
void WindowComposer::ComposeLabelWindow(const cv::Rect& rect, const Marks& marks) {
  labelImages_.working()(rect).copyTo(labelWindow_(rect));
  if (preseg_.currentPreseg().algorithm != kNoPreseg) {
    const cv::Mat& edges = preseg_.presegEdges();
    for (int y = rect.y; y < rect.y + rect.height; ++y) {
      const uchar* edge = edges.ptr<uchar>(y);
      cv::Vec3b* out = labelWindow_.ptr<cv::Vec3b>(y);
      for (int x = rect.x; x < rect.x + rect.width; ++x) {
        if (edge[x] != 0) out[x] = cv::Vec3b(edge[x], edge[x], edge[x]);
      }
    }
  }
  DrawMarks(labelWindow_, rect, marks, nullptr);
}

}  // namespace labeler
