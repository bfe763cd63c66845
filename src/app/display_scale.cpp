#include "app/display_scale.h"

#include <cmath>

namespace labeler {

DisplayScale ComputeDisplayScale(int frameWidth, int frameHeight, int maxWindowDim) {
  // The width ratio is a float and the height ratio a double; the height ratio wins a tie. The products are
  // rounded half to even, as the window size has always been computed.
  float widthRatio = static_cast<float>(frameWidth) / static_cast<float>(maxWindowDim);
  double heightRatio = static_cast<double>(frameHeight) / maxWindowDim;
  double larger = widthRatio > heightRatio ? widthRatio : heightRatio;
  DisplayScale result;
  result.scale = static_cast<float>(1.0 / larger);
  result.size.width = static_cast<int>(std::nearbyint(frameWidth * static_cast<double>(result.scale)));
  result.size.height = static_cast<int>(std::nearbyint(frameHeight * static_cast<double>(result.scale)));
  return result;
}

}  // namespace labeler
