// Reading a stored label image, as the labeller, the export and the other tools all do.
//
// The labeller writes its label images as PNG, but a label folder may also hold pictures made elsewhere, so the
// formats such pictures come in are read too: PNG, BMP, TIFF, JPEG and the PBM/PGM/PPM family, each recognised
// by the bytes it starts with, whatever the file's name. No other file reaches the image loader: it picks its
// decoder by content as well, and some of its decoders for other kinds of picture abort the whole process on a
// damaged file instead of failing.
#ifndef LABELER_ANNOTATION_LABEL_IMAGE_FILE_H_
#define LABELER_ANNOTATION_LABEL_IMAGE_FILE_H_

#include <cstdio>
#include <opencv2/core.hpp>
#include <string>

namespace labeler {

// A stored label image as the labeller uses it: grey, grey with alpha, colour with alpha and 16-bit files are
// converted to 8-bit, 3 channels (16-bit samples by their high byte). An empty image when the file is not a
// regular file, is not in one of the formats above, can't be decoded, is a PNG file whose chunks claim more
// than the file holds, or declares more than 8192 x 8192 pixels without declaring `frameSize`, the size of the
// frames it belongs to (when the caller knows it).
cv::Mat ReadStoredLabelImage(const std::string& path, cv::Size frameSize = {});

// Whether the chunks of a PNG file fit in it. The PNG decoder believes a chunk's declared length and allocates
// that much first, so a damaged length could cost gigabytes before the end of the file says "no". Moves the
// file's position.
bool ChunksFitTheFile(std::FILE* file);

}  // namespace labeler

#endif  // LABELER_ANNOTATION_LABEL_IMAGE_FILE_H_
