#include "tools/report_pictures.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <numeric>
#include <opencv2/imgproc.hpp>

#include "annotation/label_image_file.h"
#include "annotation/painted_record.h"
#include "tools/command_support.h"
#include "tools/frame_pictures.h"
#include "tools/mask_png.h"

namespace labeler::tool {
namespace {

constexpr double kLargestSide = 240;

std::string SizeText(const cv::Mat& image) { return std::to_string(image.cols) + " x " + std::to_string(image.rows); }

// The label image laid half-transparent over the frame where it labels anything; the bare frame elsewhere.
cv::Mat Overlay(const cv::Mat& frame, const cv::Mat& labels) {
  cv::Mat blended;
  cv::addWeighted(frame, 0.5, labels, 0.5, 0, blended);
  cv::Mat picture = frame.clone();
  blended.copyTo(picture, NonBlackPixels(labels));
  return picture;
}

// Small pictures are enlarged pixel for pixel, so that a label image of a few pixels is still seen as one.
cv::Mat Thumbnail(const cv::Mat& picture) {
  const double scale = std::min(kLargestSide / picture.cols, kLargestSide / picture.rows);
  const cv::Size size(std::max(1, cvRound(picture.cols * scale)), std::max(1, cvRound(picture.rows * scale)));
  cv::Mat small;
  cv::resize(picture, small, size, 0, 0, scale < 1 ? cv::INTER_AREA : cv::INTER_NEAREST);
  return small;
}

// The label image over its frame, or alone with why in `problem`.
cv::Mat Picture(FramePictures* frames, int frame, const cv::Mat& labels, std::string& problem) {
  if (frames == nullptr) return labels;
  const cv::Mat picture = frames->Read(frame, problem);
  if (picture.empty()) return labels;
  if (picture.size() != labels.size()) {
    problem = "the label image is " + SizeText(labels) + ", its frame " + SizeText(picture);
    return labels;
  }
  return Overlay(picture, labels);
}

// The indices of `pictures` by ascending frame, so the timeline is read forward.
std::vector<size_t> ByFrame(const std::vector<ReportPicture>& pictures) {
  std::vector<size_t> order(pictures.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&pictures](size_t a, size_t b) { return pictures[a].frame < pictures[b].frame; });
  return order;
}

}  // namespace

std::vector<Failure> DrawReportPictures(const std::string& timelinePath, const std::string& dir,
                                        std::vector<ReportPicture>& pictures) {
  std::vector<Failure> failures;
  std::unique_ptr<FramePictures> frames;
  try {
    if (!pictures.empty()) frames = std::make_unique<FramePictures>(timelinePath);
  } catch (const FatalError& failure) {
    failures.push_back({"", "cannot read the frames: " + FailureReason(failure) + "; label images drawn alone"});
  }
  for (size_t i : ByFrame(pictures)) {
    ReportPicture& picture = pictures[i];
    const std::string path = (std::filesystem::path(dir) / picture.file).string();
    const cv::Mat labels = ReadStoredLabelImage(picture.labelImage);
    if (labels.empty()) {
      failures.push_back({picture.labelImage, "can't be decoded as an image; not drawn in the report"});
      continue;
    }
    std::string problem;
    const cv::Mat drawn = Picture(frames.get(), picture.frame, labels, problem);
    if (!problem.empty()) failures.push_back({path, problem + "; the label image is drawn alone"});
    const std::string reason = WritePngAtomically(path, Thumbnail(drawn));
    if (!reason.empty()) failures.push_back({path, reason});
    picture.drawn = reason.empty();
  }
  return failures;
}

}  // namespace labeler::tool
