// The PNG files labeler-tool writes. Index masks are encoded fast: masks are long runs of equal values, which
// run-length coding without row filters compresses well in a fraction of the time a general-purpose PNG encoder
// spends choosing filters. Pictures (frames, presegmentations) go through OpenCV's encoder.
#ifndef LABELER_TOOLS_MASK_PNG_H_
#define LABELER_TOOLS_MASK_PNG_H_

#include <array>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace labeler::tool {

// One colour of a PNG palette: red, green, blue.
using PaletteColour = std::array<unsigned char, 3>;

// Encodes an 8-bit, one-channel image as a greyscale PNG into `png`, or with `palette` (256 colours, one per
// value) as a palette PNG whose pixels are the same values. Returns false when libpng fails.
bool EncodeMaskPng(const cv::Mat& mask, std::vector<unsigned char>& png,
                   const std::vector<PaletteColour>& palette = {});

// Writes `image` as a PNG file that is replaced whole (see WriteFileAtomically), so a job killed midway leaves no
// torn picture. Returns "" or why it failed: "PNG encoding failed" or "cannot be written: <reason>".
std::string WritePngAtomically(const std::string& path, const cv::Mat& image);

}  // namespace labeler::tool

#endif  // LABELER_TOOLS_MASK_PNG_H_
