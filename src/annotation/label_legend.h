// The label legend: all labels as coloured cells with captions, shown while Ctrl is held, and the pick of a
// label by its cell.
#ifndef LABELER_ANNOTATION_LABEL_LEGEND_H_
#define LABELER_ANNOTATION_LABEL_LEGEND_H_

#include <opencv2/core.hpp>
#include <string>

#include "config/label_set.h"

namespace labeler {

inline constexpr int kLegendCellWidth = 120;
inline constexpr int kLegendCellHeight = 30;

// Clears `image` and draws one cell per label, row by row, as many columns as the image width holds (at least
// one): the label's colour, a grey outline and the caption "name (hot key)" or "name".
void DrawLabelLegend(cv::Mat& image, const LabelSet& labels);

// The index of the label whose cell holds (x, y) strictly inside, its cell then outlined in orange; or -1.
int PickLegendLabel(int x, int y, cv::Mat& image, const LabelSet& labels);

// A caption at the cell whose top-left corner is (x, y): white on dark cells, black on light ones.
void DrawCaption(cv::Mat& image, int x, int y, const std::string& text, bool white);

}  // namespace labeler

#endif  // LABELER_ANNOTATION_LABEL_LEGEND_H_
