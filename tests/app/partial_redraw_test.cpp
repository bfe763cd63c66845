// Mouse moves redraw only rectangles of the windows. After every event of a long random session, over all six
// settings, each window must show exactly what the same session shows when every redraw is whole.
#include <gtest/gtest.h>

#include "support/painting_session.h"
#include "support/random_session.h"

namespace labeler {
namespace {

using testing::kFrameWin;
using testing::kLabelWin;
using testing::kPresegWin;
using testing::RandomSessionOptions;
using testing::RunRandomSession;
using testing::WindowPictures;

void ExpectSamePictures(cv::Size size, int maxWindowDim) {
  RandomSessionOptions options;
  options.size = size;
  options.maxWindowDim = maxWindowDim;
  options.partialRedraws = false;
  const std::vector<WindowPictures> whole = RunRandomSession(options).pictures;
  options.partialRedraws = true;
  const std::vector<WindowPictures> partial = RunRandomSession(options).pictures;
  ASSERT_EQ(whole.size(), partial.size());
  const char* names[] = {kFrameWin, kPresegWin, kLabelWin};
  for (size_t event = 0; event < whole.size(); ++event) {
    for (int w = 0; w < 3; ++w) {
      ASSERT_EQ(partial[event][w], whole[event][w]) << names[w] << " differs after event " << event;
    }
  }
}

TEST(PartialRedraws, EqualWholeRedrawsAfterEveryEventScaledDown) { ExpectSamePictures({120, 90}, 75); }

TEST(PartialRedraws, EqualWholeRedrawsAfterEveryEventHalvedAndEnlarged) {
  ExpectSamePictures({96, 72}, 48);
  ExpectSamePictures({48, 36}, 100);
}

}  // namespace
}  // namespace labeler
