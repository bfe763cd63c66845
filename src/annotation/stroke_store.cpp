#include "annotation/stroke_store.h"

#include <algorithm>
#include <cstdio>
#include <opencv2/imgproc.hpp>

namespace labeler {

void Stroke::DrawStroke(cv::Mat& image, const cv::Scalar& colour) const {
  const cv::Scalar& paint = colour[0] == -1.0 ? this->colour : colour;
  for (const cv::Point& point : points) cv::circle(image, point, radius, paint, cv::FILLED, cv::LINE_8, 0);
}

cv::Rect Stroke::StrokeBounds() const {
  if (carried != nullptr) return carriedBounds;
  int minX = 10000, minY = 10000, maxX = -1, maxY = -1;
  for (const cv::Point& point : points) {
    minX = std::min(minX, point.x);
    minY = std::min(minY, point.y);
    maxX = std::max(maxX, point.x);
    maxY = std::max(maxY, point.y);
  }
  return {minX - radius, minY - radius, maxX - minX + 2 * radius + 1, maxY - minY + 2 * radius + 1};
}

void StrokeStore::BeginStroke(int x, int y, int radius, const cv::Scalar& colour, const std::string& paramLine) {
  Stroke stroke;
  stroke.points.emplace_back(x, y);
  stroke.radius = radius;
  stroke.colour = colour;
  stroke.paramLine = paramLine;
  stroke.serial = nextSerial_++;
  strokes_.push_back(std::move(stroke));
  currentStroke_ = static_cast<int>(strokes_.size()) - 1;
  ++generation_;
}

void StrokeStore::AddCarriedLabels(cv::Mat labels, const std::string& paramLine) {
  Stroke stroke;
  cv::Mat channels[3];
  cv::split(labels, channels);
  cv::Mat labelled = channels[0] | channels[1] | channels[2];
  stroke.carriedBounds = cv::boundingRect(labelled);  // of the non-zero pixels
  stroke.carried = std::make_shared<const cv::Mat>(std::move(labels));
  stroke.paramLine = paramLine;
  stroke.serial = nextSerial_++;
  strokes_.push_back(std::move(stroke));
  currentStroke_ = -1;
  ++generation_;
}

void StrokeStore::EndStroke(int x, int y) {
  if (currentStroke_ < 0) return;
  strokes_[currentStroke_].AddPoint(x, y);
  currentStroke_ = -1;
  ++generation_;
}

void StrokeStore::UndoStroke() {
  currentStroke_ = -1;
  if (strokes_.empty()) {
    std::printf("Undo: no strokes left to undo.\n");
    return;
  }
  redoStrokes_.push_back(std::move(strokes_.back()));
  strokes_.pop_back();
  ++generation_;
}

void StrokeStore::RedoStroke() {
  currentStroke_ = -1;
  if (redoStrokes_.empty()) {
    std::printf("Redo: no strokes left to redo.\n");
    return;
  }
  strokes_.push_back(std::move(redoStrokes_.back()));
  redoStrokes_.pop_back();
  ++generation_;
}

void StrokeStore::ClearStrokes() {
  currentStroke_ = -1;
  for (size_t n = strokes_.size(); n > 0; --n) UndoStroke();
}

void StrokeStore::DiscardStrokes() {
  strokes_.clear();
  redoStrokes_.clear();
  currentStroke_ = -1;
  ++generation_;
}

}  // namespace labeler
