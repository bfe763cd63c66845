#include "annotation/label_legend.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

namespace labeler {
namespace {

int LegendColumns(const cv::Mat& image) { return std::max(1, image.cols / kLegendCellWidth); }

cv::Point CellCorner(int index, int columns) {
  return {index % columns * kLegendCellWidth, index / columns * kLegendCellHeight};
}

cv::Point OppositeCorner(cv::Point corner) { return corner + cv::Point(kLegendCellWidth, kLegendCellHeight); }

}  // namespace

void DrawLabelLegend(cv::Mat& image, const LabelSet& labels) {
  image.setTo(cv::Scalar::all(0));
  const int columns = LegendColumns(image);
  for (size_t i = 0; i < labels.size(); ++i) {
    const LabelInfo& label = labels[i];
    const cv::Point corner = CellCorner(static_cast<int>(i), columns);
    cv::rectangle(image, corner, OppositeCorner(corner), cv::Scalar(label.blue, label.green, label.red), cv::FILLED);
    cv::rectangle(image, corner, OppositeCorner(corner), cv::Scalar(128, 128, 128), 1, cv::LINE_8);
    std::string caption = label.hotKey >= 0 ? label.name + " (" + std::to_string(label.hotKey) + ")" : label.name;
    const float brightness = static_cast<float>(label.red + label.green + label.blue) * 0.33333334f;
    DrawCaption(image, corner.x, corner.y, caption, brightness < 128);
  }
}

int PickLegendLabel(int x, int y, cv::Mat& image, const LabelSet& labels) {
  const int columns = LegendColumns(image);
  for (size_t i = 0; i < labels.size(); ++i) {
    const cv::Point corner = CellCorner(static_cast<int>(i), columns);
    if (corner.y < y && y < corner.y + kLegendCellHeight && corner.x < x && x < corner.x + kLegendCellWidth) {
      cv::rectangle(image, corner, OppositeCorner(corner), cv::Scalar(0, 128, 255), 2, cv::LINE_8);
      return static_cast<int>(i);
    }
  }
  return -1;
}

void DrawCaption(cv::Mat& image, int x, int y, const std::string& text, bool white) {
  const cv::Scalar colour = white ? cv::Scalar(255, 255, 255) : cv::Scalar(0, 0, 0);
  cv::putText(image, text, cv::Point(x + 4, y + 15), cv::FONT_HERSHEY_COMPLEX, 0.4, colour, 1, cv::LINE_AA);
}

}  // namespace labeler
