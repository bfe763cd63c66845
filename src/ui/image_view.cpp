#include "ui/image_view.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace labeler::ui {
namespace {

// Zoomed-in scales, screen pixels per image pixel.
constexpr int kZoomSteps[] = {1, 2, 3, 4, 6, 8, 12, 16};

// Left, right and middle events are numbered in that order from the left button's code.
int ButtonEvent(Qt::MouseButton button, int leftCode) {
  switch (button) {
    case Qt::LeftButton: return leftCode;
    case Qt::RightButton: return leftCode + 1;
    case Qt::MiddleButton: return leftCode + 2;
    default: return -1;
  }
}

int Flags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
  int flags = 0;
  if (buttons & Qt::LeftButton) flags |= kFlagLeft;
  if (buttons & Qt::RightButton) flags |= kFlagRight;
  if (buttons & Qt::MiddleButton) flags |= kFlagMiddle;
  if (modifiers & Qt::ControlModifier) flags |= kFlagCtrl;
  if (modifiers & Qt::ShiftModifier) flags |= kFlagShift;
  if (modifiers & Qt::AltModifier) flags |= kFlagAlt;
  return flags;
}

}  // namespace

View::~View() {
  for (ImageView* view : views) view->view_ = nullptr;
}

void View::Zoom(int steps, cv::Point at, cv::Point shownAt, cv::Size picture) {
  double next = scale;
  if (steps > 0) {
    for (int step : kZoomSteps) {
      if (step > scale) {
        next = step;
        break;
      }
    }
  } else {
    next = fitScale;
    for (int step : kZoomSteps) {
      if (step < scale && step > fitScale) next = step;
    }
  }
  if (next == scale) return;
  scale = next;
  if (scale == fitScale) {
    offset = {};
  } else {
    offset = {at.x - static_cast<int>(shownAt.x / scale), at.y - static_cast<int>(shownAt.y / scale)};
    ClampOffset(picture);
  }
  Repaint();
  if (onZoom) onZoom();
}

void View::Fit() {
  scale = fitScale;
  offset = {};
  Repaint();
  if (onZoom) onZoom();
}

void View::CentreOn(cv::Point at, cv::Size picture) {
  if (!zoomed() || views.empty()) return;
  const QSize shown = views.front()->size();
  offset = {at.x - static_cast<int>(shown.width() / scale / 2), at.y - static_cast<int>(shown.height() / scale / 2)};
  ClampOffset(picture);
  Repaint();
}

void View::ClampOffset(cv::Size picture) {
  if (views.empty()) return;
  const QSize shown = views.front()->size();
  const int visibleWidth = static_cast<int>(std::ceil(shown.width() / scale));
  const int visibleHeight = static_cast<int>(std::ceil(shown.height() / scale));
  offset.x = std::clamp(offset.x, 0, std::max(0, picture.width - visibleWidth));
  offset.y = std::clamp(offset.y, 0, std::max(0, picture.height - visibleHeight));
}

void View::Repaint() {
  for (ImageView* view : views) view->update();
}

ImageView::ImageView(QWidget* parent, View* view) : QWidget(parent), view_(view) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  view_->views.push_back(this);
}

ImageView::~ImageView() {
  if (view_ != nullptr) std::erase(view_->views, this);
}

void ImageView::SetView(View* view) {
  std::erase(view_->views, this);
  view_ = view;
  view_->views.push_back(this);
  if (!image_.isNull()) FitToView();
}

void ImageView::SetImage(QImage image) {
  const bool resized = image.size() != image_.size();
  image_ = std::move(image);
  if (resized) FitToView();
  update();
}

void ImageView::FitToView() {
  setFixedSize(static_cast<int>(std::lround(image_.width() * view_->fitScale)),
               static_cast<int>(std::lround(image_.height() * view_->fitScale)));
}

void ImageView::SetImageRect(const cv::Mat& image, const cv::Rect& rect) {
  const cv::Rect clipped = rect & cv::Rect(0, 0, image_.width(), image_.height());
  if (clipped.empty()) return;
  const size_t offset = static_cast<size_t>(clipped.x) * image.elemSize();
  const size_t bytes = static_cast<size_t>(clipped.width) * image.elemSize();
  for (int y = clipped.y; y < clipped.y + clipped.height; ++y) {
    std::memcpy(image_.scanLine(y) + offset, image.ptr(y) + offset, bytes);
  }
  update(WidgetRectOf(clipped));
}

bool ImageView::Holds(const cv::Mat& image) const {
  return image.cols == image_.width() && image.rows == image_.height() &&
         (image.type() == CV_8UC3 ? image_.format() == QImage::Format_BGR888
                                  : image_.format() == QImage::Format_Grayscale8);
}

// The widget pixels that show some pixel of `imageRect`, with a pixel more on each side where the picture is
// reduced smoothly (a reduced pixel mixes its neighbours).
QRect ImageView::WidgetRectOf(const cv::Rect& imageRect) const {
  const double scale = view_->scale;
  if (scale == 1.0 && view_->offset == cv::Point()) {
    return {imageRect.x, imageRect.y, imageRect.width, imageRect.height};
  }
  const int margin = scale < 1.0 ? 2 : 0;
  const int left = static_cast<int>(std::floor((imageRect.x - view_->offset.x) * scale)) - margin;
  const int top = static_cast<int>(std::floor((imageRect.y - view_->offset.y) * scale)) - margin;
  const int right = static_cast<int>(std::ceil((imageRect.x + imageRect.width - view_->offset.x) * scale)) + margin;
  const int bottom = static_cast<int>(std::ceil((imageRect.y + imageRect.height - view_->offset.y) * scale)) + margin;
  return QRect(left, top, right - left, bottom - top) & rect();
}

QPoint ImageView::WidgetPointOf(cv::Point at) const {
  const double scale = view_->scale;
  if (scale >= 1.0) {
    return QPoint(static_cast<int>((at.x - view_->offset.x + 0.5) * scale),
                  static_cast<int>((at.y - view_->offset.y + 0.5) * scale));
  }
  return QPoint(static_cast<int>((at.x + 0.5) * width() / image_.width()),
                static_cast<int>((at.y + 0.5) * height() / image_.height()));
}

cv::Point ImageView::ToImage(QPointF at) const {
  const double x = std::floor(at.x());
  const double y = std::floor(at.y());
  const double scale = view_->scale;
  if (scale >= 1.0) {
    return {view_->offset.x + static_cast<int>(std::floor(x / scale)),
            view_->offset.y + static_cast<int>(std::floor(y / scale))};
  }
  // Reduced to fit: widget pixel x shows the image columns [x * w / W, (x + 1) * w / W); the first of them.
  auto reduce = [](double at, int picture, int shown) {
    return static_cast<int>(std::floor(at * picture / shown));
  };
  return {reduce(x, image_.width(), width()), reduce(y, image_.height(), height())};
}

bool ImageView::PointerInside(cv::Point& widgetAt) const {
  widgetAt = {static_cast<int>(lastPointer_.x()), static_cast<int>(lastPointer_.y())};
  return pointerInside_;
}

void ImageView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect area = event->rect();
  const double scale = view_->scale;
  if (scale == 1.0 && view_->offset == cv::Point()) {
    painter.drawImage(area.topLeft(), image_, area);
    return;
  }
  painter.setClipRect(area);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, scale < 1.0);
  const QRectF source(view_->offset.x, view_->offset.y, width() / scale, height() / scale);
  painter.drawImage(QRectF(0, 0, width(), height()), image_, source);
}

void ImageView::mouseMoveEvent(QMouseEvent* event) {
  pointerInside_ = true;
  lastPointer_ = event->position();
  if (panning_) {
    const QPointF moved = (event->position() - panFrom_) / view_->scale;
    view_->offset = panOffset_ - cv::Point(static_cast<int>(moved.x()), static_cast<int>(moved.y()));
    view_->ClampOffset(pictureSize());
    view_->Repaint();
    return;
  }
  Report(kMouseMove, event);
}

void ImageView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::MiddleButton && Pans()) {
    panning_ = true;
    panFrom_ = event->position();
    panOffset_ = view_->offset;
    return;
  }
  Report(ButtonEvent(event->button(), kLeftPress), event);
}

void ImageView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::MiddleButton && panning_) {
    panning_ = false;
    return;
  }
  Report(ButtonEvent(event->button(), kLeftRelease), event);
}

// Qt delivers the second press of a double-click as the double-click alone; the labeller gets the press
// first, so that a quick second dab of the brush paints.
void ImageView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::MiddleButton && Pans()) return;
  Report(ButtonEvent(event->button(), kLeftPress), event);
  Report(ButtonEvent(event->button(), kLeftDoubleClick), event);
}

void ImageView::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  if (delta == 0 || !onMouse_) return;
  const cv::Point at = ToImage(event->position());
  onMouse_(delta > 0 ? kWheelForward : kWheelBack, at.x, at.y, Flags(event->buttons(), event->modifiers()));
}

void ImageView::leaveEvent(QEvent*) { pointerInside_ = false; }

void ImageView::Report(int code, QMouseEvent* event) {
  if (code < 0 || !onMouse_) return;
  const cv::Point at = ToImage(event->position());
  onMouse_(code, at.x, at.y, Flags(event->buttons(), event->modifiers()));
}

}  // namespace labeler::ui
