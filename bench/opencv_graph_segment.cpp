// The yardstick of labeler-tool segment --setting 5 as a whole program: OpenCV's graph segmentation with the
// same parameters (sigma 0.5, k 500, minimum size 20) on one image, its labels written as a PNG.
// Usage: opencv-graph-segment INPUT OUTPUT.png
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/ximgproc/segmentation.hpp>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: opencv-graph-segment INPUT OUTPUT.png\n");
    return 2;
  }
  const cv::Mat frame = cv::imread(argv[1], cv::IMREAD_COLOR);
  if (frame.empty()) return 1;
  cv::Mat labels;
  cv::ximgproc::segmentation::createGraphSegmentation(0.5, 500, 20)->processImage(frame, labels);
  cv::Mat narrow;
  labels.convertTo(narrow, CV_16U);
  return cv::imwrite(argv[2], narrow) ? 0 : 1;
}
