#include "meanshift/mean_shift.h"

namespace labeler {

// Until the mean-shift segmentation is built, the whole frame is one black region, bounded by the border.
void MeanShiftSegment(const cv::Mat& frame, cv::Mat& colour, cv::Mat& edges, int /*mode*/) {
  colour.create(frame.size(), CV_8UC3);
  colour.setTo(cv::Scalar::all(0));
  edges.create(frame.size(), CV_8UC1);
  edges.setTo(0);
  if (frame.cols > 2 && frame.rows > 2) edges(cv::Rect(1, 1, frame.cols - 2, frame.rows - 2)).setTo(255);
}

}  // namespace labeler
