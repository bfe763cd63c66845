// A checksum of an image's size, type and pixels, to pin a picture in a test.
#ifndef LABELER_TESTS_SUPPORT_CHECKSUM_H_
#define LABELER_TESTS_SUPPORT_CHECKSUM_H_

#include <cstdint>
#include <opencv2/core.hpp>

namespace labeler::testing {

// FNV-1a over the size, the type and the pixel bytes row by row.
inline uint64_t Checksum(const cv::Mat& image) {
  uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](uint8_t byte) {
    hash ^= byte;
    hash *= 1099511628211ull;
  };
  for (int value : {image.cols, image.rows, image.type()}) {
    for (int shift = 0; shift < 32; shift += 8) mix(static_cast<uint8_t>(value >> shift));
  }
  for (int y = 0; y < image.rows; ++y) {
    const uint8_t* row = image.ptr<uint8_t>(y);
    for (size_t i = 0; i < image.cols * image.elemSize(); ++i) mix(row[i]);
  }
  return hash;
}

}  // namespace labeler::testing

#endif  // LABELER_TESTS_SUPPORT_CHECKSUM_H_
