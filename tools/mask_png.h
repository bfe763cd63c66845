// Encoding index masks as PNG, fast: masks are long runs of equal values, which run-length coding without row
// filters compresses well in a fraction of the time a general-purpose PNG encoder spends choosing filters.
#ifndef LABELER_TOOLS_MASK_PNG_H_
#define LABELER_TOOLS_MASK_PNG_H_

#include <opencv2/core.hpp>
#include <vector>

namespace labeler::tool {

// Encodes an 8-bit, one-channel image as a greyscale PNG into `png`. Returns false when libpng fails.
bool EncodeMaskPng(const cv::Mat& mask, std::vector<unsigned char>& png);

}  // namespace labeler::tool

#endif  // LABELER_TOOLS_MASK_PNG_H_
