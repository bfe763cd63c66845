// Synthetic frames and movies for tests: every frame carries its own index, so a test can tell which frame a
// seek really delivered.
#ifndef LABELER_TESTS_SUPPORT_TEST_MEDIA_H_
#define LABELER_TESTS_SUPPORT_TEST_MEDIA_H_

#include <opencv2/core.hpp>
#include <string>

namespace labeler::testing {

// A frame of `size` showing `index` as ten black or white bars (bit 0 leftmost) over a gradient.
cv::Mat IndexedFrame(int index, cv::Size size);
// Reads the index back from a (possibly lossy-compressed) IndexedFrame.
int ReadFrameIndex(const cv::Mat& frame);

// Writes an MJPG movie of `frames` indexed frames: every frame is a key frame.
void WriteIndexedMovie(const std::string& path, int frames, cv::Size size);
// Writes a movie with key frames `keyFrameSpacing` frames apart through ffmpeg's `encoder` (with its options):
// MPEG-4 with B-frames by default.
void WriteSparseKeyFrameMovie(const std::string& path, int frames, cv::Size size, int keyFrameSpacing,
                              const std::string& encoder = "mpeg4 -bf 2");
// Writes the movie `source` again as `path` through ffmpeg's `encoder`, key frames `keyFrameSpacing` apart.
void Reencode(const std::string& source, const std::string& path, int keyFrameSpacing, const std::string& encoder);

// Writes the first half of the file `whole` as `path`: a movie cut off in the middle, its index lost. Returns
// `path`.
std::string WriteFirstHalfOf(const std::string& whole, const std::string& path);

// The 134 bytes of a damaged label file: "N", a PNG signature one byte late, and "DICM" at offset 128, the mark
// by which the image loader takes a file for a medical image, whose decoder then aborts the process.
std::string DamagedLabelFileMarkedAsMedical();

// Writes a meta file naming the given timeline, label names and label folder.
std::string MetaText(const std::string& timeline, const std::string& labelNames, const std::string& labelDir,
                     int jumpBy = 10, int maxWindowDim = 400);

}  // namespace labeler::testing

#endif  // LABELER_TESTS_SUPPORT_TEST_MEDIA_H_
