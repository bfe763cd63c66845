#include "assist/label_assist.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "assist/completion_confidence.h"

namespace labeler {
namespace {

// A painted pixel outweighs a carried one: a stroke overrules what the neighbouring frames say.
constexpr float kPaintedWeight = 10.0f;
constexpr float kCarriedWeight = 1.0f;
// How a cell's look counts, per pixel, and how close in CIE Lab two looks must be to count as alike.
constexpr float kLookAlikeWeight = 0.5f;
constexpr float kLookAlike = 6.0f;
// How much nearer a look must be to one label's examples than to any other label's to speak for it.
constexpr float kLookAlikeMargin = 4.0f;

uint32_t Code(const cv::Vec3b& colour) { return colour[0] | (colour[1] << 8) | (colour[2] << 16); }

// The label colours met in the evidence, in order of first appearance.
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

// What speaks for each label in each cell, and how many of the cell's pixels are painted.
struct Evidence {
  std::vector<std::vector<float>> perLabel;  // [label][cell]
  std::vector<std::vector<float>> perLabelPiece;  // [label][piece], with an UnsureRefinement
  std::vector<int> paintedPixels;
  // One row per cell, one column per label.
  cv::Mat Matrix(int cellCount) const;
  bool HasAny(int cell) const {
    for (const std::vector<float>& label : perLabel) {
      if (label[cell] > 0) return true;
    }
    return false;
  }
};

// Painted pixels, and the reliable carried ones where nothing is painted, summed per cell and label, and per piece
// of `refinement` when there is one. A painted pixel counts whatever its colour; a carried black one is no label.
Evidence GatherEvidence(const RegionGraph& graph, const UnsureRefinement* refinement, const cv::Mat& labels,
                        const cv::Mat& painted, const cv::Mat& carriedEvidence, Palette& palette) {
  const int cellCount = graph.nodeCount();
  const int pieceCount = refinement != nullptr ? refinement->pieceCount() : 0;
  Evidence evidence;
  evidence.paintedPixels.assign(cellCount, 0);
  const cv::Mat& cells = graph.nodes();
  const cv::Vec3b black(0, 0, 0);
  auto add = [&](int cell, int piece, const cv::Vec3b& colour, float weight) {
    const int label = palette.IndexOf(colour);
    if (label >= static_cast<int>(evidence.perLabel.size())) {
      evidence.perLabel.emplace_back(cellCount, 0.0f);
      evidence.perLabelPiece.emplace_back(pieceCount, 0.0f);
    }
    evidence.perLabel[label][cell] += weight;
    if (piece >= 0) evidence.perLabelPiece[label][piece] += weight;
  };
  for (int y = 0; y < labels.rows; ++y) {
    const cv::Vec3b* colour = labels.ptr<cv::Vec3b>(y);
    const uchar* paint = painted.ptr<uchar>(y);
    const cv::Vec3b* carried = carriedEvidence.ptr<cv::Vec3b>(y);
    const int* cell = cells.ptr<int>(y);
    const int* piece = refinement != nullptr ? refinement->pieces().ptr<int>(y) : nullptr;
    for (int x = 0; x < labels.cols; ++x) {
      if (paint[x] != 0) {
        add(cell[x], piece != nullptr ? piece[x] : -1, colour[x], kPaintedWeight);
        ++evidence.paintedPixels[cell[x]];
      } else if (carried[x] != black) {
        add(cell[x], piece != nullptr ? piece[x] : -1, carried[x], kCarriedWeight);
      }
    }
  }
  return evidence;
}

// A cell that nothing speaks for and that looks like a cell at least half painted over (mean colours closer
// than kLookAlike) is told so, weakly: edges still decide within a smooth area, but a speck walled in by edges
// (the next lane dash, the next window of a car) takes the label of what it looks like rather than of what
// surrounds it. Cells with carried evidence are left to it, and cells painted only in part are no example: in
// both the look misled more than it helped. Nor does a look decide when an example of another label is not much
// farther than the nearest (dark twigs look like an animal's dark fur painted elsewhere, and hardly less like the
// dark windows painted as background): the nearest example of every other label must be kLookAlikeMargin times
// as far, whether or not it is within kLookAlike.
void AddLookAlikes(const RegionGraph& graph, Evidence& evidence) {
  const std::vector<cv::Vec3f>& colours = graph.meanColours();
  const std::vector<int>& areas = graph.areas();
  std::vector<std::pair<cv::Vec3f, int>> examples;
  for (int cell = 0; cell < graph.nodeCount(); ++cell) {
    if (2 * evidence.paintedPixels[cell] < areas[cell]) continue;
    int label = 0;
    for (size_t k = 1; k < evidence.perLabel.size(); ++k) {
      if (evidence.perLabel[k][cell] > evidence.perLabel[label][cell]) label = static_cast<int>(k);
    }
    examples.emplace_back(colours[cell], label);
  }
  if (examples.empty()) return;
  std::vector<float> nearestOfLabel(evidence.perLabel.size());
  for (int cell = 0; cell < graph.nodeCount(); ++cell) {
    if (evidence.HasAny(cell)) continue;
    std::fill(nearestOfLabel.begin(), nearestOfLabel.end(), std::numeric_limits<float>::max());
    for (const auto& [colour, exampleLabel] : examples) {
      const cv::Vec3f difference = colour - colours[cell];
      nearestOfLabel[exampleLabel] = std::min(nearestOfLabel[exampleLabel], difference.dot(difference));
    }
    const auto nearest = std::min_element(nearestOfLabel.begin(), nearestOfLabel.end());
    if (*nearest >= kLookAlike * kLookAlike) continue;
    const int label = static_cast<int>(nearest - nearestOfLabel.begin());
    bool clear = true;
    for (size_t other = 0; other < nearestOfLabel.size(); ++other) {
      if (static_cast<int>(other) != label &&
          nearestOfLabel[other] <= kLookAlikeMargin * kLookAlikeMargin * *nearest) {
        clear = false;
      }
    }
    if (clear) evidence.perLabel[label][cell] += kLookAlikeWeight * static_cast<float>(areas[cell]);
  }
}

cv::Mat Evidence::Matrix(int cellCount) const {
  cv::Mat matrix(cellCount, static_cast<int>(perLabel.size()), CV_32F);
  for (size_t label = 0; label < perLabel.size(); ++label) {
    for (int cell = 0; cell < cellCount; ++cell) matrix.ptr<float>(cell)[label] = perLabel[label][cell];
  }
  return matrix;
}

// A refined piece is no surer than its own walk says: its cell's confidence speaks of the cell's label.
void LowerToRefinedMargins(const cv::Mat& pieces, const WalkedLabels& refined, const cv::Mat& painted,
                           cv::Mat& confidence) {
  for (int y = 0; y < pieces.rows; ++y) {
    const int* piece = pieces.ptr<int>(y);
    const uchar* paint = painted.ptr<uchar>(y);
    uchar* sure = confidence.ptr<uchar>(y);
    for (int x = 0; x < pieces.cols; ++x) {
      if (paint[x] != 0 || refined.labels[piece[x]] < 0) continue;
      sure[x] = std::min(sure[x], cv::saturate_cast<uchar>(255.0f * refined.margins[piece[x]]));
    }
  }
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
  if (!inputs.finer.empty()) refinement_ = std::make_unique<UnsureRefinement>(inputs.frame, cells, inputs.finer);
}

LabelAssist::Completion LabelAssist::Complete(const cv::Mat& labels, const cv::Mat& painted) {
  CV_Assert(labels.type() == CV_8UC3 && labels.size() == evidence_.size());
  CV_Assert(painted.type() == CV_8U && painted.size() == evidence_.size());
  Palette palette;
  Evidence evidence = GatherEvidence(*graph_, refinement_.get(), labels, painted, evidence_, palette);
  AddLookAlikes(*graph_, evidence);
  const WalkedLabels walked = walker_->Walk(evidence.Matrix(graph_->nodeCount()));
  const cv::Mat& cells = graph_->nodes();
  const WalkedLabels refined =
      refinement_ != nullptr ? refinement_->Refine(walked, evidence.perLabelPiece) : WalkedLabels();
  Completion completion{cv::Mat::zeros(labels.size(), CV_8UC3), cv::Mat()};
  for (int y = 0; y < labels.rows; ++y) {
    const cv::Vec3b* colour = labels.ptr<cv::Vec3b>(y);
    const uchar* paint = painted.ptr<uchar>(y);
    const int* cell = cells.ptr<int>(y);
    const int* piece = refinement_ != nullptr ? refinement_->pieces().ptr<int>(y) : nullptr;
    cv::Vec3b* out = completion.labels.ptr<cv::Vec3b>(y);
    for (int x = 0; x < labels.cols; ++x) {
      if (paint[x] != 0) {
        out[x] = colour[x];
      } else if (piece != nullptr && refined.labels[piece[x]] >= 0) {
        out[x] = palette.Colour(refined.labels[piece[x]]);
      } else if (walked.labels[cell[x]] >= 0) {
        out[x] = palette.Colour(walked.labels[cell[x]]);
      }
    }
  }
  completion.confidence = CompletionConfidence(*graph_, walked, completion.labels, painted);
  if (refinement_ != nullptr) LowerToRefinedMargins(refinement_->pieces(), refined, painted, completion.confidence);
  return completion;
}

}  // namespace labeler
