// Colours read from a label image made elsewhere mean labels, unlabelled, or nothing the clip knows.
#include <gtest/gtest.h>

#include "assist/label_colours.h"

namespace labeler {
namespace {

TEST(LabelColours, NearColoursAreTheirLabelAndOthersUnlabelled) {
  const cv::Vec3b road(128, 64, 128), car(142, 0, 0), black(0, 0, 0);
  const LabelColours colours({road, car});
  cv::Mat labels(1, 7, CV_8UC3);
  const cv::Vec3b read[] = {road, cv::Vec3b(140, 50, 120), cv::Vec3b(130, 10, 12), cv::Vec3b(10, 12, 3),
                            cv::Vec3b(255, 255, 255), black, cv::Vec3b(200, 200, 0)};
  for (int x = 0; x < 7; ++x) labels.at<cv::Vec3b>(0, x) = read[x];
  cv::Mat painted(1, 7, CV_8UC1, cv::Scalar(255));
  painted.at<uchar>(0, 6) = 0;  // not painted: left as it is
  EXPECT_EQ(colours.Map(labels, painted), 1);  // white alone is no label's; near-black is nothing painted
  const cv::Vec3b meant[] = {road, road, car, black, black, black, cv::Vec3b(200, 200, 0)};
  const uchar stillPainted[] = {255, 255, 255, 0, 0, 255, 0};
  for (int x = 0; x < 7; ++x) {
    EXPECT_EQ(labels.at<cv::Vec3b>(0, x), meant[x]) << x;
    EXPECT_EQ(painted.at<uchar>(0, x), stillPainted[x]) << x;
  }
}

}  // namespace
}  // namespace labeler
