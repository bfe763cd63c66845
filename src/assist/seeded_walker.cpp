#include "assist/seeded_walker.h"

#include <algorithm>
#include <stdexcept>

namespace labeler {
namespace {

// Keeps the matrix positive definite where a node has neither evidence nor edges, far below any real weight.
constexpr double kLeak = 1e-6;
// A node whose chances of meeting any evidence sum to less than this is cut off from it.
constexpr double kReached = 1e-3;

}  // namespace

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
  for (int node = 0; node < n; ++node) entries.emplace_back(node, node, degree_[node] + kLeak);
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
    *diagonal_[node] = degree_[node] + total + kLeak;
  }
  solver_.factorize(system_);
  if (solver_.info() != Eigen::Success) throw std::runtime_error("the region graph's system could not be factorised");
  Eigen::MatrixXd sides(n, labels);
  for (int node = 0; node < n; ++node) {
    for (int k = 0; k < labels; ++k) sides(node, k) = evidence.ptr<float>(node)[k];
  }
  const Eigen::MatrixXd chances = solver_.solve(sides);
  for (int node = 0; node < n; ++node) {
    const double reached = chances.row(node).sum();
    Eigen::Index best = 0;
    const double most = chances.row(node).maxCoeff(&best);
    if (reached < kReached || most <= 0) continue;
    double second = 0;
    for (int k = 0; k < labels; ++k) {
      if (k != best) second = std::max(second, chances(node, k));
    }
    walked.labels[node] = static_cast<int>(best);
    walked.margins[node] = static_cast<float>(std::clamp((most - second) / reached, 0.0, 1.0));
  }
  return walked;
}

}  // namespace labeler
