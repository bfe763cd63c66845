// LabelColours: what the colours read from a label image mean among a clip's labels.
//
// Label images made elsewhere (saved as JPEG, scaled, drawn with anti-aliasing) hold colours near a label's but
// not equal to it, and strays that are no label's. The assist weighs evidence per colour, so such an image would
// cost it one column per colour found (thousands for a JPEG). Colours are therefore mapped first: each takes the
// nearest of black and the label colours (the largest channel difference; black wins a tie) when that is within
// kNearLabel, so near-black is unlabelled; a colour near none of them is unlabelled too, and counted as unknown.
// The mapping costs a comparison per pixel where colours repeat, and a search over the labels per new colour.
#ifndef LABELER_ASSIST_LABEL_COLOURS_H_
#define LABELER_ASSIST_LABEL_COLOURS_H_

#include <opencv2/core.hpp>
#include <vector>

namespace labeler {

// How far a channel may stray from a label's colour: what JPEG at its usual qualities does to flat areas.
inline constexpr int kNearLabel = 24;

class LabelColours {
 public:
  explicit LabelColours(std::vector<cv::Vec3b> colours) : colours_(std::move(colours)) {}

  // Maps the pixels of `labels` (8-bit colour) that `painted` (8-bit, non-zero) marks to their label's colour;
  // one of another colour that comes out unlabelled leaves `painted`. Returns how many of them were of colours
  // that are no label's.
  int Map(cv::Mat& labels, cv::Mat& painted) const;

 private:
  // The label colour `colour` stands for, or black with `known` false when it is no label's.
  cv::Vec3b Meaning(const cv::Vec3b& colour, bool& known) const;

  std::vector<cv::Vec3b> colours_;
};

}  // namespace labeler

#endif  // LABELER_ASSIST_LABEL_COLOURS_H_
