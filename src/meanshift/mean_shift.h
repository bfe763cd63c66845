// Mean-shift colour segmentation (presegmentation settings 2, 3 and 4).
//
// The frame's distinct colours, as weighted points in CIE L*u*v*, are clustered by mean-shift searches from
// random start windows (up to 50 clusters); every pixel is then given to a cluster, clusters that never form
// a large connected region are dropped, small regions are absorbed by their neighbours (parameter sets 1 and
// 2), and each region is painted in its cluster's colour. A run is deterministic: it re-seeds the shared
// generator with 29254088 at its start. It prints ':' progress marks on standard error and its colour counts
// on standard output.
#ifndef LABELER_MEANSHIFT_MEAN_SHIFT_H_
#define LABELER_MEANSHIFT_MEAN_SHIFT_H_

#include <array>
#include <memory>
#include <stop_token>
#include <opencv2/core.hpp>
#include <string>

#include "common/random.h"

namespace labeler {

// The segmentation with its working storage kept between runs, so that segmenting frame after frame of one
// size allocates nothing after the first. Each run still starts afresh and gives the same picture as
// MeanShiftSegment.
class MeanShiftSegmenter {
 public:
  MeanShiftSegmenter();
  ~MeanShiftSegmenter();
  MeanShiftSegmenter(const MeanShiftSegmenter&) = delete;
  MeanShiftSegmenter& operator=(const MeanShiftSegmenter&) = delete;

  // As MeanShiftSegment below, drawing from `random` (which it seeds). With `report` given, its colour counts
  // are collected there (see common/report.h) and it shows no progress marks; their number goes to
  // `withheldMarks`, when given, for whoever prints the report to show them too. Throws Cancelled, at the
  // points it marks progress, once `stop` is requested.
  void Segment(const cv::Mat& frame, cv::Mat& colour, cv::Mat& edges, int mode, Random& random = Random::Shared(),
               std::string* report = nullptr, int* withheldMarks = nullptr, const std::stop_token& stop = {});

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// Segments the 8-bit BGR `frame` with parameter set `mode` (0, 1 or 2) into `colour` (each region in its
// cluster's colour, black where no cluster was found) and `edges` (0 on region boundaries, one pixel wide on
// the side of the lower label, and on the image border; 255 elsewhere). Both are created with the frame's
// size when needed. In the colour conversion channel 0 plays red and channel 2 blue.
void MeanShiftSegment(const cv::Mat& frame, cv::Mat& colour, cv::Mat& edges, int mode);

// The rounded L*u*v* of a colour (channel 0 playing red), as the segmentation sees it.
std::array<int, 3> ColourToLuv(int c0, int c1, int c2);

// The display colour (channel 0, 1, 2) of a cluster centre in L*u*v*.
std::array<int, 3> LuvToRgb(float L, float u, float v);

// The smallest accepted cluster, in pixels, for a frame of `pixelCount` pixels in `mode`.
int MinClusterSize(int pixelCount, int mode);

}  // namespace labeler

#endif  // LABELER_MEANSHIFT_MEAN_SHIFT_H_
