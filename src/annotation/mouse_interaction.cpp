#include "annotation/mouse_interaction.h"

#include <cmath>
#include <cstdio>

#include "annotation/label_legend.h"
#include "annotation/region_fill.h"
#include "ui/window_system.h"

namespace labeler {
namespace {

// Positions outside the window arrive during drags; a value above 30000 is a negative one seen unsigned.
int ClampToFrame(int value, int size) {
  if (value > 30000) return 0;
  if (value >= size) return size - 1;
  return value < 0 ? 0 : value;
}

constexpr int kCtrlWithLeftButton = ui::kFlagCtrl | ui::kFlagLeft;

}  // namespace

MouseInteraction::MouseInteraction(Canvas& canvas, PointerState& pointer, const Timeline& timeline,
                                   PresegEngine& preseg, StrokeStore& strokes, LabelImages& labelImages,
                                   const LabelSet& labels, int& currentLabel)
    : canvas_(canvas),
      pointer_(pointer),
      timeline_(timeline),
      preseg_(preseg),
      strokes_(strokes),
      labelImages_(labelImages),
      labels_(labels),
      currentLabel_(currentLabel) {}

void MouseInteraction::OnFrameMouse(int event, int x, int y, int flags) {
  x = ClampToFrame(x, timeline_.width());
  y = ClampToFrame(y, timeline_.height());
  switch (event) {
    case ui::kMouseMove:
      pointer_.cursorX = x;
      pointer_.cursorY = y;
      if (flags == kCtrlWithLeftButton) {
        std::printf("CtrMove (x,y) = %d, %d\n", x, y);
      } else if (flags == ui::kFlagCtrl) {
        MoveWithLegend(x, y);
      } else {
        Track(x, y);
      }
      break;
    case ui::kLeftPress: BeginStrokeAt(x, y); break;
    case ui::kLeftRelease: EndStrokeAndCommit(x, y); break;
    case ui::kRightRelease: std::printf("Rup (x,y) = %d, %d\n", x, y); break;
    case ui::kWheelForward:
      ++pointer_.brushRadius;
      canvas_.ShowFrameWithCursor({x, y}, nullptr);
      break;
    case ui::kWheelBack:
      pointer_.brushRadius = std::max(pointer_.brushRadius - 1, 1);
      canvas_.ShowFrameWithCursor({x, y}, nullptr);
      break;
    default: break;
  }
}

void MouseInteraction::OnPresegMouse(int event, int x, int y, int flags) {
  const int frameX = static_cast<int>(std::nearbyint(x / static_cast<double>(displayScale_)));
  const int frameY = static_cast<int>(std::nearbyint(y / static_cast<double>(displayScale_)));
  OnFrameMouse(event, frameX, frameY, flags);
}

void MouseInteraction::OnLabelMapMouse(int event, int x, int y, int flags) {
  const cv::Mat& working = labelImages_.shown();
  if (x >= 0 && y >= 0 && x < working.cols && y < working.rows) {
    const cv::Vec3b pixel = working.at<cv::Vec3b>(y, x);
    const int label = FindLabelByColour(pixel[2], pixel[1], pixel[0], labels_);
    if (label >= 0) {
      std::printf("Label= %s.\n", labels_[label].name.c_str());
      if (event == ui::kRightPress) {
        currentLabel_ = label;
        std::printf("LabelInfo changed to %s.\n", labels_[label].name.c_str());
      }
    }
  }
  OnFrameMouse(event, x, y, flags);
}

void MouseInteraction::MoveWithLegend(int x, int y) {
  cv::Mat& scratch = canvas_.scratch();
  DrawLabelLegend(scratch, labels_);
  currentLabel_ = PickLegendLabel(x, y, scratch, labels_);
  if (currentLabel_ >= 0) {
    std::printf("LabelInfo changed to %s.\n", labels_[currentLabel_].name.c_str());
  } else {
    std::printf("LabelInfo changed to UNDEFINED (which is different than void).\n");
  }
  canvas_.ShowInFrameWindow(scratch);
  canvas_.ShowRescaled(scratch);
}

void MouseInteraction::Track(int x, int y) {
  Stroke* stroke = strokes_.currentStroke();
  canvas_.ShowFrameWithCursor({x, y}, stroke);
  if (preseg_.currentPreseg().algorithm != kNoPreseg) SelectRegion(x, y);
  canvas_.RedrawPresegWindow();
  if (stroke != nullptr) {
    stroke->AddPoint(x, y);
    labelImages_.RenderWorking();
    canvas_.RedrawLabelWindow();
  }
}

void MouseInteraction::BeginStrokeAt(int x, int y) {
  SelectRegion(x, y);
  canvas_.RedrawPresegWindow();
  if (currentLabel_ < 0 || currentLabel_ >= static_cast<int>(labels_.size())) {
    std::printf("No label chosen: pick one with a digit key, from the legend (hold Ctrl) or with a right-click on "
                "\"Labeled Map\".\n");
    return;
  }
  const LabelInfo& label = labels_[currentLabel_];
  strokes_.BeginStroke(x, y, pointer_.brushRadius, cv::Scalar(label.blue, label.green, label.red, 0),
                       FormatPresegParams(preseg_.currentPreseg()));
}

void MouseInteraction::EndStrokeAndCommit(int x, int y) {
  strokes_.EndStroke(x, y);
  labelImages_.RenderWorking();
  labelImages_.Commit();
  canvas_.RedrawLabelWindow();
}

void MouseInteraction::FinishDrag() {
  if (strokes_.currentStroke() == nullptr) return;
  strokes_.EndDrag();
  labelImages_.RenderWorking();
  labelImages_.Commit();
  canvas_.RedrawLabelWindow();
}

// Over a presegmentation the region is looked up in its region map; over the frame itself (no
// presegmentation, when a press selects) it is flooded, as that picture has no map.
void MouseInteraction::SelectRegion(int x, int y) {
  const cv::Mat& picture = preseg_.presegColour();
  RegionSelection& selection = pointer_.region;
  selection.colour = picture.at<cv::Vec3b>(y, x);
  std::shared_ptr<const RegionMap> map = preseg_.Regions();
  if (map != nullptr) {
    const int region = map->RegionAt(x, y);
    if (selection.map == map && selection.region == region) return;
    selection.map = std::move(map);
    selection.region = region;
    selection.bounds = selection.map->Bounds(region);
    ++selection.serial;
    return;
  }
  // Within the region already flooded from this very picture, the region is the same.
  const FloodedFrom from{timeline_.frameSerial(), preseg_.publishedGeneration()};
  const bool sameRegion = selection.map == nullptr && floodedFrom_ == from &&
                          selection.mask.size() == picture.size() && selection.mask.at<uchar>(y, x) != 0;
  if (sameRegion) return;
  FloodRegion(picture, x, y);
  floodedFrom_ = from;
}

void MouseInteraction::FloodRegion(const cv::Mat& picture, int x, int y) {
  RegionSelection& selection = pointer_.region;
  if (selection.mask.size() != picture.size()) selection.mask = cv::Mat::zeros(picture.size(), CV_8UC1);
  uchar* mask = selection.mask.ptr<uchar>(0);
  for (int pixel : selection.flooded) mask[pixel] = 0;
  selection.flooded.clear();
  selection.map.reset();
  selection.region = -1;
  FillEqualColourRegion(picture, x, y, selection.mask, selection.flooded, fillStack_);
  cv::Point low(picture.cols, picture.rows);
  cv::Point high(-1, -1);
  for (int pixel : selection.flooded) {
    const cv::Point at(pixel % picture.cols, pixel / picture.cols);
    low = cv::Point(std::min(low.x, at.x), std::min(low.y, at.y));
    high = cv::Point(std::max(high.x, at.x), std::max(high.y, at.y));
  }
  selection.bounds = cv::Rect(low, high + cv::Point(1, 1));
  ++selection.serial;
}

}  // namespace labeler
