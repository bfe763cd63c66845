#include "app/rescaler.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace labeler {
namespace {

constexpr int kWeightScale = 2048;  // OpenCV's fixed-point unit for bilinear weights

// Elements [begin, end) of a target row from two horizontally interpolated source rows, rounded as OpenCV
// rounds. The rows never overlap the target, which lets the compiler work on many elements at once.
void CombineRows(const int* __restrict r0, const int* __restrict r1, int w0, int w1, uchar* __restrict out,
                 int begin, int end) {
  for (int i = begin; i < end; ++i) {
    out[i] = static_cast<uchar>((((w0 * (r0[i] >> 4)) >> 16) + ((w1 * (r1[i] >> 4)) >> 16) + 2) >> 2);
  }
}

// The source position of target position `d` as cv::resize computes it: in double, then rounded to float.
float SourcePosition(int d, double scale) { return static_cast<float>((d + 0.5) * scale - 0.5); }

}  // namespace

Rescaler::Rescaler(cv::Size source, cv::Size target) : source_(source), target_(target) {
  const double scaleX = 1.0 / (static_cast<double>(target.width) / source.width);
  const double scaleY = 1.0 / (static_cast<double>(target.height) / source.height);
  const bool integerScales = std::abs(scaleX - cv::saturate_cast<int>(scaleX)) < DBL_EPSILON &&
                             std::abs(scaleY - cv::saturate_cast<int>(scaleY)) < DBL_EPSILON;
  if (source == target) {
    mode_ = Mode::kCopy;
  } else if (integerScales && cv::saturate_cast<int>(scaleX) == 2 && cv::saturate_cast<int>(scaleY) == 2) {
    mode_ = Mode::kHalve;
  } else {
    mode_ = Mode::kLinear;
  }
  switch (mode_) {
    case Mode::kCopy:
      for (int d = 0; d < target.width; ++d) columns_.push_back({d, d, kWeightScale, 0});
      for (int d = 0; d < target.height; ++d) rows_.push_back({d, d, kWeightScale, 0});
      break;
    case Mode::kHalve:
      for (int d = 0; d < target.width; ++d) columns_.push_back({2 * d, 2 * d + 1, 1, 1});
      for (int d = 0; d < target.height; ++d) rows_.push_back({2 * d, 2 * d + 1, 1, 1});
      break;
    case Mode::kLinear:
      columns_ = ColumnTaps(source.width, target.width);
      rows_ = RowTaps(source.height, target.height);
      break;
  }
  sourceColumns_ = ReadPositions(columns_);
  sourceRows_ = ReadPositions(rows_);
  rowBuffer_[0].resize(static_cast<size_t>(target.width) * 3);
  rowBuffer_[1].resize(static_cast<size_t>(target.width) * 3);
}

// Columns clamp at both borders to the border pixel with full weight.
std::vector<Rescaler::Tap> Rescaler::ColumnTaps(int source, int target) {
  const double scale = 1.0 / (static_cast<double>(target) / source);
  std::vector<Tap> taps(target);
  for (int d = 0; d < target; ++d) {
    float position = SourcePosition(d, scale);
    int first = cvFloor(position);
    float fraction = position - static_cast<float>(first);
    if (first < 0) fraction = 0, first = 0;
    if (first >= source - 1) fraction = 0, first = source - 1;
    taps[d] = {first, first + 1 < source ? first + 1 : first, cv::saturate_cast<short>((1.f - fraction) * kWeightScale),
               cv::saturate_cast<short>(fraction * kWeightScale)};
  }
  return taps;
}

// Rows keep their fraction at the borders; the rows read are clamped instead.
std::vector<Rescaler::Tap> Rescaler::RowTaps(int source, int target) {
  const double scale = 1.0 / (static_cast<double>(target) / source);
  std::vector<Tap> taps(target);
  auto clamp = [source](int row) { return std::clamp(row, 0, source - 1); };
  for (int d = 0; d < target; ++d) {
    float position = SourcePosition(d, scale);
    int first = cvFloor(position);
    float fraction = position - static_cast<float>(first);
    taps[d] = {clamp(first), clamp(first + 1), cv::saturate_cast<short>((1.f - fraction) * kWeightScale),
               cv::saturate_cast<short>(fraction * kWeightScale)};
  }
  return taps;
}

std::vector<int> Rescaler::ReadPositions(const std::vector<Tap>& taps) {
  std::vector<int> positions;
  for (const Tap& tap : taps) {
    positions.push_back(tap.first);
    positions.push_back(tap.last);
  }
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  return positions;
}

// The target positions [begin, end) whose taps reach into the source positions [from, to). Taps move forward
// with the target position, so the range is found by two binary searches.
std::pair<int, int> Rescaler::TargetRange(const std::vector<Tap>& taps, int from, int to) {
  auto begin = std::partition_point(taps.begin(), taps.end(), [from](const Tap& tap) { return tap.last < from; });
  auto end = std::partition_point(begin, taps.end(), [to](const Tap& tap) { return tap.first < to; });
  return {static_cast<int>(begin - taps.begin()), static_cast<int>(end - taps.begin())};
}

cv::Rect Rescaler::TargetRectOf(const cv::Rect& sourceRect) const {
  const cv::Rect clipped = sourceRect & cv::Rect(cv::Point(), source_);
  if (clipped.empty()) return {};
  const auto [x0, x1] = TargetRange(columns_, clipped.x, clipped.x + clipped.width);
  const auto [y0, y1] = TargetRange(rows_, clipped.y, clipped.y + clipped.height);
  return {x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0)};
}

void Rescaler::Rescale(const cv::Mat& source, cv::Mat& target, const cv::Rect& targetRect) const {
  CV_Assert(source.type() == CV_8UC3 && source.size() == source_ && target.size() == target_);
  const cv::Rect rect = targetRect & cv::Rect(cv::Point(), target_);
  if (rect.empty()) return;
  switch (mode_) {
    case Mode::kCopy: source(rect).copyTo(target(rect)); break;
    case Mode::kHalve: Halve(source, target, rect); break;
    case Mode::kLinear: RescaleLinear(source, target, rect); break;
  }
}

// Each source row is first interpolated across (the sum of two weighted samples), then two such rows are
// combined with OpenCV's rounding of the products: ((w0 * (r0 >> 4)) >> 16) + ((w1 * (r1 >> 4)) >> 16), + 2, >> 2.
void Rescaler::RescaleLinear(const cv::Mat& source, cv::Mat& target, const cv::Rect& rect) const {
  auto interpolateRow = [&](int row, std::vector<int>& out) {
    const uchar* in = source.ptr<uchar>(row);
    for (int dx = rect.x; dx < rect.x + rect.width; ++dx) {
      const Tap& tap = columns_[dx];
      const uchar* a = in + tap.first * 3;
      const uchar* b = in + tap.last * 3;
      int* o = out.data() + dx * 3;
      for (int c = 0; c < 3; ++c) o[c] = a[c] * tap.firstWeight + b[c] * tap.lastWeight;
    }
  };
  int heldRow[2] = {-1, -1};  // the source row each buffer holds, interpolated
  auto rowFor = [&](int row, int keep) -> const int* {
    for (int b = 0; b < 2; ++b) {
      if (heldRow[b] == row) return rowBuffer_[b].data();
    }
    const int b = heldRow[0] == keep ? 1 : 0;
    interpolateRow(row, rowBuffer_[b]);
    heldRow[b] = row;
    return rowBuffer_[b].data();
  };
  for (int dy = rect.y; dy < rect.y + rect.height; ++dy) {
    const Tap& tap = rows_[dy];
    const int* r0 = rowFor(tap.first, tap.last);
    const int* r1 = rowFor(tap.last, tap.first);
    CombineRows(r0, r1, tap.firstWeight, tap.lastWeight, target.ptr<uchar>(dy), rect.x * 3, (rect.x + rect.width) * 3);
  }
}

void Rescaler::Halve(const cv::Mat& source, cv::Mat& target, const cv::Rect& rect) const {
  for (int dy = rect.y; dy < rect.y + rect.height; ++dy) {
    const uchar* top = source.ptr<uchar>(2 * dy);
    const uchar* bottom = source.ptr<uchar>(2 * dy + 1);
    uchar* out = target.ptr<uchar>(dy);
    for (int dx = rect.x; dx < rect.x + rect.width; ++dx) {
      for (int c = 0; c < 3; ++c) {
        const int s = 6 * dx + c;
        out[3 * dx + c] = static_cast<uchar>((top[s] + top[s + 3] + bottom[s] + bottom[s + 3] + 2) >> 2);
      }
    }
  }
}

}  // namespace labeler
