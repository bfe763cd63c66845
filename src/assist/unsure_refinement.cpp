#include "assist/unsure_refinement.h"

#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>
#include <algorithm>

namespace labeler {

UnsureRefinement::UnsureRefinement(const cv::Mat& frame, const cv::Mat& cells, const cv::Mat& finer) {
  CV_Assert(cells.type() == CV_32S && finer.type() == CV_32S && cells.size() == frame.size() &&
            finer.size() == frame.size());
  cv::Mat pieces;
  const int count = OverlayPartitions({cells, finer}, pieces);
  graph_ = std::make_unique<RegionGraph>(frame, pieces, count);
  cellOf_.assign(count, 0);
  for (int y = 0; y < cells.rows; ++y) {
    const int* cell = cells.ptr<int>(y);
    const int* piece = pieces.ptr<int>(y);
    for (int x = 0; x < cells.cols; ++x) cellOf_[piece[x]] = cell[x];
  }
  double largest = 0;
  cv::minMaxLoc(cells, nullptr, &largest);
  piecesOfCell_.assign(static_cast<size_t>(largest) + 1, 0);
  for (int cell : cellOf_) ++piecesOfCell_[cell];
}

// The unsure cells, least sure first, as long as their pieces stay within kMostRefinedPieces.
std::vector<bool> UnsureRefinement::RefinedCells(const WalkedLabels& walked) const {
  std::vector<int> unsure;
  for (int cell = 0; cell < static_cast<int>(piecesOfCell_.size()); ++cell) {
    if (walked.labels[cell] >= 0 && walked.margins[cell] < kRefinedMargin) unsure.push_back(cell);
  }
  std::stable_sort(unsure.begin(), unsure.end(),
                   [&walked](int a, int b) { return walked.margins[a] < walked.margins[b]; });
  std::vector<bool> refined(piecesOfCell_.size(), false);
  int pieces = 0;
  for (int cell : unsure) {
    pieces += piecesOfCell_[cell];
    if (pieces > kMostRefinedPieces) break;
    refined[cell] = true;
  }
  return refined;
}

// Unknowns are the pieces of unsure cells; an edge to a piece of a sure cell adds its weight to the diagonal and,
// for that cell's label, to the right-hand side: the sure cells are seeds of their labels.
WalkedLabels UnsureRefinement::Refine(const WalkedLabels& walked,
                                      const std::vector<std::vector<float>>& evidence) const {
  const int labelCount = static_cast<int>(evidence.size());
  const int count = graph_->nodeCount();
  WalkedLabels refined{std::vector<int>(count, -1), std::vector<float>(count, 0.0f)};
  std::vector<int> unknown(count, -1);
  int unknowns = 0;
  const std::vector<bool> refinedCells = RefinedCells(walked);
  for (int piece = 0; piece < count; ++piece) {
    if (refinedCells[cellOf_[piece]]) unknown[piece] = unknowns++;
  }
  if (unknowns == 0 || labelCount == 0) return refined;
  Eigen::MatrixXd sides = Eigen::MatrixXd::Zero(unknowns, labelCount);
  std::vector<double> diagonal(unknowns, kWalkLeak);
  for (int piece = 0; piece < count; ++piece) {
    const int u = unknown[piece];
    if (u < 0) continue;
    for (int label = 0; label < labelCount; ++label) {
      sides(u, label) = evidence[label][piece];
      diagonal[u] += evidence[label][piece];
    }
  }
  std::vector<Eigen::Triplet<double>> entries;
  for (const GraphEdge& edge : graph_->edges()) {
    const int a = unknown[edge.a], b = unknown[edge.b];
    if (a >= 0 && b >= 0) {
      entries.emplace_back(a, b, -edge.weight);
      entries.emplace_back(b, a, -edge.weight);
      diagonal[a] += edge.weight;
      diagonal[b] += edge.weight;
    } else if (a >= 0 || b >= 0) {
      const int inside = a >= 0 ? a : b;
      const int seedLabel = walked.labels[cellOf_[a >= 0 ? edge.b : edge.a]];
      diagonal[inside] += edge.weight;
      if (seedLabel >= 0) sides(inside, seedLabel) += edge.weight;
    }
  }
  for (int u = 0; u < unknowns; ++u) entries.emplace_back(u, u, diagonal[u]);
  Eigen::SparseMatrix<double> system(unknowns, unknowns);
  system.setFromTriplets(entries.begin(), entries.end());
  const Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> solver(system);
  if (solver.info() != Eigen::Success) return refined;
  const Eigen::MatrixXd chances = solver.solve(sides);
  for (int piece = 0; piece < count; ++piece) {
    const int u = unknown[piece];
    if (u < 0) continue;
    MostLikelyLabel(chances, u, refined.labels[piece], refined.margins[piece]);
  }
  return refined;
}

}  // namespace labeler
