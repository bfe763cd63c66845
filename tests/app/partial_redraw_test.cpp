// Mouse moves redraw only rectangles of the windows. After every event of a long random session, over all six
// settings, each window must show exactly what the same session shows when every redraw is whole.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "common/random.h"
#include "support/checksum.h"
#include "support/painting_session.h"

namespace labeler {
namespace {

using testing::Checksum;
using testing::kFrameWin;
using testing::kLabelWin;
using testing::kPresegWin;
using testing::PaintingSession;

using Pictures = std::array<uint64_t, 3>;  // checksums of the three windows' pictures

// Frames with texture, so that every presegmentation has many regions of many sizes.
void TextureFrames(PaintingSession& s, int frames, cv::Size size) {
  std::string list;
  cv::RNG rng(11);
  for (int i = 0; i < frames; ++i) {
    cv::Mat frame(size, CV_8UC3, cv::Scalar(60 + 20 * i, 90, 120));
    for (int shape = 0; shape < 14; ++shape) {
      const cv::Point centre(rng.uniform(0, size.width), rng.uniform(0, size.height));
      const cv::Scalar colour(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256));
      if (shape % 2 == 0) {
        cv::circle(frame, centre, rng.uniform(3, 20), colour, cv::FILLED);
      } else {
        cv::rectangle(frame, cv::Rect(centre, cv::Size(rng.uniform(4, 40), rng.uniform(2, 12))), colour, cv::FILLED);
      }
    }
    cv::Mat noise(size, CV_8UC3);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 12);
    frame += noise;
    const std::string name = s.dir.File("texture" + std::to_string(i) + ".png");
    cv::imwrite(name, frame);
    list += name + "\n";
  }
  s.dir.Write("frames.txt", list);
}

// Runs the scripted random session and returns the three pictures after every event.
std::vector<Pictures> RunSession(bool partial, cv::Size size, int maxWindowDim) {
  PaintingSession s(3, size, maxWindowDim);
  TextureFrames(s, 3, size);
  std::vector<Pictures> seen;
  auto look = [&s, &seen] {
    seen.push_back({Checksum(s.windows.lastShown[kFrameWin]), Checksum(s.windows.lastShown[kPresegWin]),
                    Checksum(s.windows.lastShown[kLabelWin])});
  };
  s.windows.Do([&s, partial] { s.app.composer().SetPartialRedraws(partial); });
  std::mt19937 generator(5);
  auto pick = [&generator](int n) { return std::uniform_int_distribution<int>(0, n - 1)(generator); };
  const double toRescaled = static_cast<double>(maxWindowDim) / std::max(size.width, size.height);
  auto place = [&](const char* window, int& x, int& y) {
    x = pick(size.width + 8) - 4;
    y = pick(size.height + 8) - 4;
    if (window == kPresegWin) x = static_cast<int>(x * toRescaled), y = static_cast<int>(y * toRescaled);
  };
  const char* windows[] = {kFrameWin, kPresegWin, kLabelWin};
  const int keys[] = {' ', 8, 'c', 26, 25, 4, '1', '2', 'g', 'o', 's', 'S', 'n', 'p', 'P'};
  for (int event = 0; event < 1500; ++event) {
    const char* window = windows[pick(3)];
    int x = 0;
    int y = 0;
    place(window, x, y);
    const int kind = pick(100);
    if (kind < 40) {
      s.windows.Mouse(window, ui::kMouseMove, x, y, pick(3) == 0 ? 0 : ui::kFlagLeft);
    } else if (kind < 48) {
      s.windows.Mouse(window, ui::kLeftPress, x, y, ui::kFlagLeft);
    } else if (kind < 56) {
      s.windows.Mouse(window, ui::kLeftRelease, x, y, 0);
    } else if (kind < 62) {
      s.windows.Mouse(window, pick(2) ? ui::kWheelForward : ui::kWheelBack, x, y);
    } else if (kind < 66) {
      s.windows.Mouse(window, ui::kMouseMove, x, y, ui::kFlagCtrl);
    } else if (kind < 69) {
      s.windows.Mouse(kLabelWin, ui::kRightPress, pick(size.width), pick(size.height), ui::kFlagRight);
    } else if (kind < 75) {
      s.windows.MoveTrackbar("N,P,Q,O,U,F", pick(6));
    } else if (kind < 77) {
      s.windows.MoveTrackbar("PyrSeg1", pick(80));
    } else if (kind < 90) {
      s.windows.Mouse(window, ui::kMouseMove, x, y, ui::kFlagLeft);
    } else {
      s.windows.Key(keys[pick(std::size(keys))]);
    }
    s.windows.Do(look);
  }
  s.windows.Key('c');  // nothing left unsaved: Escape quits at once
  Random::Shared().Seed(1);
  ::testing::internal::CaptureStderr();
  s.Run();
  ::testing::internal::GetCapturedStderr();
  return seen;
}

void ExpectSamePictures(cv::Size size, int maxWindowDim) {
  const std::vector<Pictures> whole = RunSession(false, size, maxWindowDim);
  const std::vector<Pictures> partial = RunSession(true, size, maxWindowDim);
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
