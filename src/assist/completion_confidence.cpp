#include "assist/completion_confidence.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>
#include <utility>
#include <vector>

namespace labeler {
namespace {

constexpr double kFirmLink = 0.1;  // mean pixel-pair weight
constexpr int kBoundaryBand = 4;   // pixels

// Each cell's margin, scaled down where even its strongest link to a cell of its own label crosses an edge. A
// cell with no neighbour of its own label keeps its margin: its label came from its own evidence.
std::vector<float> LinkedMargins(const RegionGraph& graph, const WalkedLabels& walked) {
  std::vector<double> strongestLink(graph.nodeCount(), -1.0);
  for (const GraphEdge& edge : graph.edges()) {
    const int label = walked.labels[edge.a];
    if (label < 0 || label != walked.labels[edge.b]) continue;
    const double link = edge.weight / edge.pixelPairs;
    strongestLink[edge.a] = std::max(strongestLink[edge.a], link);
    strongestLink[edge.b] = std::max(strongestLink[edge.b], link);
  }
  std::vector<float> margins = walked.margins;
  for (int cell = 0; cell < graph.nodeCount(); ++cell) {
    if (strongestLink[cell] >= 0) margins[cell] *= static_cast<float>(std::min(1.0, strongestLink[cell] / kFirmLink));
  }
  return margins;
}

// For each pixel, how far it is from a pixel of another colour in `labels`, in city-block steps, from 1 (beside
// one) up to kBoundaryBand (that far or farther).
cv::Mat StepsFromOtherLabels(const cv::Mat& labels) {
  cv::Mat withAlpha;
  cv::cvtColor(labels, withAlpha, cv::COLOR_BGR2BGRA);
  const cv::Mat codes(withAlpha.size(), CV_32S, withAlpha.data, withAlpha.step);  // one number per colour
  cv::Mat away(labels.size(), CV_8U, cv::Scalar(255));
  const int w = labels.cols, h = labels.rows;
  const std::pair<cv::Rect, cv::Rect> neighbours[] = {{{0, 0, w - 1, h}, {1, 0, w - 1, h}},
                                                      {{0, 0, w, h - 1}, {0, 1, w, h - 1}}};
  for (const auto& [first, second] : neighbours) {
    if (first.empty()) continue;
    cv::Mat same;
    cv::compare(codes(first), codes(second), same, cv::CMP_EQ);
    cv::Mat awayFirst = away(first), awaySecond = away(second);
    cv::bitwise_and(awayFirst, same, awayFirst);
    cv::bitwise_and(awaySecond, same, awaySecond);
  }
  cv::Mat steps(labels.size(), CV_8U, cv::Scalar(1));
  const cv::Mat cross = cv::getStructuringElement(cv::MORPH_CROSS, {3, 3});
  for (int step = 1; step < kBoundaryBand; ++step) {
    cv::add(steps, 1, steps, away);
    cv::erode(away, away, cross);
  }
  return steps;
}

}  // namespace

cv::Mat CompletionConfidence(const RegionGraph& graph, const WalkedLabels& walked, const cv::Mat& completed,
                             const cv::Mat& painted) {
  const std::vector<float> margins = LinkedMargins(graph, walked);
  std::vector<uchar> cellConfidence(margins.size(), 0);
  for (size_t cell = 0; cell < margins.size(); ++cell) {
    if (walked.labels[cell] >= 0) cellConfidence[cell] = cv::saturate_cast<uchar>(255.0f * margins[cell]);
  }
  const cv::Mat steps = StepsFromOtherLabels(completed);
  cv::Mat confidence(completed.size(), CV_8U);
  for (int y = 0; y < completed.rows; ++y) {
    const uchar* paint = painted.ptr<uchar>(y);
    const int* cell = graph.nodes().ptr<int>(y);
    const uchar* stepsAway = steps.ptr<uchar>(y);
    uchar* sure = confidence.ptr<uchar>(y);
    for (int x = 0; x < completed.cols; ++x) {
      sure[x] = paint[x] != 0 ? 255 : static_cast<uchar>(cellConfidence[cell[x]] * stepsAway[x] / kBoundaryBand);
    }
  }
  return confidence;
}

}  // namespace labeler
