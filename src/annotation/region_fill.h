// The presegmentation region under a point: the 8-connected set of pixels of exactly the seed's colour.
#ifndef LABELER_ANNOTATION_REGION_FILL_H_
#define LABELER_ANNOTATION_REGION_FILL_H_

#include <opencv2/core.hpp>
#include <vector>

namespace labeler {

// Marks with 1 in `mask` (8-bit, the image's size, continuous) every pixel of the region of `image` (8-bit BGR)
// that holds (x, y), stopping at pixels already marked, and appends their indices (y x width + x) to `pixels`.
// `stack` is working storage, kept by the caller so that no call allocates once it has grown.
void FillEqualColourRegion(const cv::Mat& image, int x, int y, cv::Mat& mask, std::vector<int>& pixels,
                           std::vector<int>& stack);

}  // namespace labeler

#endif  // LABELER_ANNOTATION_REGION_FILL_H_
