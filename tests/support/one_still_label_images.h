// OneStillLabelImages: the label images of a one-frame still list (32 x 24) with their timeline, presegmentation
// engine, stroke store and redraw requests, and no labeller around them, for tests that drive LabelImages itself.
#ifndef LABELER_TESTS_SUPPORT_ONE_STILL_LABEL_IMAGES_H_
#define LABELER_TESTS_SUPPORT_ONE_STILL_LABEL_IMAGES_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <opencv2/imgcodecs.hpp>

#include "annotation/label_images.h"
#include "support/temp_dir.h"

namespace labeler::testing {

struct OneStillLabelImages {
  OneStillLabelImages() {
    cv::imwrite(dir.File("frame.png"), cv::Mat(size, CV_8UC3, cv::Scalar(1, 2, 3)));
    ::testing::internal::CaptureStdout();  // the still list announces itself
    timeline = std::make_unique<Timeline>(dir.Write("frames.txt", dir.File("frame.png") + "\n"));
    timeline->ReloadMovie();
    ::testing::internal::GetCapturedStdout();
    preseg.CreatePresegImages(size);
    std::filesystem::create_directory(LabelDir());
    images = std::make_unique<LabelImages>(*timeline, preseg, strokes, redraws, LabelDir());
    images->Create(size);
  }
  std::string LabelDir() const { return dir.File("labels"); }

  const cv::Size size{32, 24};
  TempDir dir;
  std::unique_ptr<Timeline> timeline;
  PresegEngine preseg;
  StrokeStore strokes;
  RedrawRequests redraws;
  std::unique_ptr<LabelImages> images;
};

}  // namespace labeler::testing

#endif  // LABELER_TESTS_SUPPORT_ONE_STILL_LABEL_IMAGES_H_
