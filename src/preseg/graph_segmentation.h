// Graph-based segmentation (presegmentation setting 5).
//
// Pixels are the vertices of a graph whose edges join each pixel to its eight neighbours, weighted by their
// colour distance after Gaussian smoothing. Components merge over the edges in order of increasing weight while
// an edge is no heavier than the internal threshold of both components; a second pass lets components smaller
// than minSize absorb into a neighbour. Each component is painted in a colour drawn from the process-wide
// pseudo-random generator given (the process-wide one unless the caller has its own). Pure apart from that
// generator and its two progress lines.
#ifndef LABELER_PRESEG_GRAPH_SEGMENTATION_H_
#define LABELER_PRESEG_GRAPH_SEGMENTATION_H_

#include <opencv2/core.hpp>
#include <stop_token>
#include <string>
#include <vector>

#include "common/random.h"

namespace labeler {

// Segments the 8-bit BGR `frame` into `colour` (one colour per component; created with the frame's size when
// needed) and `edges` (8-bit: 0 on component boundaries, two pixels wide, and on the image border; 255
// elsewhere). sigma -1 means 0.5, k -1 means 500, minSize -1 means 20; other values are used as given.
// Reports "processing" and "got %d components" (see common/report.h); returns the number of components. Draws
// exactly 3 x width x height numbers from `random`, or throws Cancelled, between its stages and before drawing
// any, once `stop` is requested.
int GraphSegment(const cv::Mat& frame, cv::Mat& colour, cv::Mat& edges, float sigma, float k, int minSize,
                 Random& random = Random::Shared(), std::string* report = nullptr, const std::stop_token& stop = {});

// The one-sided Gaussian smoothing mask: tap i applies at distance i on both sides; sigma below 0.01 counts as
// 0.01. NormaliseMask scales it so that the full symmetric mask sums to 1.
std::vector<float> MakeGaussianMask(float sigma);
void NormaliseMask(std::vector<float>& mask);

}  // namespace labeler

#endif  // LABELER_PRESEG_GRAPH_SEGMENTATION_H_
