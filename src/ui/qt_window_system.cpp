#include "ui/qt_window_system.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QSlider>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace labeler::ui {

// The picture of a window, at image scale, reporting mouse events in image pixels.
class ImageView : public QWidget {
 public:
  explicit ImageView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

  void SetImage(QImage image) {
    if (image.size() != image_.size()) setFixedSize(image.size());
    image_ = std::move(image);
    update();
  }
  // Copies `rect` of `image` (of the picture's size and pixel layout) into the picture and repaints only it.
  void SetImageRect(const cv::Mat& image, const cv::Rect& rect) {
    const cv::Rect clipped = rect & cv::Rect(0, 0, image_.width(), image_.height());
    if (clipped.empty()) return;
    const size_t offset = static_cast<size_t>(clipped.x) * image.elemSize();
    const size_t bytes = static_cast<size_t>(clipped.width) * image.elemSize();
    for (int y = clipped.y; y < clipped.y + clipped.height; ++y) {
      std::memcpy(image_.scanLine(y) + offset, image.ptr(y) + offset, bytes);
    }
    update(QRect(clipped.x, clipped.y, clipped.width, clipped.height));
  }
  bool Holds(const cv::Mat& image) const {
    return image.cols == image_.width() && image.rows == image_.height() &&
           (image.type() == CV_8UC3 ? image_.format() == QImage::Format_BGR888
                                    : image_.format() == QImage::Format_Grayscale8);
  }
  void SetMouseCallback(MouseCallback onMouse) { onMouse_ = std::move(onMouse); }
  bool hasImage() const { return !image_.isNull(); }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    const QRect area = event->rect();
    painter.drawImage(area.topLeft(), image_, area);
  }
  void mouseMoveEvent(QMouseEvent* event) override { Report(kMouseMove, event); }
  void mousePressEvent(QMouseEvent* event) override { Report(ButtonEvent(event->button(), kLeftPress), event); }
  void mouseReleaseEvent(QMouseEvent* event) override {
    Report(ButtonEvent(event->button(), kLeftRelease), event);
  }
  // Qt delivers the second press of a double-click as the double-click alone; the labeller gets the press
  // first, so that a quick second dab of the brush paints.
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    Report(ButtonEvent(event->button(), kLeftPress), event);
    Report(ButtonEvent(event->button(), kLeftDoubleClick), event);
  }
  void wheelEvent(QWheelEvent* event) override {
    int delta = event->angleDelta().y();
    if (delta == 0 || !onMouse_) return;
    QPointF at = event->position();
    onMouse_(delta > 0 ? kWheelForward : kWheelBack, static_cast<int>(std::floor(at.x())),
             static_cast<int>(std::floor(at.y())), Flags(event->buttons(), event->modifiers()));
  }

 private:
  // Left, right and middle events are numbered in that order from the left button's code.
  static int ButtonEvent(Qt::MouseButton button, int leftCode) {
    switch (button) {
      case Qt::LeftButton: return leftCode;
      case Qt::RightButton: return leftCode + 1;
      case Qt::MiddleButton: return leftCode + 2;
      default: return -1;
    }
  }
  static int Flags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    int flags = 0;
    if (buttons & Qt::LeftButton) flags |= kFlagLeft;
    if (buttons & Qt::RightButton) flags |= kFlagRight;
    if (buttons & Qt::MiddleButton) flags |= kFlagMiddle;
    if (modifiers & Qt::ControlModifier) flags |= kFlagCtrl;
    if (modifiers & Qt::ShiftModifier) flags |= kFlagShift;
    if (modifiers & Qt::AltModifier) flags |= kFlagAlt;
    return flags;
  }
  void Report(int code, QMouseEvent* event) {
    if (code < 0 || !onMouse_) return;
    QPointF at = event->position();
    onMouse_(code, static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y())),
             Flags(event->buttons(), event->modifiers()));
  }

  QImage image_;
  MouseCallback onMouse_;
};

// A top-level window: the picture, then the trackbars. Closing it counts as the Escape key; the window stays
// until the labeller destroys it, since it may decide not to quit yet.
class LabelerWindow : public QWidget {
 public:
  LabelerWindow(const std::string& name, std::function<void()> onClose) : onClose_(std::move(onClose)) {
    setWindowTitle(QString::fromStdString(name));
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    layout_->setSizeConstraint(QLayout::SetFixedSize);
    view_ = new ImageView(this);
    view_->setObjectName(QStringLiteral("picture"));
    layout_->addWidget(view_, 0, Qt::AlignLeft | Qt::AlignTop);
  }

  ImageView& view() { return *view_; }
  bool placed = false;

  void AddTrackbar(const std::string& name, int* value, int max, TrackbarCallback onChange) {
    auto* row = new QWidget(this);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(4, 2, 4, 2);
    auto* caption = new QLabel(QString::fromStdString(name), row);
    auto* slider = new QSlider(Qt::Horizontal, row);
    auto* shown = new QLabel(QString::number(*value), row);
    slider->setObjectName(QString::fromStdString(name));
    slider->setRange(0, max);
    slider->setPageStep(std::max(1, max / 10));  // a click beside the handle, or a wheel notch, moves a tenth
    slider->setValue(*value);
    slider->setFocusPolicy(Qt::NoFocus);  // keys belong to the labeller, not to the slider
    shown->setMinimumWidth(shown->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
    rowLayout->addWidget(caption);
    rowLayout->addWidget(slider, 1);
    rowLayout->addWidget(shown);
    layout_->addWidget(row);
    QObject::connect(slider, &QSlider::valueChanged, row, [value, shown, onChange](int position) {
      *value = position;
      shown->setNum(position);
      if (onChange) onChange(position);
    });
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    onClose_();
  }

 private:
  std::function<void()> onClose_;
  QVBoxLayout* layout_;
  ImageView* view_;
};

namespace {

QImage ToQImage(const cv::Mat& image) {
  QImage::Format format;
  switch (image.type()) {
    case CV_8UC3: format = QImage::Format_BGR888; break;
    case CV_8UC1: format = QImage::Format_Grayscale8; break;
    default: throw std::invalid_argument("ShowImage takes 8-bit BGR or grey images");
  }
  QImage result(image.cols, image.rows, format);
  const size_t rowBytes = static_cast<size_t>(image.cols) * image.elemSize();
  for (int y = 0; y < image.rows; ++y) std::memcpy(result.scanLine(y), image.ptr(y), rowBytes);
  return result;
}

}  // namespace

QtWindowSystem::QtWindowSystem(int& argc, char** argv) {
  // Every motion the window system reports is a point of the stroke: no merging of queued mouse moves.
  QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, false);
  if (QApplication::instance() == nullptr) application_ = std::make_unique<QApplication>(argc, argv);
  qApp->installEventFilter(this);
}

QtWindowSystem::~QtWindowSystem() {
  qApp->removeEventFilter(this);
  for (auto& [name, window] : windows_) delete window;
}

void QtWindowSystem::CreateWindow(const std::string& name) {
  if (windows_.count(name) != 0) return;
  windows_[name] = new LabelerWindow(name, [this] { PushKey(kKeyEscape); });
  creationOrder_.push_back(name);
}

void QtWindowSystem::DestroyWindow(const std::string& name) {
  auto it = windows_.find(name);
  if (it == windows_.end()) return;
  delete it->second;
  windows_.erase(it);
}

LabelerWindow& QtWindowSystem::Window(const std::string& name) {
  auto it = windows_.find(name);
  if (it == windows_.end()) throw std::invalid_argument("no window named " + name);
  return *it->second;
}

void QtWindowSystem::ShowImage(const std::string& name, const cv::Mat& image) {
  LabelerWindow& window = Window(name);
  window.view().SetImage(ToQImage(image));
  if (started_) PlaceNewWindows();
}

void QtWindowSystem::ShowImageRect(const std::string& name, const cv::Mat& image, const cv::Rect& rect) {
  ImageView& view = Window(name).view();
  if (view.Holds(image)) {
    view.SetImageRect(image, rect);
  } else {
    ShowImage(name, image);
  }
}

// Windows appear when the key wait first runs, so that all of them have their pictures and sizes and can be
// laid out in the order they were created; a window that gets its first picture later appears at once.
void QtWindowSystem::PlaceNewWindows() {
  for (const std::string& name : creationOrder_) {
    auto it = windows_.find(name);
    if (it == windows_.end() || it->second->placed || !it->second->view().hasImage()) continue;
    LabelerWindow& window = *it->second;
    window.adjustSize();
    PlaceOnScreen(window);
    window.show();
    window.placed = true;
  }
}

// Side by side from the top-left corner, wrapping to a new row when the screen is too narrow.
void QtWindowSystem::PlaceOnScreen(LabelerWindow& window) {
  constexpr int kGap = 8;
  constexpr int kDecoration = 32;  // room for a window manager's title bar
  QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  if (placedCount_ == 0) {
    nextX_ = screen.left();
    rowTop_ = rowBottom_ = screen.top();
  } else if (nextX_ + window.width() > screen.right()) {
    nextX_ = screen.left();
    rowTop_ = rowBottom_;
  }
  window.move(nextX_, rowTop_);
  nextX_ += window.width() + kGap;
  rowBottom_ = std::max(rowBottom_, rowTop_ + window.height() + kDecoration + kGap);
  ++placedCount_;
}

void QtWindowSystem::CreateTrackbar(const std::string& trackbar, const std::string& window, int* value, int max,
                                    TrackbarCallback onChange) {
  Window(window).AddTrackbar(trackbar, value, max, std::move(onChange));
}

void QtWindowSystem::SetMouseCallback(const std::string& window, MouseCallback onMouse) {
  Window(window).view().SetMouseCallback(std::move(onMouse));
}

int QtWindowSystem::WaitKey() {
  started_ = true;
  PlaceNewWindows();
  for (;;) {
    while (!pending_.empty()) {
      PendingInput input = std::move(pending_.front());
      pending_.pop_front();
      if (input.event == nullptr) return input.key;
      if (input.target != nullptr) ReplayHeld(input.target, *input.event);
    }
    QEventLoop loop;
    waitLoop_ = &loop;
    loop.exec();
    waitLoop_ = nullptr;
  }
}

void QtWindowSystem::ReplayHeld(QObject* target, QEvent& event) {
  replaying_ = true;
  QApplication::sendEvent(target, &event);
  replaying_ = false;
}

void QtWindowSystem::ShowMessageBox(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Information, QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Ok);
  box.exec();
}

void QtWindowSystem::PushKey(int code) {
  pending_.push_back({code, nullptr, nullptr});
  if (waitLoop_ != nullptr) waitLoop_->quit();
}

int QtWindowSystem::KeyCode(int qtKey, const QString& text, Qt::KeyboardModifiers modifiers) {
  if ((modifiers & Qt::ControlModifier) && qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return qtKey - Qt::Key_A + 1;
  switch (qtKey) {
    case Qt::Key_Backspace: return kKeyBackspace;
    case Qt::Key_Escape: return kKeyEscape;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Tab: return 9;
    default: break;
  }
  if (text.size() == 1 && text[0].unicode() >= 32 && text[0].unicode() < 127) return text[0].unicode();
  return -1;
}

bool QtWindowSystem::IsOurs(QObject* object) const {
  if (!object->isWidgetType()) return false;
  QWidget* topLevel = static_cast<QWidget*>(object)->window();
  for (const auto& [name, window] : windows_) {
    if (window == topLevel) return true;
  }
  return false;
}

// Keys pressed in any of the labeller's windows reach WaitKey, whichever child widget has the focus. Mouse
// events behind a pending key are held in the same queue.
bool QtWindowSystem::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      if (!IsOurs(watched)) return false;
      auto* keyEvent = static_cast<QKeyEvent*>(event);
      int code = KeyCode(keyEvent->key(), keyEvent->text(), keyEvent->modifiers());
      if (code >= 0) PushKey(code);
      return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
      if (replaying_ || pending_.empty() || !IsOurs(watched)) return false;
      pending_.push_back({-1, watched, std::unique_ptr<QEvent>(event->clone())});
      return true;
    default:
      return false;
  }
}

}  // namespace labeler::ui
