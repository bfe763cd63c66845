// Mean-shift colour segmentation (presegmentation settings 2, 3 and 4).
#ifndef LABELER_MEANSHIFT_MEAN_SHIFT_H_
#define LABELER_MEANSHIFT_MEAN_SHIFT_H_

#include <opencv2/core.hpp>

namespace labeler {

// Segments the 8-bit BGR `frame` with parameter set `mode` (0, 1 or 2) into `colour` (each region in its
// cluster's colour) and `edges` (0 on region boundaries and on the image border, 255 elsewhere). Both are
// created with the frame's size when needed.
void MeanShiftSegment(const cv::Mat& frame, cv::Mat& colour, cv::Mat& edges, int mode);

}  // namespace labeler

#endif  // LABELER_MEANSHIFT_MEAN_SHIFT_H_
