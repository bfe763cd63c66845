// SeededWalker: labels for the nodes of a RegionGraph from evidence on some of them (a multi-label random walker).
//
// Each node may hold evidence for some labels, a weight per label (a painted pixel, a pixel carried from another
// frame). The walker solves, for every label k, (L + S) x_k = s_k, where L is the graph's Laplacian, s_k the
// evidence for k and S the diagonal of all evidence: x_k(n) is the chance that a walk from node n, stepping
// along edges by their weights, first meets evidence for k. Each node takes its most likely label, and how sure
// that is: the margin between its two most likely labels, their chances divided by the node's chance of meeting
// any evidence (a node that reaches one label only is as sure as it gets). The matrix is the same for every
// label: one factorisation, one solve per label. Nodes that no walk links to evidence get no label and no
// margin. The object keeps the graph's sparsity analysis between calls; it borrows the graph.
#ifndef LABELER_ASSIST_SEEDED_WALKER_H_
#define LABELER_ASSIST_SEEDED_WALKER_H_

#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>
#include <opencv2/core.hpp>
#include <vector>

#include "assist/region_graph.h"

namespace labeler {

struct WalkedLabels {
  std::vector<int> labels;     // per node: a column of the evidence, or -1 where no walk reaches any evidence
  std::vector<float> margins;  // per node: 0 (a tie, or no label) to 1 (no other label within reach)
};

// Keeps a walk's system positive definite where a node has neither evidence nor edges, far below any real weight.
inline constexpr double kWalkLeak = 1e-6;

// The most likely label of row `row` of a walk's `chances` (one column per label) and its margin, as Walk gives
// them; false when the row's chances of meeting any evidence are too small to say.
bool MostLikelyLabel(const Eigen::MatrixXd& chances, Eigen::Index row, int& label, float& margin);

class SeededWalker {
 public:
  explicit SeededWalker(const RegionGraph& graph);

  // `evidence` holds one row per node and one column per label (32-bit floats). Throws std::runtime_error when
  // the system can't be solved.
  WalkedLabels Walk(const cv::Mat& evidence);

 private:
  const RegionGraph& graph_;
  Eigen::SparseMatrix<double> system_;  // L + S, its diagonal rewritten by each walk
  std::vector<double> degree_;
  std::vector<double*> diagonal_;
  Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> solver_;
};

}  // namespace labeler

#endif  // LABELER_ASSIST_SEEDED_WALKER_H_
