// Pyramid-linking colour segmentation.
//
// Builds a Gaussian pyramid over the frame, links every pixel and node to the most similar of its four
// candidate fathers one layer up (three iterations, colour distance the largest channel difference, strictly
// below threshold1), takes the roots of the resulting forest as components and groups them greedily around
// seeds whose colours lie strictly closer than threshold2. Every pixel gets the rounded mean colour of its
// group. Pure: a frame in, a picture out.
#ifndef LABELER_PRESEG_PYRAMID_SEGMENTATION_H_
#define LABELER_PRESEG_PYRAMID_SEGMENTATION_H_

#include <memory>
#include <stop_token>
#include <opencv2/core.hpp>

namespace labeler {

// The segmentation with its working storage kept between calls, so that segmenting frame after frame of one
// size allocates nothing after the first.
class PyramidSegmenter {
 public:
  PyramidSegmenter();
  ~PyramidSegmenter();
  PyramidSegmenter(const PyramidSegmenter&) = delete;
  PyramidSegmenter& operator=(const PyramidSegmenter&) = delete;

  // As PyramidSegment below. Throws Cancelled, between its stages, once `stop` is requested.
  void Segment(const cv::Mat& source, cv::Mat& destination, int level, double threshold1, double threshold2,
               const std::stop_token& stop = {});

 private:
  struct Workspace;
  std::unique_ptr<Workspace> workspace_;
};

// `source` is 8-bit, 3 channels; `destination` is (re)created with its size and type and may be `source`.
// Sizes that are not multiples of 2^level are padded by edge replication for the computation and cropped back.
// `level` is 1 to 15; both thresholds are rounded half to even and must not be negative.
void PyramidSegment(const cv::Mat& source, cv::Mat& destination, int level, double threshold1, double threshold2);

}  // namespace labeler

#endif  // LABELER_PRESEG_PYRAMID_SEGMENTATION_H_
