// Where a label assist completion is unsure, so the annotator knows where to look.
//
// A completed pixel is unsure when its confidence (255 sure, 0 nothing reached it) is below kUnsureBelow;
// painted pixels never are. The areas are outlined on "Labeled Map", and a key brings the largest one not yet
// painted under the pointer.
#ifndef LABELER_ANNOTATION_UNSURE_AREAS_H_
#define LABELER_ANNOTATION_UNSURE_AREAS_H_

#include <opencv2/core.hpp>
#include <optional>

namespace labeler {

// A margin of a quarter between the two likeliest labels, the confidence the assist bench found to hold most of
// a completion's wrong pixels in a small share of the frame.
inline constexpr int kUnsureBelow = 64;

// The pixels (255) whose `confidence` (8-bit) is below kUnsureBelow and that `painted` (8-bit, 255 painted by
// hand) leaves unpainted; all zero when `confidence` is empty.
cv::Mat UnsurePixels(const cv::Mat& confidence, const cv::Mat& painted);

// The pixels of `unsure` with a 4-neighbour outside it: the line drawn round each area.
cv::Mat OutlineOf(const cv::Mat& unsure);

// The pixel of the largest area of `unsure` (8-connected) that `painted` leaves unpainted, nearest the middle of
// that area; nothing when every unsure pixel is painted.
std::optional<cv::Point> LargestUnsureArea(const cv::Mat& unsure, const cv::Mat& painted);

}  // namespace labeler

#endif  // LABELER_ANNOTATION_UNSURE_AREAS_H_
