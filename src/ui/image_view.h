// ImageView: the picture of a window, shown through a view (a scale and an offset), reporting mouse events in
// image pixels.
//
// At a view scale of 1 and no offset a widget pixel is an image pixel, as the labeller's pictures are defined.
// A picture too large for the screen is shown at its fit scale, below 1 (smoothly reduced); zoomed in, the scale
// is a whole number and the offset a whole image pixel, so every screen pixel shows exactly one image pixel
// (nearest neighbour) and the pointer maps back to exactly the pixel under it. Views that share a View (the frame
// and the label map) zoom and pan together; the middle button pans them.
#ifndef LABELER_UI_IMAGE_VIEW_H_
#define LABELER_UI_IMAGE_VIEW_H_

#include <QImage>
#include <QWidget>
#include <functional>
#include <opencv2/core.hpp>
#include <vector>

#include "ui/window_system.h"

namespace labeler::ui {

class ImageView;

// The scale and offset through which pictures are shown; owned by the window system, borrowed by its views.
// A view leaves `views` when it is destroyed, and a View destroyed first lets its views know, so that neither
// is left pointing at the other.
struct View {
  View() = default;
  View(const View&) = delete;
  View& operator=(const View&) = delete;
  ~View();

  double fitScale = 1.0;  // the whole picture shows at this scale (1 when it fits)
  double scale = 1.0;     // screen pixels per image pixel now: fitScale, or a whole number when zoomed in
  cv::Point offset;       // the image pixel at the view's top-left corner
  std::vector<ImageView*> views;
  std::function<void()> onZoom;  // called after the scale changed

  bool zoomed() const { return scale != fitScale; }
  // Zooms one step in (`steps` > 0) or out around the image point `at` shown at widget position `shownAt`.
  void Zoom(int steps, cv::Point at, cv::Point shownAt, cv::Size picture);
  void Fit();
  // A zoomed view pans so that the image point `at` is in its middle, as far as the picture allows.
  void CentreOn(cv::Point at, cv::Size picture);
  // Keeps the view inside the picture.
  void ClampOffset(cv::Size picture);
  void Repaint();
};

class ImageView : public QWidget {
 public:
  ImageView(QWidget* parent, View* view);
  ~ImageView() override;

  void SetImage(QImage image);
  // Copies `rect` of `image` (of the picture's size and pixel layout) into the picture and repaints only it.
  void SetImageRect(const cv::Mat& image, const cv::Rect& rect);
  bool Holds(const cv::Mat& image) const;
  void SetMouseCallback(MouseCallback onMouse) { onMouse_ = std::move(onMouse); }
  bool hasImage() const { return !image_.isNull(); }
  cv::Size pictureSize() const { return {image_.width(), image_.height()}; }
  View& view() { return *view_; }
  // Shows the picture through `view` from now on (a shared one, say).
  void SetView(View* view);
  // Follows a change of the view's fit scale: the widget takes the size of the picture at that scale.
  void FitToView();
  // The image pixel under widget position `at`, and where the pointer was last seen over this view.
  cv::Point ToImage(QPointF at) const;
  // The widget position that shows the middle of image pixel `at`.
  QPoint WidgetPointOf(cv::Point at) const;
  bool PointerInside(cv::Point& widgetAt) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QRect WidgetRectOf(const cv::Rect& imageRect) const;
  void Report(int code, QMouseEvent* event);
  bool Pans() const { return view_->views.size() > 1; }

  friend struct View;
  View* view_;  // null once the View is gone
  QImage image_;
  MouseCallback onMouse_;
  bool panning_ = false;
  QPointF panFrom_;
  cv::Point panOffset_;
  bool pointerInside_ = false;
  QPointF lastPointer_;
};

}  // namespace labeler::ui

#endif  // LABELER_UI_IMAGE_VIEW_H_
