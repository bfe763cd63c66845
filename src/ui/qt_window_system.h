// QtWindowSystem: the WindowSystem on Qt 6 Widgets, the one the labeller's windows are shown with.
//
// main() creates one and lends it to the Labeler, which must be gone before it is. It owns its QApplication
// (unless one exists already), every window until the labeller destroys it, and the View that the windows named
// in ShareView zoom and pan together; the trackbars' values and the callbacks stay the labeller's.
//
// Each window shows its picture at the top-left of its client area with no margin, so a window pixel is an
// image pixel; trackbars and then the status line sit under the picture. Windows first appear when WaitKey
// first runs, placed side by side in the order they were created, where the screen allows; a window that gets
// its first picture later appears then. Keys and mouse events (trackbar clicks included) reach the labeller in
// the order they happened: a mouse event that comes while a key waits to be returned is held and dispatched
// after that key has been handled, at the next WaitKey.
#ifndef LABELER_UI_QT_WINDOW_SYSTEM_H_
#define LABELER_UI_QT_WINDOW_SYSTEM_H_

#include <QObject>
#include <QPointer>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "ui/image_view.h"
#include "ui/window_layout.h"
#include "ui/window_system.h"

class QApplication;
class QStyle;
class QEvent;
class QEventLoop;

namespace labeler::ui {

class LabelerWindow;

class QtWindowSystem : public QObject, public WindowSystem {
 public:
  QtWindowSystem(int& argc, char** argv);
  ~QtWindowSystem() override;

  void CreateWindow(const std::string& name) override;
  void DestroyWindow(const std::string& name) override;
  void ShowImage(const std::string& window, const cv::Mat& image) override;
  void ShowImageRect(const std::string& window, const cv::Mat& image, const cv::Rect& rect) override;
  void CreateTrackbar(const std::string& trackbar, const std::string& window, int* value, int max,
                      TrackbarCallback onChange) override;
  void SetTrackbarPosition(const std::string& trackbar, const std::string& window, int position) override;
  void ShareView(const std::vector<std::string>& windows) override;
  void ShowPoint(const std::string& window, cv::Point at) override;
  void SetStatusLine(const std::string& window, const std::vector<StatusPart>& parts) override;
  void ShowStatusNow(const std::string& window, const std::vector<StatusPart>& parts) override;
  void SetMouseCallback(const std::string& window, MouseCallback onMouse) override;
  int WaitKey() override;
  void ShowMessageBox(const std::string& text, const std::string& caption) override;

  // Translates a Qt key press into the key code WaitKey returns, or -1 for keys that have none (a lone
  // modifier, function keys).
  static int KeyCode(int qtKey, const QString& text, Qt::KeyboardModifiers modifiers);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  LabelerWindow& Window(const std::string& name);
  void PlaceNewWindows();
  bool IsViewKey(int code) const;
  void ViewKey(int code);
  void RefreshStatus(const std::string& window);
  bool IsOurs(QObject* object) const;
  void PushKey(int code);
  void ReplayHeld(QObject* target, QEvent& event);

  // A key not yet returned by WaitKey, or a mouse event or view key that came after one and waits for it to be
  // handled: input reaches the labeller in the order it happened, whatever the event loop dispatches first.
  struct PendingInput {
    int key = -1;
    bool viewKey = false;  // a zoom key, applied in turn by the window system itself
    QPointer<QObject> target;
    std::unique_ptr<QEvent> event;
  };

  std::unique_ptr<QApplication> application_;
  std::map<std::string, LabelerWindow*> windows_;
  std::vector<std::string> creationOrder_;
  bool started_ = false;  // the key wait has run: windows are shown as soon as they have a picture
  std::deque<PendingInput> pending_;
  bool replaying_ = false;
  QEventLoop* waitLoop_ = nullptr;
  View sharedView_;
  std::map<std::string, std::vector<StatusPart>> statusParts_;
  std::unique_ptr<QStyle> sliderStyle_;
};

}  // namespace labeler::ui

#endif  // LABELER_UI_QT_WINDOW_SYSTEM_H_
