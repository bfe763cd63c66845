// Label images found by fuzzing, kept in the label-image fuzz corpus (LABEL_IMAGE_CORPUS): headers that the
// decoders read as hundreds of millions of pixels where a reading by hand found a few.
#ifndef LABELER_TESTS_SUPPORT_OVERSIZED_LABEL_IMAGES_H_
#define LABELER_TESTS_SUPPORT_OVERSIZED_LABEL_IMAGES_H_

#include <opencv2/core.hpp>
#include <string>

namespace labeler::testing {

struct OversizedLabelImage {
  std::string Path() const { return std::string(LABEL_IMAGE_CORPUS) + "/" + name; }
  const char* name;
  cv::Size declared;  // as the decoder reads the header
};

inline const OversizedLabelImage kOversizedLabelImages[] = {
    {"tiff-width-given-twice.tif", {65534, 12803}},     // libtiff keeps the first of two ImageWidth tags
    {"tiff-width-given-twice-2.tif", {65284, 12803}},
    {"pnm-comment-ended-by-cr.ppm", {30000, 30000}},    // OpenCV ends a comment at a carriage return
    {"jpeg-fill-bytes.jpg", {32767, 32767}},            // libjpeg skips fill bytes before the frame header
    {"jpeg-fill-bytes-decodable.jpg", {32767, 32767}},  // and decodes this one whole, in 3 GB
};

}  // namespace labeler::testing

#endif  // LABELER_TESTS_SUPPORT_OVERSIZED_LABEL_IMAGES_H_
