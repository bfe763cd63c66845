// Where the windows go: inside the screen, the frame and the label map never covered.
#include "ui/window_layout.h"

#include <gtest/gtest.h>

namespace labeler::ui {
namespace {

constexpr int kDecoration = 32;
constexpr int kGap = 8;

// Frame window, rescaled presegmentation, label map, as the labeller creates them.
std::vector<WindowBox> Boxes(cv::Size frame, cv::Size rescaled) {
  return {{frame, 110, true}, {rescaled, 0, false}, {frame, 0, true}};
}

cv::Rect Outer(const WindowBox& box, const WindowPlace& place) {
  return {place.at, cv::Size(static_cast<int>(box.picture.width * place.scale),
                             static_cast<int>(box.picture.height * place.scale) + box.controls + kDecoration)};
}

TEST(WindowLayout, FramesThatFitKeepOneScreenPixelPerImagePixelInRows) {
  const auto places = LayOutWindows({0, 0, 1920, 1200}, Boxes({640, 480}, {400, 300}), kDecoration, kGap);
  ASSERT_EQ(places.size(), 3u);
  for (const WindowPlace& place : places) EXPECT_EQ(place.scale, 1.0);
  EXPECT_EQ(places[0].at, cv::Point(0, 0));
  EXPECT_EQ(places[1].at, cv::Point(648, 0));
  EXPECT_EQ(places[2].at, cv::Point(1056, 0));
}

TEST(WindowLayout, LargeFramesAreReducedInsideTheScreenWithoutCoveringEachOther) {
  struct Case {
    cv::Rect screen;
    cv::Size frame;
  };
  for (const Case& c : {Case{{0, 0, 1920, 1080}, {1920, 1080}}, Case{{0, 0, 1920, 1200}, {768, 576}},
                        Case{{0, 0, 1920, 1200}, {3840, 2160}}, Case{{0, 24, 1366, 744}, {1280, 720}},
                        Case{{0, 0, 1080, 1920}, {1920, 1080}}}) {
    const std::vector<WindowBox> boxes = Boxes(c.frame, {400, 400 * c.frame.height / c.frame.width});
    const auto places = LayOutWindows(c.screen, boxes, kDecoration, kGap);
    std::vector<cv::Rect> outer;
    for (size_t i = 0; i < boxes.size(); ++i) {
      outer.push_back(Outer(boxes[i], places[i]));
      EXPECT_EQ(outer.back() & c.screen, outer.back()) << c.frame << " window " << i << " leaves " << c.screen;
      EXPECT_LE(places[i].scale, 1.0);
    }
    EXPECT_TRUE((outer[0] & outer[2]).empty()) << c.frame << " on " << c.screen;
    EXPECT_EQ(places[0].scale, places[2].scale);
  }
  // 1920 x 1080 footage on an HD screen: side by side at about half size, the presegmentation under them.
  const auto hd = LayOutWindows({0, 0, 1920, 1080}, Boxes({1920, 1080}, {400, 225}), kDecoration, kGap);
  EXPECT_NEAR(hd[0].scale, 0.498, 0.001);
  EXPECT_EQ(hd[2].at.y, 0);
  EXPECT_GT(hd[1].at.y, 0);
}

}  // namespace
}  // namespace labeler::ui
