// Real-window test support: a private Xvfb server, the built labeller running on it, and real X input
// through xdotool.
#ifndef LABELER_TESTS_SUPPORT_X_SESSION_H_
#define LABELER_TESTS_SUPPORT_X_SESSION_H_

#include <sys/types.h>

#include <map>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

namespace labeler::testing {

// An Xvfb server on a display number it picks itself, with a screen of `size`; stopped on destruction.
class XvfbServer {
 public:
  explicit XvfbServer(const std::string& size = "1920x1200");
  ~XvfbServer();
  const std::string& display() const { return display_; }

 private:
  void Start(const std::string& size);
  void Stop();

  pid_t pid_ = -1;
  std::string display_;
};

// Runs `command` (through the shell) on the display; returns its standard output, trimmed.
std::string RunOnDisplay(const XvfbServer& x, const std::string& command);

// One run of a program on the display, its standard output and standard error collected in files.
class DisplayedProcess {
 public:
  DisplayedProcess(const XvfbServer& x, const std::vector<std::string>& argv, const std::string& workDir);
  ~DisplayedProcess();

  // Waits until the standard output holds `text`; false after `seconds`.
  bool WaitForOutput(const std::string& text, double seconds = 20);
  // Waits for the process to end and returns its exit status, or nothing after `seconds`.
  std::optional<int> WaitForExit(double seconds = 20);
  std::string output() const;
  std::string errors() const;
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  std::string outPath_;
  std::string errPath_;
  std::optional<int> status_;
};

// The X window id of the top-level window titled exactly `title`, waiting up to `seconds` for it to appear (a
// loaded machine can take long to start a Qt program); empty when it doesn't.
std::string FindWindow(const XvfbServer& x, const std::string& title, double seconds = 60);

// The window's position and size as xdotool reports them: X, Y, WIDTH, HEIGHT.
std::map<std::string, int> WindowGeometry(const XvfbServer& x, const std::string& window);

// The image at `path` once the labeller has written it (or empty after a few seconds).
cv::Mat WaitForImage(const std::string& path);

}  // namespace labeler::testing

#endif  // LABELER_TESTS_SUPPORT_X_SESSION_H_
