// ColourIndex: a label image's pixel mapped back to its label, by colour, as fast as a sorted table allows.
#ifndef LABELER_CONFIG_COLOUR_INDEX_H_
#define LABELER_CONFIG_COLOUR_INDEX_H_

#include <opencv2/core.hpp>
#include <utility>
#include <vector>

#include "config/label_set.h"

namespace labeler {

// Maps label colours to label indices: the first label of exactly that colour, as FindLabelByColour does.
class ColourIndex {
 public:
  explicit ColourIndex(const LabelSet& labels);
  // The label index of a BGR pixel, or -1 when no label has its colour.
  int Find(const cv::Vec3b& pixel) const;
  // The index of the first black label, or -1.
  int blackLabel() const { return blackLabel_; }

 private:
  std::vector<std::pair<int, int>> byCode_;  // (packed colour, label index), sorted, first label per colour
  int blackLabel_ = -1;
};

}  // namespace labeler

#endif  // LABELER_CONFIG_COLOUR_INDEX_H_
