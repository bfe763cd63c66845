#include "assist/label_assist.h"

#include <cstdint>

namespace labeler {
namespace {

// A painted pixel outweighs a carried one: a stroke overrules what the neighbouring frames say.
constexpr float kPaintedWeight = 10.0f;
constexpr float kCarriedWeight = 1.0f;

uint32_t Code(const cv::Vec3b& colour) { return colour[0] | (colour[1] << 8) | (colour[2] << 16); }

// The label colours met in the images, in order of first appearance; black is none.
class Palette {
 public:
  int IndexOf(const cv::Vec3b& colour) {
    const uint32_t code = Code(colour);
    if (last_ >= 0 && codes_[last_] == code) return last_;
    for (size_t i = 0; i < codes_.size(); ++i) {
      if (codes_[i] == code) return last_ = static_cast<int>(i);
    }
    codes_.push_back(code);
    colours_.push_back(colour);
    return last_ = static_cast<int>(codes_.size() - 1);
  }
  const cv::Vec3b& Colour(int index) const { return colours_[index]; }
  int size() const { return static_cast<int>(codes_.size()); }

 private:
  std::vector<uint32_t> codes_;
  std::vector<cv::Vec3b> colours_;
  int last_ = -1;
};

// The label of each pixel of `labels` as a number: 0 none, else 1 + its place in `palette`.
cv::Mat LabelNumbers(const cv::Mat& labels, Palette& palette) {
  cv::Mat numbers(labels.size(), CV_32S);
  for (int y = 0; y < labels.rows; ++y) {
    const cv::Vec3b* in = labels.ptr<cv::Vec3b>(y);
    int* out = numbers.ptr<int>(y);
    for (int x = 0; x < labels.cols; ++x) out[x] = in[x] == cv::Vec3b(0, 0, 0) ? 0 : 1 + palette.IndexOf(in[x]);
  }
  return numbers;
}

}  // namespace

LabelAssist::LabelAssist(const AssistInputs& inputs) {
  std::vector<cv::Mat> partitions = inputs.partitions;
  if (!inputs.carried.all.empty()) {
    Palette carriedPalette;
    partitions.push_back(LabelNumbers(inputs.carried.all, carriedPalette));
  }
  evidence_ = inputs.carried.reliable.empty() ? cv::Mat::zeros(inputs.frame.size(), CV_8UC3)
                                              : inputs.carried.reliable.clone();
  cv::Mat cells;
  const int count = OverlayPartitions(partitions, cells);
  graph_ = std::make_unique<RegionGraph>(inputs.frame, cells, count);
  walker_ = std::make_unique<SeededWalker>(*graph_);
}

cv::Mat LabelAssist::Complete(const cv::Mat& painted) {
  CV_Assert(painted.type() == CV_8UC3 && painted.size() == evidence_.size());
  const cv::Mat& cells = graph_->nodes();
  const cv::Vec3b black(0, 0, 0);
  Palette palette;
  std::vector<std::vector<float>> perLabel;  // perLabel[label][cell]
  auto add = [&](int cell, const cv::Vec3b& colour, float weight) {
    const int label = palette.IndexOf(colour);
    if (label >= static_cast<int>(perLabel.size())) perLabel.emplace_back(graph_->nodeCount(), 0.0f);
    perLabel[label][cell] += weight;
  };
  for (int y = 0; y < painted.rows; ++y) {
    const cv::Vec3b* paint = painted.ptr<cv::Vec3b>(y);
    const cv::Vec3b* carried = evidence_.ptr<cv::Vec3b>(y);
    const int* cell = cells.ptr<int>(y);
    for (int x = 0; x < painted.cols; ++x) {
      if (paint[x] != black) {
        add(cell[x], paint[x], kPaintedWeight);
      } else if (carried[x] != black) {
        add(cell[x], carried[x], kCarriedWeight);
      }
    }
  }
  cv::Mat evidence(graph_->nodeCount(), palette.size(), CV_32F);
  for (int label = 0; label < palette.size(); ++label) {
    for (int cell = 0; cell < graph_->nodeCount(); ++cell) evidence.ptr<float>(cell)[label] = perLabel[label][cell];
  }
  const std::vector<int> chosen = walker_->Walk(evidence);
  cv::Mat completed = painted.clone();
  for (int y = 0; y < completed.rows; ++y) {
    cv::Vec3b* out = completed.ptr<cv::Vec3b>(y);
    const int* cell = cells.ptr<int>(y);
    for (int x = 0; x < completed.cols; ++x) {
      if (out[x] == black && chosen[cell[x]] >= 0) out[x] = palette.Colour(chosen[cell[x]]);
    }
  }
  return completed;
}

}  // namespace labeler
