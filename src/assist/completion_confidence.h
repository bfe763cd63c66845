// CompletionConfidence: how sure a completion is of each pixel, so that a reviewer can look at the least sure
// pixels first.
//
// It starts from the margin the SeededWalker gives the pixel's cell and lowers it twice, where the margin is
// known to overrate itself:
// - a cell joined to the cells of its own label only across edges of the image took its label from what
//   surrounds it, not from anything like it (a lane dash, a wheel, a trunk that nobody painted): its margin is
//   scaled by its strongest link to such a cell (the mean weight of the pixel pairs along their boundary) over
//   0.1, the weight of a pair whose colour step is three quarters of the frame's root-mean-square step;
// - near a boundary between two labels, where the cells' cut and the true boundary part ways, confidence falls
//   with the distance to the other label: a pixel beside it keeps a quarter, a pixel 4 pixels away all.
// Painted pixels are sure (255); pixels that no evidence reaches, and ties, get 0. Pure.
#ifndef LABELER_ASSIST_COMPLETION_CONFIDENCE_H_
#define LABELER_ASSIST_COMPLETION_CONFIDENCE_H_

#include <opencv2/core.hpp>

#include "assist/region_graph.h"
#include "assist/seeded_walker.h"

namespace labeler {

// The confidence (8-bit, one channel) of `completed` (8-bit colour): the painted pixels of `painted` (8-bit,
// non-zero painted), and elsewhere the labels `walked` gave the cells of `graph`.
cv::Mat CompletionConfidence(const RegionGraph& graph, const WalkedLabels& walked, const cv::Mat& completed,
                             const cv::Mat& painted);

}  // namespace labeler

#endif  // LABELER_ASSIST_COMPLETION_CONFIDENCE_H_
