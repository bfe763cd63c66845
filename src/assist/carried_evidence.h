// Carried evidence: what the label images of neighbouring frames say about this frame's labels, kept only where
// the flow can be trusted.
//
// Each neighbour's labels are carried by the dense flow as "p" carries them. A carried label is evidence, not a
// constraint: it is dropped where the flow to the neighbour and back misses the pixel it started from by more than
// a pixel (occlusions, fast small objects), and in a band of two pixels along every carried boundary, where one
// frame's errors would otherwise copy themselves into the next. Small pieces the flow loses are looked for by
// their look and carried where they are found (see RefindLostPieces). Frames larger than 960 x 540 are carried
// with the flow of copies scaled down to 960 x 540 pixels. Pure: frames and images in, images out.
#ifndef LABELER_ASSIST_CARRIED_EVIDENCE_H_
#define LABELER_ASSIST_CARRIED_EVIDENCE_H_

#include <opencv2/core.hpp>
#include <vector>

#include "propagation/label_carrier.h"

namespace labeler {

// A neighbouring frame with a label image: its grey picture and its labels (8-bit colour, black unlabelled), and
// its colour picture, by which small pieces the flow loses are found again (see RefindLostPieces); without it,
// by the grey one.
struct LabelledNeighbour {
  cv::Mat grey;
  cv::Mat labels;
  cv::Mat picture{};
};

struct CarriedLabels {
  cv::Mat all;       // every carried label, first neighbour first (8-bit colour, black none)
  cv::Mat reliable;  // the part of `all` that counts as evidence
};

// Carries the labels of `neighbours` to the frame `grey` (all of one size, at least CanCarry's; `picture` is
// its colour picture, or empty when the neighbours have none). Where two neighbours disagree on a reliable
// label, neither counts.
CarriedLabels CarryFromNeighbours(const cv::Mat& grey, const std::vector<LabelledNeighbour>& neighbours,
                                  LabelCarrier& carrier, const cv::Mat& picture = {});

// Adds `proposal`, labels proposed for this very frame (a model's prediction; label colours, black none), to
// `carried` as one more neighbour that needs no carrying: its boundaries cut the cells, it is evidence away from
// them, and where it and the reliable carried labels disagree, neither counts.
void AddProposedLabels(CarriedLabels& carried, const cv::Mat& proposal);

}  // namespace labeler

#endif  // LABELER_ASSIST_CARRIED_EVIDENCE_H_
