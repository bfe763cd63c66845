// Stroke and StrokeStore: the strokes painted on the current frame during this visit, with undo and redo.
//
// A stroke is one press-drag-release of the left button: the brush centres it passed, the brush radius, the
// colour of the label then current and the parameter line of the presegmentation then in force. Or it is a
// label picture carried over from a neighbouring frame: it labels the pixels it holds a colour for that nothing
// has labelled before it, and is undone, redone, cleared and saved like any stroke. The store keeps
// the strokes in painting order and, as a second stack, the strokes taken back by undo or clear. The stroke
// being drawn is held as an index, never as an address, so the growth of the list can't leave it dangling.
#ifndef LABELER_ANNOTATION_STROKE_STORE_H_
#define LABELER_ANNOTATION_STROKE_STORE_H_

#include <cstdint>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace labeler {

struct Stroke {
  std::vector<cv::Point> points;  // brush centres in frame pixels, the press position first
  int radius = 1;
  cv::Scalar colour;              // blue, green, red, 0
  std::string paramLine;          // the presegmentation the stroke was painted on
  uint64_t serial = 0;            // tells strokes apart for the life of the store, through undo and redo
  std::shared_ptr<const cv::Mat> carried;  // a carried label picture (black: no label), or nullptr for discs
  cv::Rect carriedBounds;                   // of its labelled pixels

  void AddPoint(int x, int y) { points.emplace_back(x, y); }
  // Draws a filled disc per point (consecutive discs are not joined) in `colour`, or in the stroke's own colour
  // when colour[0] is -1. A one-component colour serves one-channel masks.
  void DrawStroke(cv::Mat& image, const cv::Scalar& colour) const;
  // The rectangle covering every disc; it may reach beyond the frame.
  cv::Rect StrokeBounds() const;
};

// The rectangle covering a disc, or a circle, of `radius` around `centre`.
inline cv::Rect DiscBounds(cv::Point centre, int radius) {
  return {centre.x - radius, centre.y - radius, 2 * radius + 1, 2 * radius + 1};
}

class StrokeStore {
 public:
  // Appends a one-point stroke and makes it the stroke being drawn.
  void BeginStroke(int x, int y, int radius, const cv::Scalar& colour, const std::string& paramLine);
  // Appends a finished stroke of carried labels (8-bit, 3 channels, black where there is no label).
  void AddCarriedLabels(cv::Mat labels, const std::string& paramLine);
  // Adds the release point to the stroke being drawn, if any, and ends the drag.
  void EndStroke(int x, int y);
  // Ends the drag without adding a point.
  void EndDrag() { currentStroke_ = -1; }
  // Undo, redo and clear end a drag in progress: the stroke it was adding to has moved.
  void UndoStroke();
  void RedoStroke();
  void ClearStrokes();
  // Forgets every stroke and redo stroke: the frame is being left.
  void DiscardStrokes();

  // The stroke being drawn, or nullptr.
  Stroke* currentStroke() { return currentStroke_ < 0 ? nullptr : &strokes_[currentStroke_]; }
  const Stroke* currentStroke() const { return currentStroke_ < 0 ? nullptr : &strokes_[currentStroke_]; }
  const std::vector<Stroke>& strokes() const { return strokes_; }
  const std::vector<Stroke>& redoStrokes() const { return redoStrokes_; }
  // Changes with every change of the stroke list; the points a drag adds count when the stroke ends.
  uint64_t generation() const { return generation_; }

 private:
  std::vector<Stroke> strokes_;
  std::vector<Stroke> redoStrokes_;
  int currentStroke_ = -1;
  uint64_t nextSerial_ = 1;
  uint64_t generation_ = 0;
};

}  // namespace labeler

#endif  // LABELER_ANNOTATION_STROKE_STORE_H_
