// Rescaler: the picture of "Rescaled PreSeg" computed a rectangle at a time.
//
// The rescaled picture is OpenCV's bilinear resize of a frame-sized picture. To redraw only what a mouse move
// changed, the Rescaler recomputes any rectangle of it pixel for pixel as cv::resize(INTER_LINEAR) computes the
// whole picture: the same source positions, the same fixed-point weights and the same rounding (a picture of
// the source's size is a copy; an exact halving is the 2 x 2 average OpenCV switches to). It also tells which
// target pixels a changed source rectangle reaches, and which source rows and columns are read at all, so that a
// source picture need only be composed there.
#ifndef LABELER_APP_RESCALER_H_
#define LABELER_APP_RESCALER_H_

#include <opencv2/core.hpp>
#include <vector>

namespace labeler {

class Rescaler {
 public:
  Rescaler() = default;
  Rescaler(cv::Size source, cv::Size target);

  // The target pixels that read some source pixel of `sourceRect`, clipped to the target.
  cv::Rect TargetRectOf(const cv::Rect& sourceRect) const;
  // Writes target(targetRect) from `source` (8-bit, 3 channels, of the source size) into `target` (of the
  // target size), as cv::resize of the whole source would.
  void Rescale(const cv::Mat& source, cv::Mat& target, const cv::Rect& targetRect) const;

  // The source columns and rows any target pixel reads, ascending.
  const std::vector<int>& sourceColumns() const { return sourceColumns_; }
  const std::vector<int>& sourceRows() const { return sourceRows_; }

 private:
  enum class Mode { kCopy, kHalve, kLinear };
  // Where one target column (or row) reads: source `first`, and `first + 1` with weight `second` unless that is 0
  // for a clamped position.
  struct Tap {
    int first;
    int last;  // first + 1, or first where the position is clamped to the border
    short firstWeight;
    short lastWeight;
  };

  static std::vector<Tap> ColumnTaps(int source, int target);
  static std::vector<Tap> RowTaps(int source, int target);
  static std::vector<int> ReadPositions(const std::vector<Tap>& taps);
  static std::pair<int, int> TargetRange(const std::vector<Tap>& taps, int from, int to);
  void RescaleLinear(const cv::Mat& source, cv::Mat& target, const cv::Rect& rect) const;
  void Halve(const cv::Mat& source, cv::Mat& target, const cv::Rect& rect) const;

  Mode mode_ = Mode::kCopy;
  cv::Size source_;
  cv::Size target_;
  std::vector<Tap> columns_;
  std::vector<Tap> rows_;
  std::vector<int> sourceColumns_;
  std::vector<int> sourceRows_;
  mutable std::vector<int> rowBuffer_[2];  // horizontally interpolated source rows
};

}  // namespace labeler

#endif  // LABELER_APP_RESCALER_H_
