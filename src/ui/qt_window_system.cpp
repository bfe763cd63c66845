#include "ui/qt_window_system.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QScreen>
#include <QSlider>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "ui/status_fit.h"

namespace labeler::ui {

// Trackbars move their handle to the point clicked on the groove, not a page towards it.
class AbsoluteClickStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == QStyle::SH_Slider_AbsoluteSetButtons) return Qt::LeftButton;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

// A top-level window: the picture, then the trackbars, then the status line. Closing it counts as the Escape
// key; the window stays until the labeller destroys it, since it may decide not to quit yet.
class LabelerWindow : public QWidget {
 public:
  LabelerWindow(const std::string& name, std::function<void()> onClose) : onClose_(std::move(onClose)) {
    setWindowTitle(QString::fromStdString(name));
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    layout_->setSizeConstraint(QLayout::SetFixedSize);
    view_ = new ImageView(this, &ownView);
    view_->setObjectName(QStringLiteral("picture"));
    layout_->addWidget(view_, 0, Qt::AlignLeft | Qt::AlignTop);
  }

  ImageView& view() { return *view_; }
  bool placed = false;
  View ownView;

  // The status line, made at the first call; its width follows the picture's, so text never widens the window.
  void SetStatus(const QString& html) {
    if (status_ == nullptr) {
      status_ = new QLabel(this);
      status_->setObjectName(QStringLiteral("status"));
      status_->setTextFormat(Qt::RichText);
      status_->setContentsMargins(4, 2, 4, 2);
      layout_->addWidget(status_);
    }
    status_->setFixedWidth(view_->width());
    status_->setText(html);
  }
  // The width the status line's text has, and the metrics of its font.
  int StatusRoom() const { return view_->width() - 8; }
  QFontMetrics StatusMetrics() const { return status_ != nullptr ? status_->fontMetrics() : fontMetrics(); }
  // Paints the status line now, outside the event loop.
  void PaintStatus() {
    if (status_ != nullptr) status_->repaint();
  }
  void FollowPictureWidth() {
    if (status_ != nullptr) status_->setFixedWidth(view_->width());
  }

  void AddTrackbar(const std::string& name, int* value, int max, TrackbarCallback onChange, QStyle* style) {
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
    slider->setStyle(style);
    shown->setMinimumWidth(shown->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
    rowLayout->addWidget(caption);
    rowLayout->addWidget(slider, 1);
    rowLayout->addWidget(shown);
    layout_->insertWidget(layout_->count() - (status_ != nullptr ? 1 : 0), row);
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
  QLabel* status_ = nullptr;
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
  sliderStyle_ = std::make_unique<AbsoluteClickStyle>();
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
// laid out together, in the order they were created; a window that gets its first picture later appears at once.
void QtWindowSystem::PlaceNewWindows() {
  constexpr int kGap = 8;
  constexpr int kDecoration = 32;  // room for a window manager's title bar
  std::vector<LabelerWindow*> newWindows;
  std::vector<WindowBox> boxes;
  for (const std::string& name : creationOrder_) {
    auto it = windows_.find(name);
    if (it == windows_.end() || it->second->placed || !it->second->view().hasImage()) continue;
    LabelerWindow& window = *it->second;
    window.adjustSize();
    const cv::Size picture = window.view().pictureSize();
    const int shownHeight = window.view().height();
    boxes.push_back({picture, window.sizeHint().height() - shownHeight, &window.view().view() == &sharedView_});
    newWindows.push_back(&window);
  }
  if (newWindows.empty()) return;
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  const std::vector<WindowPlace> places =
      LayOutWindows(cv::Rect(area.x(), area.y(), area.width(), area.height()), boxes, kDecoration, kGap);
  for (size_t i = 0; i < newWindows.size(); ++i) {
    LabelerWindow& window = *newWindows[i];
    View& view = window.view().view();
    if (view.fitScale != places[i].scale) {
      view.fitScale = view.scale = places[i].scale;
      view.offset = {};
      for (ImageView* shown : view.views) shown->FitToView();
    }
    window.FollowPictureWidth();
    window.adjustSize();
    window.move(places[i].at.x, places[i].at.y);
    window.show();
    window.placed = true;
  }
  // The scale a window is placed at is the zoom its status line shows.
  for (const std::string& name : creationOrder_) RefreshStatus(name);
}

void QtWindowSystem::CreateTrackbar(const std::string& trackbar, const std::string& window, int* value, int max,
                                    TrackbarCallback onChange) {
  Window(window).AddTrackbar(trackbar, value, max, std::move(onChange), sliderStyle_.get());
}

void QtWindowSystem::SetTrackbarPosition(const std::string& trackbar, const std::string& window, int position) {
  auto* slider = Window(window).findChild<QSlider*>(QString::fromStdString(trackbar));
  if (slider != nullptr) slider->setValue(position);
}

void QtWindowSystem::ShareView(const std::vector<std::string>& windows) {
  for (const std::string& name : windows) Window(name).view().SetView(&sharedView_);
  sharedView_.onZoom = [this] {
    for (const auto& [name, window] : windows_) {
      if (&window->view().view() == &sharedView_) RefreshStatus(name);
    }
  };
}

void QtWindowSystem::ShowPoint(const std::string& window, cv::Point at) {
  ImageView& view = Window(window).view();
  view.view().CentreOn(at, view.pictureSize());
  QCursor::setPos(view.mapToGlobal(view.WidgetPointOf(at)));
}

void QtWindowSystem::SetStatusLine(const std::string& window, const std::vector<StatusPart>& parts) {
  statusParts_[window] = parts;
  RefreshStatus(window);
}

void QtWindowSystem::ShowStatusNow(const std::string& window, const std::vector<StatusPart>& parts) {
  SetStatusLine(window, parts);
  Window(window).PaintStatus();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

namespace {

// `text` when it fits in `room`, else its longest run of whole words that fits with " …" after it (the first
// word alone when none does).
QString CutAfterWholeWords(const QString& text, int room, const QFontMetrics& metrics) {
  if (metrics.horizontalAdvance(text) <= room) return text;
  const QString ellipsis = QStringLiteral(" \u2026");
  QString cut = text;
  while (cut.contains(QLatin1Char(' '))) {
    cut = cut.left(cut.lastIndexOf(QLatin1Char(' ')));
    if (metrics.horizontalAdvance(cut + ellipsis) <= room) break;
  }
  return cut + ellipsis;
}

}  // namespace

// The labeller's parts, then the zoom for windows of the shared view, one after another; on a window too narrow
// for all of them, those that fit (see StatusFit), and a part too wide alone cut after a whole word.
void QtWindowSystem::RefreshStatus(const std::string& name) {
  auto found = statusParts_.find(name);
  if (found == statusParts_.end()) return;
  LabelerWindow& window = Window(name);
  std::vector<StatusPart> parts = found->second;
  const View& view = window.view().view();
  if (&view == &sharedView_) {
    parts.push_back({"zoom " + std::to_string(std::lround(view.scale * 100)) + " %", false, {}, 1});
  }
  const QFontMetrics metrics = window.StatusMetrics();
  const int swatchWidth = metrics.horizontalAdvance(QStringLiteral("     "));
  std::vector<int> widths, importance;
  for (const StatusPart& part : parts) {
    widths.push_back(metrics.horizontalAdvance(QString::fromStdString(part.text)) + (part.swatch ? swatchWidth : 0));
    importance.push_back(part.importance);
  }
  const std::vector<size_t> kept =
      PartsThatFit(widths, importance, metrics.horizontalAdvance(QStringLiteral("  \u00b7  ")), window.StatusRoom());
  QString html;
  for (size_t index : kept) {
    const StatusPart& part = parts[index];
    QString text = QString::fromStdString(part.text);
    if (kept.size() == 1)
      text = CutAfterWholeWords(text, window.StatusRoom() - (part.swatch ? swatchWidth : 0), metrics);
    text = text.toHtmlEscaped();
    if (part.swatch) {
      const QColor colour(part.colour[2], part.colour[1], part.colour[0]);
      text = QStringLiteral("<span style=\"background-color:%1\">&nbsp;&nbsp;&nbsp;&nbsp;</span>&nbsp;")
                 .arg(colour.name()) +
             text;
    }
    if (!html.isEmpty()) html += QStringLiteral("&nbsp;&nbsp;&middot;&nbsp;&nbsp;");
    html += text;
  }
  window.SetStatus(html);
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
      if (input.viewKey) {
        ViewKey(input.key);
      } else if (input.event == nullptr) {
        return input.key;
      } else if (input.target != nullptr) {
        ReplayHeld(input.target, *input.event);
      }
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

// The windows a box speaks of appear first, in their places.
void QtWindowSystem::ShowMessageBox(const std::string& text, const std::string& caption) {
  PlaceNewWindows();
  QMessageBox box(QMessageBox::Information, QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Ok);
  box.exec();
}

void QtWindowSystem::PushKey(int code) {
  pending_.push_back({code, false, nullptr, nullptr});
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

// The keys of the shared view, handled here: "]" zooms in and "[" out around the pointer, "f" fits the whole
// picture again.
bool QtWindowSystem::IsViewKey(int code) const {
  return !sharedView_.views.empty() && (code == ']' || code == '[' || code == 'f');
}

void QtWindowSystem::ViewKey(int code) {
  if (code == 'f') {
    sharedView_.Fit();
    return;
  }
  ImageView* under = sharedView_.views.front();
  cv::Point shownAt(under->width() / 2, under->height() / 2);
  for (ImageView* view : sharedView_.views) {
    cv::Point pointer;
    if (view->PointerInside(pointer)) {
      under = view;
      shownAt = pointer;
    }
  }
  const cv::Point at = under->ToImage(QPointF(shownAt.x, shownAt.y));
  sharedView_.Zoom(code == ']' ? 1 : -1, at, shownAt, under->pictureSize());
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
      if (code < 0) return true;
      if (!IsViewKey(code)) {
        PushKey(code);
      } else if (pending_.empty()) {
        ViewKey(code);
      } else {
        // Mouse events held behind a pending key map to image pixels through the view when they are replayed:
        // the zoom waits its turn, so that they land where they were made.
        pending_.push_back({code, true, nullptr, nullptr});
      }
      return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
      if (replaying_ || pending_.empty() || !IsOurs(watched)) return false;
      pending_.push_back({-1, false, watched, std::unique_ptr<QEvent>(event->clone())});
      return true;
    default:
      return false;
  }
}

}  // namespace labeler::ui
