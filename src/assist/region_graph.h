// RegionGraph: a frame as a graph of small regions, along which labels spread until the image's edges stop them.
//
// The nodes are the cells of a partition of the frame: every pixel carries the number of its node. Two nodes are
// joined when some of their pixels are 4-neighbours, with the weight
//   sum over those pixel pairs of exp(-4 |dLab|^2 / m),
// dLab the difference of the two pixels' CIE Lab colours and m the mean of |dLab|^2 over all neighbour pairs of
// the frame: a pair inside a smooth area joins its nodes fully, a pair across an edge of the image hardly at all
// (never less than 1e-4).
// Building costs a few passes over the frame; the graph is immutable afterwards.
#ifndef LABELER_ASSIST_REGION_GRAPH_H_
#define LABELER_ASSIST_REGION_GRAPH_H_

#include <opencv2/core.hpp>
#include <vector>

namespace labeler {

struct GraphEdge {
  int a = 0;
  int b = 0;  // a < b
  double weight = 0;
  int pixelPairs = 0;  // the 4-neighbour pixel pairs the weight sums over
};

class RegionGraph {
 public:
  // `nodes` (32-bit integers, the frame's size) numbers the node of each pixel, 0 to nodeCount - 1.
  RegionGraph(const cv::Mat& frame, const cv::Mat& nodes, int nodeCount);

  const cv::Mat& nodes() const { return nodes_; }
  int nodeCount() const { return nodeCount_; }
  const std::vector<GraphEdge>& edges() const { return edges_; }
  // Each node's mean CIE Lab colour (from a frame scaled to [0, 1]: L from 0 to 100) and its pixel count.
  const std::vector<cv::Vec3f>& meanColours() const { return meanColours_; }
  const std::vector<int>& areas() const { return areas_; }

 private:
  void MeasureNodes(const cv::Mat& lab);

  cv::Mat nodes_;
  int nodeCount_;
  std::vector<GraphEdge> edges_;
  std::vector<cv::Vec3f> meanColours_;
  std::vector<int> areas_;
};

// The cells of the overlay of `partitions` (each 32-bit integers, one size): two pixels share a cell when they
// share their number in every partition. Writes each pixel's cell, numbered from 0 in raster order of first
// appearance, to `cells`; returns the number of cells.
int OverlayPartitions(const std::vector<cv::Mat>& partitions, cv::Mat& cells);

}  // namespace labeler

#endif  // LABELER_ASSIST_REGION_GRAPH_H_
