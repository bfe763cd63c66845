// The size a picture file declares in its header, read without decoding it.
//
// Image decoders allocate the picture a header declares before its pixels prove the header wrong, so a damaged or
// hostile label image of a few bytes could cost gigabytes. The label images' loader asks first. Known: PNG, BMP,
// TIFF (its first picture), JPEG and the PBM/PGM/PPM family.
//
// A header is read as its decoder reads it, for a header read any other way may declare a few pixels where the
// decoder finds a billion (two ImageWidth tags, a comment ended by a carriage return, fill bytes before a
// marker): PNG, JPEG and TIFF headers by libpng, libjpeg and libtiff, which OpenCV decodes them with, stopping
// before the first pixel; BMP and PBM/PGM/PPM headers as OpenCV's own readers take them. The libraries'
// warnings and errors stay off the console.
#ifndef LABELER_ANNOTATION_DECLARED_SIZE_H_
#define LABELER_ANNOTATION_DECLARED_SIZE_H_

#include <cstdio>
#include <opencv2/core.hpp>
#include <optional>

namespace labeler {

// The width and height `file` declares, or nothing when its header can't be read as one of the formats above.
// Moves the file's position.
std::optional<cv::Size> DeclaredSize(std::FILE* file);

}  // namespace labeler

#endif  // LABELER_ANNOTATION_DECLARED_SIZE_H_
