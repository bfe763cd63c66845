#include "app/window_layers.h"

#include <algorithm>
#include <cstring>
#include <opencv2/imgproc.hpp>

namespace labeler {
namespace {

// The presegmentation is shown at 90 percent (90 x 0.01 in single precision) plus 80.
constexpr double kPresegWeight = 90 * 0.01f;
constexpr double kBrightening = 80;
const cv::Vec3b kHighlight(0, 20, 200);
const cv::Scalar kCursorColour(0, 255, 0);
const cv::Vec3b kUnsureDash(0, 255, 255);  // yellow, between black ones

// With assist on, a label the assist completed is told from one painted by hand: it is drawn lighter (halfway to
// white in "Labeled Map", at half the weight over the frame) but on every fourth diagonal, a hatching of its
// full colour. A pixel nothing labels stays as it is.
bool OnHatching(int x, int y) { return ((x + y) & 3) == 0; }

bool OnUnsureDash(int x, int y) { return ((x + y) & 4) == 0; }

// The entries of the ascending `sorted` inside [from, to).
std::pair<const int*, const int*> Within(const std::vector<int>& sorted, int from, int to) {
  const int* begin = sorted.data();
  const int* end = begin + sorted.size();
  return {std::lower_bound(begin, end, from), std::lower_bound(begin, end, to)};
}

// Calls `paint(row, columnsBegin, columnsEnd)` for every sampled row of `rect`.
template <typename Paint>
void ForEachSampledRow(const Sampling& sampling, const cv::Rect& rect, Paint&& paint) {
  const auto [firstRow, endRow] = Within(*sampling.rows, rect.y, rect.y + rect.height);
  const auto [firstColumn, endColumn] = Within(*sampling.columns, rect.x, rect.x + rect.width);
  for (const int* row = firstRow; row != endRow; ++row) paint(*row, firstColumn, endColumn);
}

}  // namespace

cv::Rect LayeredPicture::Compose(bool whole) {
  const cv::Rect all(0, 0, picture_.cols, picture_.rows);
  cv::Rect changes;
  for (PictureLayer* layer : layers_) changes |= layer->Changes(all);
  if (whole || !shown_) changes = all;
  changes &= all;
  if (!changes.empty()) {
    for (const PictureLayer* layer : layers_) layer->Draw(picture_, changes);
  }
  for (PictureLayer* layer : layers_) layer->Drawn();
  shown_ = true;
  return changes;
}

Marks Marks::Of(cv::Point cursor, int radius, const Stroke* stroke) {
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

// `stroke` is the stroke whose discs `next` shows, or nullptr.
cv::Rect Marks::ChangesTo(const Marks& next, const Stroke* stroke) const {
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

const Stroke* MarksLayer::FindStroke(uint64_t serial) const {
  if (serial == 0) return nullptr;
  for (const Stroke& stroke : strokes_.strokes()) {
    if (stroke.serial == serial) return &stroke;
  }
  return nullptr;
}

cv::Rect MarksLayer::Changes(const cv::Rect&) {
  const Stroke* stroke = FindStroke(next_.stroke);
  if (stroke == nullptr && next_.stroke != 0) {
    next_.stroke = 0;
    next_.discs = 0;
    next_.discBounds = cv::Rect();
  }
  return shown_.ChangesTo(next_, stroke);
}

// The brush circle, then the stroke's discs in its colour, as far as they fall inside `rect`.
void MarksLayer::Draw(cv::Mat& picture, const cv::Rect& rect) const {
  cv::Mat area = picture(rect);
  const cv::Point origin = rect.tl();
  if (next_.cursorShown) cv::circle(area, next_.cursor - origin, next_.radius, kCursorColour, 1, cv::LINE_8, 0);
  const Stroke* stroke = FindStroke(next_.stroke);
  if (stroke == nullptr) return;
  for (size_t i = 0; i < next_.discs; ++i) {
    const cv::Point& point = stroke->points[i];
    if ((DiscBounds(point, stroke->radius) & rect).empty()) continue;
    cv::circle(area, point - origin, stroke->radius, stroke->colour, cv::FILLED, cv::LINE_8, 0);
  }
}

cv::Rect FrameLayer::Changes(const cv::Rect& whole) {
  return shownSerial_ == timeline_.frameSerial() ? cv::Rect() : whole;
}

void FrameLayer::Draw(cv::Mat& picture, const cv::Rect& rect) const {
  timeline_.frame()(rect).copyTo(picture(rect));
}

cv::Rect LabelOverlayLayer::Changes(const cv::Rect& whole) {
  if (percent_ != shownPercent_) return whole;
  return percent_ > 0 ? labelImages_.ChangesSince(shownGeneration_) : cv::Rect();
}

void LabelOverlayLayer::Draw(cv::Mat& picture, const cv::Rect& rect) const {
  if (percent_ == 0) return;
  const int fullWeight = percent_ * 256 / 100;
  const bool assisted = labelImages_.assisted();
  const cv::Mat& labels = labelImages_.shown();
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    const cv::Vec3b* label = labels.ptr<cv::Vec3b>(y);
    const uchar* painted = labelImages_.painted().ptr<uchar>(y);
    cv::Vec3b* out = picture.ptr<cv::Vec3b>(y);
    for (int x = rect.x; x < rect.x + rect.width; ++x) {
      if (label[x] == cv::Vec3b(0, 0, 0)) continue;
      const bool faint = assisted && painted[x] == 0 && !OnHatching(x, y);
      const int weight = faint ? fullWeight / 2 : fullWeight;
      for (int c = 0; c < 3; ++c) {
        out[x][c] = static_cast<uchar>((out[x][c] * (256 - weight) + label[x][c] * weight + 128) >> 8);
      }
    }
  }
}

void LabelOverlayLayer::Drawn() {
  shownPercent_ = percent_;
  shownGeneration_ = labelImages_.workingGeneration();
}

PresegLayer::PresegLayer(const Timeline& timeline, const PresegEngine& preseg, Sampling sampling)
    : timeline_(timeline), preseg_(preseg), sampling_(sampling) {
  // The lightening as a table, made with the very conversion it replaces, so every value comes out the same.
  cv::Mat ramp(1, 256, CV_8UC1);
  for (int v = 0; v < 256; ++v) ramp.at<uchar>(0, v) = static_cast<uchar>(v);
  cv::Mat lightened;
  ramp.convertTo(lightened, CV_8U, kPresegWeight, kBrightening);
  std::copy(lightened.ptr<uchar>(0), lightened.ptr<uchar>(0) + 256, lighten_);
}

cv::Rect PresegLayer::Changes(const cv::Rect& whole) {
  const bool same = shownSerial_ == timeline_.frameSerial() && shownGeneration_ == preseg_.publishedGeneration();
  return same ? cv::Rect() : whole;
}

void PresegLayer::Draw(cv::Mat& picture, const cv::Rect& rect) const {
  const cv::Mat& frame = timeline_.frame();
  const cv::Mat& preseg = preseg_.presegColour();
  const bool presegmented = preseg_.presegmented();
  ForEachSampledRow(sampling_, rect, [&](int row, const int* firstColumn, const int* endColumn) {
    const cv::Vec3b* in = (presegmented ? preseg : frame).ptr<cv::Vec3b>(row);
    cv::Vec3b* out = picture.ptr<cv::Vec3b>(row);
    if (!presegmented) {
      for (const int* x = firstColumn; x != endColumn; ++x) out[*x] = in[*x];
      return;
    }
    for (const int* x = firstColumn; x != endColumn; ++x) {
      const cv::Vec3b& v = in[*x];
      out[*x] = cv::Vec3b(lighten_[v[0]], lighten_[v[1]], lighten_[v[2]]);
    }
  });
}

void PresegLayer::Drawn() {
  shownSerial_ = timeline_.frameSerial();
  shownGeneration_ = preseg_.publishedGeneration();
}

cv::Rect HighlightLayer::Changes(const cv::Rect&) {
  const RegionSelection& selection = pointer_.region;
  if (!preseg_.presegmented() || shownSelection_ == selection.serial) return {};
  return shownBounds_ | selection.bounds;
}

void HighlightLayer::Draw(cv::Mat& picture, const cv::Rect& rect) const {
  if (!preseg_.presegmented()) return;
  const RegionSelection& selection = pointer_.region;
  const cv::Rect inside = rect & selection.bounds;
  if (inside.empty()) return;
  uchar shifted[3][256];  // per channel: frame value -> frame value + offset, saturated
  for (int c = 0; c < 3; ++c) {
    const int offset = kHighlight[c] - selection.colour[c];
    for (int v = 0; v < 256; ++v) shifted[c][v] = cv::saturate_cast<uchar>(v + offset);
  }
  const cv::Mat& frame = timeline_.frame();
  ForEachSampledRow(sampling_, inside, [&](int row, const int* firstColumn, const int* endColumn) {
    const cv::Vec3b* in = frame.ptr<cv::Vec3b>(row);
    cv::Vec3b* out = picture.ptr<cv::Vec3b>(row);
    const int rowStart = row * frame.cols;
    for (const int* x = firstColumn; x != endColumn; ++x) {
      if (!selection.Contains(rowStart + *x)) continue;
      const cv::Vec3b& v = in[*x];
      out[*x] = cv::Vec3b(shifted[0][v[0]], shifted[1][v[1]], shifted[2][v[2]]);
    }
  });
}

void HighlightLayer::Drawn() {
  shownSelection_ = pointer_.region.serial;
  shownBounds_ = pointer_.region.bounds;
}

void WorkingLabelsLayer::Draw(cv::Mat& picture, const cv::Rect& rect) const {
  labelImages_.shown()(rect).copyTo(picture(rect));
  if (!labelImages_.assisted()) return;
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    const uchar* painted = labelImages_.painted().ptr<uchar>(y);
    cv::Vec3b* out = picture.ptr<cv::Vec3b>(y);
    for (int x = rect.x; x < rect.x + rect.width; ++x) {
      if (painted[x] != 0 || OnHatching(x, y) || out[x] == cv::Vec3b(0, 0, 0)) continue;
      for (int c = 0; c < 3; ++c) out[x][c] = static_cast<uchar>((out[x][c] + 256) >> 1);
    }
  }
}

void UnsureAreasLayer::Draw(cv::Mat& picture, const cv::Rect& rect) const {
  if (!labelImages_.assisted()) return;
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    const uchar* painted = labelImages_.painted().ptr<uchar>(y);
    const uchar* unsure = labelImages_.unsureOutline().ptr<uchar>(y);
    cv::Vec3b* out = picture.ptr<cv::Vec3b>(y);
    for (int x = rect.x; x < rect.x + rect.width; ++x) {
      if (unsure[x] != 0 && painted[x] == 0) out[x] = OnUnsureDash(x, y) ? kUnsureDash : cv::Vec3b(0, 0, 0);
    }
  }
}

cv::Rect EdgesLayer::Changes(const cv::Rect& whole) {
  return shownGeneration_ == preseg_.publishedGeneration() ? cv::Rect() : whole;
}

// Boundaries are thin, so most of a row has no edge: it is skipped eight pixels at a time. A region filled by a
// stroke redraws its whole bounding box, which on large frames is millions of pixels.
void EdgesLayer::Draw(cv::Mat& picture, const cv::Rect& rect) const {
  if (!preseg_.presegmented()) return;
  const cv::Mat& edges = preseg_.presegEdges();
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    const uchar* edge = edges.ptr<uchar>(y);
    cv::Vec3b* out = picture.ptr<cv::Vec3b>(y);
    const int end = rect.x + rect.width;
    int x = rect.x;
    while (x < end) {
      uint64_t eight;
      if (end - x >= 8 && (std::memcpy(&eight, edge + x, 8), eight == 0)) {
        x += 8;
        continue;
      }
      if (edge[x] != 0) out[x] = cv::Vec3b(edge[x], edge[x], edge[x]);
      ++x;
    }
  }
}

}  // namespace labeler
