#include "assist/seeded_walker.h"

#include <algorithm>
#include <stdexcept>

namespace labeler {
namespace {

// A node whose chances of meeting any evidence sum to less than this is cut off from it.
constexpr double kReached = 1e-3;

}  // namespace

bool MostLikelyLabel(const Eigen::MatrixXd& chances, Eigen::Index row, int& label, float& margin) {
  const double reached = chances.row(row).sum();
  Eigen::Index best = 0;
  const double most = chances.row(row).maxCoeff(&best);
  if (reached < kReached || most <= 0) return false;
  double second = 0;
  for (Eigen::Index k = 0; k < chances.cols(); ++k) {
    if (k != best) second = std::max(second, chances(row, k));
  }
  label = static_cast<int>(best);
  margin = static_cast<float>(std::clamp((most - second) / reached, 0.0, 1.0));
  return true;
}

SeededWalker::SeededWalker(const RegionGraph& graph) : graph_(graph), degree_(graph.nodeCount(), 0.0) {
  const int n = graph.nodeCount();
  std::vector<Eigen::Triplet<double>> entries;
  entries.reserve(graph.edges().size() * 2 + static_cast<size_t>(n));
  for (const GraphEdge& edge : graph.edges()) {
    entries.emplace_back(edge.a, edge.b, -edge.weight);
    entries.emplace_back(edge.b, edge.a, -edge.weight);
    degree_[edge.a] += edge.weight;
    degree_[edge.b] += edge.weight;
  }
  for (int node = 0; node < n; ++node) entries.emplace_back(node, node, degree_[node] + kWalkLeak);
  system_.resize(n, n);
  system_.setFromTriplets(entries.begin(), entries.end());
  system_.makeCompressed();
  diagonal_.resize(n);
  for (int node = 0; node < n; ++node) diagonal_[node] = &system_.coeffRef(node, node);
  solver_.analyzePattern(system_);
}

WalkedLabels SeededWalker::Walk(const cv::Mat& evidence) {
  CV_Assert(evidence.type() == CV_32F && evidence.rows == graph_.nodeCount());
  const int n = graph_.nodeCount();
  const int labels = evidence.cols;
  WalkedLabels walked{std::vector<int>(n, -1), std::vector<float>(n, 0.0f)};
  if (labels == 0 || n == 0) return walked;
  for (int node = 0; node < n; ++node) {
    const float* row = evidence.ptr<float>(node);
    double total = 0;
    for (int k = 0; k < labels; ++k) total += row[k];
    *diagonal_[node] = degree_[node] + total + kWalkLeak;
  }
  solver_.factorize(system_);
  if (solver_.info() != Eigen::Success) throw std::runtime_error("the region graph's system could not be factorised");
  Eigen::MatrixXd sides(n, labels);
  for (int node = 0; node < n; ++node) {
    for (int k = 0; k < labels; ++k) sides(node, k) = evidence.ptr<float>(node)[k];
  }
  const Eigen::MatrixXd chances = solver_.solve(sides);
  for (int node = 0; node < n; ++node) {
    MostLikelyLabel(chances, node, walked.labels[node], walked.margins[node]);
  }
  return walked;
}

}  // namespace labeler
