// The record of which pixels of a frame's label image the annotator painted by hand.
//
// With label assist on, a saved label image holds two kinds of pixels: those painted (strokes and accepted "p"
// and "P" proposals) and those the assist completed. Only the painted ones are the annotator's word; the rest
// is completed afresh whenever the frame is entered again. The record keeps that distinction beside the label
// images, in the hidden folder "<label folder>/.painted" that tools globbing "frame-*.png" never see, as a
// one-bit PNG of the frame's size (white = painted) named like its label image. It carries a digest of the label
// image's pixels, so a record whose label image was since replaced (by another program, or by a save cut short
// between the two files) is recognised as stale and ignored. A frame without a usable record counts as painted
// wherever its label image is not black, as label images always did.
#ifndef LABELER_ANNOTATION_PAINTED_RECORD_H_
#define LABELER_ANNOTATION_PAINTED_RECORD_H_

#include <cstdint>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace labeler {

// "<dir>/.painted/frame-%.6d.png".
std::string PaintedRecordPath(const std::string& labelDir, int frame);

// A digest of the pixels of a label image (8-bit colour): what ties a record to the image it describes.
uint64_t LabelImageDigest(const cv::Mat& labels);

// The record of `labels` whose painted pixels are the non-zero ones of `painted` (8-bit, one channel), as PNG
// bytes. Returns false when libpng fails.
bool EncodePaintedRecord(const cv::Mat& painted, const cv::Mat& labels, std::vector<unsigned char>& png);

// Whether `labels` needs a record: some of its painted pixels are black (a black label), or some of its pixels
// are labelled without being painted. Otherwise the non-black pixels say the same.
bool NeedsPaintedRecord(const cv::Mat& painted, const cv::Mat& labels);

// The painted pixels (255) of `labels`, the stored label image of `frame`, from its record; without a record that
// matches `labels`, its non-black pixels.
cv::Mat PaintedPixels(const std::string& labelDir, int frame, const cv::Mat& labels);

// The non-black pixels of `labels` (255).
cv::Mat NonBlackPixels(const cv::Mat& labels);

}  // namespace labeler

#endif  // LABELER_ANNOTATION_PAINTED_RECORD_H_
