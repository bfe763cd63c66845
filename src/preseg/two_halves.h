// InTwoHalves: a frame-sized pass of the graph segmentation split into two halves of its rows that run at once.
//
// Each half writes only its own rows of the result, which is therefore the same however the rows are split.
// Small frames are not worth a second thread: both halves then run on the calling thread.
#ifndef LABELER_PRESEG_TWO_HALVES_H_
#define LABELER_PRESEG_TWO_HALVES_H_

#include <functional>

namespace labeler {

// Runs work(first, last) over the rows [0, rows) of a frame of `pixels` pixels, in two halves, the two at once
// when the frame is large enough to be worth a second thread. An exception thrown by either half reaches the
// caller once both have ended.
void InTwoHalves(int rows, int pixels, const std::function<void(int, int)>& work);

}  // namespace labeler

#endif  // LABELER_PRESEG_TWO_HALVES_H_
