// StatusFit: which parts of a status line to show when the window is too narrow for all of them.
//
// A status line is parts in a row with a gap between two. When they don't all fit, the least important parts
// give way, whole, rather than the line being cut off mid-word; of parts equally important, the rightmost goes
// first. Pure: widths in, the parts kept out.
#ifndef LABELER_UI_STATUS_FIT_H_
#define LABELER_UI_STATUS_FIT_H_

#include <cstddef>
#include <vector>

namespace labeler::ui {

// The indices, ascending, of the parts (each `widths[i]` wide, of `importance[i]`) that fit in `room` with `gap`
// between two. The most important part is kept even when it alone is wider than `room`; nothing is kept of no
// parts.
std::vector<size_t> PartsThatFit(const std::vector<int>& widths, const std::vector<int>& importance, int gap, int room);

}  // namespace labeler::ui

#endif  // LABELER_UI_STATUS_FIT_H_
