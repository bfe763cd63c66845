// Lost pieces: small labelled pieces of a neighbouring frame that the flow fails to carry, found again by their
// look.
//
// The dense flow follows the background: a small object moving fast (a ball, a far car) is smeared, dropped by the
// flow's round-trip check or carried nowhere, and nothing else would bring it back. Each piece of a small label (a
// connected part of the neighbour's label image) is searched for by template matching of its own pixels (its
// outline as the mask) in a window a few times its size around where the flow puts it. Where its look is found
// clearly better elsewhere than there, and nowhere else in reach nearly as well, its outline is laid there, in
// its label, over the carried labels, and what the flow carried of it is reliable evidence no more. Pure: images
// in, images out.
#ifndef LABELER_ASSIST_LOST_PIECES_H_
#define LABELER_ASSIST_LOST_PIECES_H_

#include <opencv2/core.hpp>

namespace labeler {

// `look`: the frame (8-bit, grey or colour); `neighbourLook` (the same kind) and `neighbourLabels` (8-bit
// colour, black unlabelled): the neighbour; `fromNeighbour`: for each neighbour pixel, where it is in the frame
// (as LabelCarrier::Flow from the neighbour). `all` and `reliable` are the neighbour's carried labels and their
// reliable part; each piece found is laid in both at its new place, and its label cleared from `reliable` where
// the flow put it. Returns how many were moved.
int RefindLostPieces(const cv::Mat& look, const cv::Mat& neighbourLook, const cv::Mat& neighbourLabels,
                     const cv::Mat& fromNeighbour, cv::Mat& all, cv::Mat& reliable);

}  // namespace labeler

#endif  // LABELER_ASSIST_LOST_PIECES_H_
