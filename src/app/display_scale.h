// The scale of the "Rescaled PreSeg" window: the larger frame dimension becomes MAX_WINDOW_DIM and the other
// keeps the aspect ratio; frames smaller than that are enlarged.
#ifndef LABELER_APP_DISPLAY_SCALE_H_
#define LABELER_APP_DISPLAY_SCALE_H_

#include <opencv2/core.hpp>

namespace labeler {

struct DisplayScale {
  float scale = 1.0f;  // rescaled size over frame size
  cv::Size size;       // the rescaled picture
};

DisplayScale ComputeDisplayScale(int frameWidth, int frameHeight, int maxWindowDim);

}  // namespace labeler

#endif  // LABELER_APP_DISPLAY_SCALE_H_
