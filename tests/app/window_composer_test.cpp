// What the windows show, through whole sessions on the test double.
#include "app/window_composer.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "app/window_layers.h"

#include "support/painting_session.h"

namespace labeler {
namespace {

using testing::kFrameWin;
using testing::kLabelWin;
using testing::kPresegWin;
using testing::PaintingSession;

// One frame: a black box, a box of 200, and a grey field of 100 with one pixel 10 brighter. The window scale
// is 1, so "Rescaled PreSeg" shows the composite pixel for pixel.
class Composition : public ::testing::Test {
 protected:
  void SetUp() override {
    cv::Mat frame(48, 64, CV_8UC3, cv::Scalar(100, 100, 100));
    frame.at<cv::Vec3b>(30, 40) = cv::Vec3b(110, 110, 110);
    cv::rectangle(frame, cv::Rect(2, 2, 12, 10), cv::Scalar(0, 0, 0), cv::FILLED);
    cv::rectangle(frame, cv::Rect(20, 2, 12, 10), cv::Scalar(200, 200, 200), cv::FILLED);
    cv::imwrite(s_.dir.File("frame0.png"), frame);
  }
  PaintingSession s_{1};
};

TEST_F(Composition, LightenedPresegmentationAndRegionHighlight) {
  s_.windows.MoveTrackbar("N,P,Q,O,U,F", 1);
  s_.windows.Do([this] {
    const cv::Mat& shown = s_.windows.lastShown[kPresegWin];
    EXPECT_EQ(shown.at<cv::Vec3b>(5, 5), cv::Vec3b(80, 80, 80));
    EXPECT_EQ(shown.at<cv::Vec3b>(5, 25), cv::Vec3b(255, 255, 255));
    EXPECT_EQ(shown.at<cv::Vec3b>(40, 10), cv::Vec3b(170, 170, 170));
  });
  s_.windows.Mouse(kFrameWin, ui::kMouseMove, 50, 40);  // selects the grey field, mean colour 100
  s_.windows.Do([this] {
    const cv::Mat& shown = s_.windows.lastShown[kPresegWin];
    EXPECT_EQ(shown.at<cv::Vec3b>(20, 10), cv::Vec3b(0, 20, 200));
    EXPECT_EQ(shown.at<cv::Vec3b>(30, 40), cv::Vec3b(10, 30, 210));
    EXPECT_EQ(shown.at<cv::Vec3b>(5, 25), cv::Vec3b(255, 255, 255));   // outside the region
    EXPECT_EQ(shown.at<cv::Vec3b>(40, 60), cv::Vec3b(0, 255, 0));      // the cursor circle, radius 10
  });
  s_.Run();
}

TEST_F(Composition, RedrawOrderAfterAFrameChangeAndAfterATrackbarMove) {
  s_.windows.Do([this] { s_.windows.showLog.clear(); });
  s_.windows.Key(' ');
  s_.windows.Do([this] {
    EXPECT_EQ(s_.windows.showLog, (std::vector<std::string>{kFrameWin, kPresegWin, kLabelWin}));
    s_.windows.showLog.clear();
  });
  s_.windows.MoveTrackbar("PyrSeg1", 10);
  s_.windows.Do([this] {
    EXPECT_EQ(s_.windows.showLog, (std::vector<std::string>{kPresegWin, kLabelWin}));
  });
  s_.Run();
}

TEST_F(Composition, SettingZeroShowsTheFrameAndNoBoundaries) {
  s_.windows.Mouse(kFrameWin, ui::kMouseMove, 50, 30);
  s_.windows.Do([this] {
    EXPECT_EQ(s_.windows.lastShown[kPresegWin].at<cv::Vec3b>(5, 5), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(s_.windows.lastShown[kPresegWin].at<cv::Vec3b>(30, 40), cv::Vec3b(0, 255, 0));
    EXPECT_EQ(s_.windows.lastShown[kLabelWin].at<cv::Vec3b>(2, 2), cv::Vec3b(0, 0, 0));
  });
  s_.Run();
}

TEST_F(Composition, BoundariesAreWhiteOnTheLabelMapForTheGraphSetting) {
  s_.windows.MoveTrackbar("N,P,Q,O,U,F", 5);
  s_.windows.Do([this] {
    const cv::Mat& map = s_.windows.lastShown[kLabelWin];
    EXPECT_EQ(map.at<cv::Vec3b>(0, 30), cv::Vec3b(255, 255, 255));   // the frame border
    EXPECT_EQ(map.at<cv::Vec3b>(30, 50), cv::Vec3b(0, 0, 0));        // inside the grey field
    EXPECT_EQ(map.at<cv::Vec3b>(1, 25), cv::Vec3b(255, 255, 255));   // beside the box
  });
  s_.Run();
}

TEST_F(Composition, KeyGFillsEverySlotAndChangesNoWindow) {
  s_.windows.Do([this] { s_.windows.showLog.clear(); });
  s_.windows.Key('g');
  s_.windows.Do([this] {
    EXPECT_TRUE(s_.windows.showLog.empty());
    EXPECT_EQ(s_.app.preseg().currentPreseg().algorithm, 0);
    for (int slot = 0; slot < PresegEngine::kSlotCount; ++slot) EXPECT_EQ(s_.app.preseg().slotParams(slot).slotTag, slot);
  });
  s_.windows.MoveTrackbar("N,P,Q,O,U,F", 4);
  s_.Run();
  // Each slot once, in order; choosing setting 4 afterwards computes nothing.
  size_t at = s_.printed.find("Refreshing Preseg \n ");
  ASSERT_NE(at, std::string::npos);
  for (const char* line : {"\t\t Caching segmentation #1\n", "\t\t Caching segmentation #2\n",
                           "\t\t Caching segmentation #3\n", "\t\t Caching segmentation #4\nprocessing\n"}) {
    at = s_.printed.find(line, at);
    EXPECT_NE(at, std::string::npos) << line;
  }
  EXPECT_EQ(s_.printed.find("Caching segmentation #3", s_.printed.find("got ")), std::string::npos);
}

// The region edges laid over "Labeled Map" in any rectangle, whatever its start and width, as a masked copy of
// the edge image in grey would lay them.
TEST(EdgesLayerAlone, DrawsEveryEdgePixelOfAnyRectangleAndNothingElse) {
  cv::Mat frame(60, 83, CV_8UC3);
  cv::RNG random(7);
  for (int y = 0; y < frame.rows; y += 6) {
    for (int x = 0; x < frame.cols; x += 5) {
      cv::rectangle(frame, cv::Rect(x, y, 5 + y % 7, 6), cv::Scalar::all(random.uniform(0, 256)), cv::FILLED);
    }
  }
  PresegEngine preseg;
  preseg.CreatePresegImages(frame.size());
  preseg.currentPreseg().algorithm = 1;
  ::testing::internal::CaptureStdout();
  preseg.UpdatePresegmentation(frame, 0, 0);
  ::testing::internal::GetCapturedStdout();
  const cv::Mat& edges = preseg.presegEdges();
  ASSERT_GT(cv::countNonZero(edges), 100);
  cv::Mat greyEdges;
  cv::cvtColor(edges, greyEdges, cv::COLOR_GRAY2BGR);
  const EdgesLayer layer(preseg);
  for (const cv::Rect& rect : {cv::Rect(0, 0, 83, 60), cv::Rect(3, 5, 1, 9), cv::Rect(1, 2, 7, 3),
                               cv::Rect(5, 7, 9, 11), cv::Rect(11, 0, 61, 60), cv::Rect(82, 59, 1, 1)}) {
    cv::Mat picture(frame.size(), CV_8UC3);
    random.fill(picture, cv::RNG::UNIFORM, 0, 256);
    cv::Mat expected = picture.clone();
    greyEdges(rect).copyTo(expected(rect), edges(rect));
    layer.Draw(picture, rect);
    EXPECT_EQ(cv::norm(picture, expected, cv::NORM_INF), 0) << rect;
  }
}

}  // namespace
}  // namespace labeler
