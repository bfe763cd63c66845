// MouseInteraction: the mouse handlers of the three windows.
//
// Moves show the brush cursor and the presegmentation region under the pointer, a left drag paints a stroke
// (committed into the label image on release), the wheel changes the brush radius, Ctrl shows the label legend
// from which the pointer picks the label, and "Labeled Map" reports the label under the pointer and picks it
// with a right press. The handlers change the model first (stroke, render, commit), then redraw what changed
// through a Canvas, which only draws.
#ifndef LABELER_ANNOTATION_MOUSE_INTERACTION_H_
#define LABELER_ANNOTATION_MOUSE_INTERACTION_H_

#include <cstdint>
#include <memory>
#include <opencv2/core.hpp>
#include <span>
#include <vector>

#include "annotation/label_images.h"
#include "annotation/stroke_store.h"
#include "config/label_set.h"
#include "preseg/preseg_engine.h"
#include "preseg/region_map.h"
#include "timeline/timeline.h"

namespace labeler {

// What the mouse handlers draw on; the window composer implements it.
class Canvas {
 public:
  virtual ~Canvas() = default;
  // A frame-sized image for pictures drawn whole (the label legend); its content belongs to whoever writes it.
  virtual cv::Mat& scratch() = 0;
  virtual void ShowInFrameWindow(const cv::Mat& image) = 0;
  // Shows a frame-sized picture in "Rescaled PreSeg", resized.
  virtual void ShowRescaled(const cv::Mat& image) = 0;
  // "Click Me!" shows the frame with the brush circle at `at` and, when `stroke` is given, its discs.
  virtual void ShowFrameWithCursor(cv::Point at, const Stroke* stroke) = 0;
  virtual void RedrawPresegWindow() = 0;
  virtual void RedrawLabelWindow() = 0;
};

// The presegmentation region last selected under the pointer. Over a presegmentation it is a region of that
// picture's region map (kept alive here, so the selection stays what it was whatever is computed later); over
// the frame itself it is flooded into `mask` and `flooded`.
struct RegionSelection {
  std::shared_ptr<const RegionMap> map;
  int region = -1;
  cv::Mat mask;                 // 1 on a flooded region
  std::vector<int> flooded;     // the pixels set in mask
  cv::Rect bounds;              // of the selected pixels; empty for none
  cv::Vec3b colour;             // the picture's colour of the region
  uint64_t serial = 0;          // changes with every new selection

  bool Contains(int pixel) const {
    if (map != nullptr) return map->ids().ptr<int>(0)[pixel] == region;
    return !mask.empty() && mask.ptr<uchar>(0)[pixel] != 0;
  }
  std::span<const int> Pixels() const { return map != nullptr ? map->Pixels(region) : std::span<const int>(flooded); }
};

// The pointer's state, shared by the mouse handlers (which write it) and the window composer (which draws it).
struct PointerState {
  int cursorX = 0;
  int cursorY = 0;
  int brushRadius = 10;  // at least 1
  RegionSelection region;
};

class MouseInteraction {
 public:
  MouseInteraction(Canvas& canvas, PointerState& pointer, const Timeline& timeline, PresegEngine& preseg,
                   StrokeStore& strokes, LabelImages& labelImages, const LabelSet& labels, int& currentLabel);

  // `displayScale` maps "Rescaled PreSeg" positions to the frame.
  void SetDisplayScale(float displayScale) { displayScale_ = displayScale; }

  void OnFrameMouse(int event, int x, int y, int flags);
  void OnPresegMouse(int event, int x, int y, int flags);
  void OnLabelMapMouse(int event, int x, int y, int flags);

  // Selects the presegmentation region under the frame position into the pointer's region mask and colour.
  void SelectRegion(int x, int y);

  // Ends a drag that a key command interrupts as a release would, so the stroke reaches the committed image.
  void FinishDrag();

 private:
  void MoveWithLegend(int x, int y);
  void Track(int x, int y);
  void BeginStrokeAt(int x, int y);
  void EndStrokeAndCommit(int x, int y);
  void FloodRegion(const cv::Mat& picture, int x, int y);

  Canvas& canvas_;
  PointerState& pointer_;
  const Timeline& timeline_;
  PresegEngine& preseg_;
  StrokeStore& strokes_;
  LabelImages& labelImages_;
  const LabelSet& labels_;
  int& currentLabel_;
  float displayScale_ = 1.0f;
  std::vector<int> fillStack_;
  // The picture the region mask was flooded from: the frame, and the presegmentation published over it.
  struct FloodedFrom {
    uint64_t frameSerial = 0;
    uint64_t presegGeneration = 0;
    bool operator==(const FloodedFrom&) const = default;
  } floodedFrom_;
};

}  // namespace labeler

#endif  // LABELER_ANNOTATION_MOUSE_INTERACTION_H_
