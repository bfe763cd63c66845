// UnsureRefinement: the cells the walk is unsure of, cut finer and walked again, so that a few strokes bring a
// small object's outline, or a boundary the cells straddle, to the true one.
//
// The walk labels whole cells, and a cell that straddles two objects takes one label: where its margin (see
// SeededWalker) is under kRefinedMargin, its pieces in a finer presegmentation are walked again (at most
// kMostRefinedPieces of them, the least sure cells' first), on their own
// graph, with the evidence that falls in each piece and the labels of the sure cells around them fixed, as a
// random walker with those cells as seeds. A sure cell keeps its label; a piece no evidence or sure cell reaches
// keeps its cell's. The cells around the refined ones are seeds of their walked labels, also unsure ones left out
// by the bound, and a cell no walk reached (no label) only takes chances away. Built once per frame with the
// cells; each Refine walks every piece once and factorises the unsure pieces' system, whose size the bound
// keeps in check. Not thread-safe.
#ifndef LABELER_ASSIST_UNSURE_REFINEMENT_H_
#define LABELER_ASSIST_UNSURE_REFINEMENT_H_

#include <memory>
#include <opencv2/core.hpp>
#include <vector>

#include "assist/region_graph.h"
#include "assist/seeded_walker.h"

namespace labeler {

// Cells walked with a margin under this are refined: the walk's margins rarely reach it where two labels meet.
inline constexpr float kRefinedMargin = 0.9f;
// At most this many pieces are walked again, those of the least sure cells first: what a 640 x 480 frame needs,
// and a bound on the factorisation's time at any size.
inline constexpr int kMostRefinedPieces = 10000;

class UnsureRefinement {
 public:
  // `cells` numbers the walk's cells (32-bit integers, `frame`'s size); `finer` numbers the regions of a finer
  // presegmentation of `frame`. The pieces are the cells cut along `finer`'s boundaries.
  UnsureRefinement(const cv::Mat& frame, const cv::Mat& cells, const cv::Mat& finer);

  // The label of each piece, as a column of `evidence` ([label][piece], what speaks for each label in each
  // piece, as the walk's evidence does for the cells), and its margin as SeededWalker gives one: label -1 where
  // the piece keeps its cell's.
  WalkedLabels Refine(const WalkedLabels& walked, const std::vector<std::vector<float>>& evidence) const;

  // The piece of each pixel (32-bit integers), and how many there are.
  const cv::Mat& pieces() const { return graph_->nodes(); }
  int pieceCount() const { return graph_->nodeCount(); }

 private:
  std::vector<bool> RefinedCells(const WalkedLabels& walked) const;

  std::unique_ptr<RegionGraph> graph_;  // of the pieces
  std::vector<int> cellOf_;             // per piece
  std::vector<int> piecesOfCell_;       // per cell
};

}  // namespace labeler

#endif  // LABELER_ASSIST_UNSURE_REFINEMENT_H_
