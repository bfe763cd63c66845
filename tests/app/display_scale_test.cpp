#include "app/display_scale.h"

#include <gtest/gtest.h>

namespace labeler {
namespace {

TEST(DisplayScale, LargerDimensionBecomesTheMaximum) {
  struct Case {
    int width, height, max, expectedWidth, expectedHeight;
  };
  for (Case c : {Case{640, 480, 400, 400, 300}, Case{320, 240, 400, 400, 300}, Case{480, 640, 400, 300, 400},
                 Case{352, 288, 400, 400, 327}, Case{720, 576, 500, 500, 400}}) {
    DisplayScale scale = ComputeDisplayScale(c.width, c.height, c.max);
    EXPECT_EQ(scale.size, cv::Size(c.expectedWidth, c.expectedHeight)) << c.width << "x" << c.height;
  }
  EXPECT_FLOAT_EQ(ComputeDisplayScale(640, 480, 400).scale, 0.625f);
  EXPECT_FLOAT_EQ(ComputeDisplayScale(320, 240, 400).scale, 1.25f);
}

}  // namespace
}  // namespace labeler
