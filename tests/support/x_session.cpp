#include "support/x_session.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace labeler::testing {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string TempPath(const std::string& stem) {
  std::string pattern = "/tmp/" + stem + "-XXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd >= 0) close(fd);
  return pattern;
}

}  // namespace

XvfbServer::XvfbServer(const std::string& size) {
  // A server that has just said it is ready can still be unreachable: the display number it took may have been
  // freed a moment earlier by a server whose exit then removes the new one's socket. Such a server is replaced.
  for (int attempt = 0; attempt < 5; ++attempt) {
    Start(size);
    if (!RunOnDisplay(*this, "xdotool getdisplaygeometry 2>/dev/null").empty()) return;
    Stop();
  }
  throw std::runtime_error("Xvfb started but no client could connect to it");
}

void XvfbServer::Start(const std::string& size) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ == 0) {
    close(pipeFds[0]);
    int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
    std::string fd = std::to_string(pipeFds[1]);
    const std::string screen = size + "x24";
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  std::string number;
  char c;
  while (read(pipeFds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
  close(pipeFds[0]);
  if (number.empty()) throw std::runtime_error("Xvfb did not start (is it installed?)");
  display_ = ":" + number;
}

void XvfbServer::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

XvfbServer::~XvfbServer() { Stop(); }

std::string RunOnDisplay(const XvfbServer& x, const std::string& command) {
  std::string full = "DISPLAY=" + x.display() + " " + command;
  FILE* pipe = popen(full.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  pclose(pipe);
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
  return output;
}

DisplayedProcess::DisplayedProcess(const XvfbServer& x, const std::vector<std::string>& argv,
                                   const std::string& workDir)
    : outPath_(TempPath("labeler-out")), errPath_(TempPath("labeler-err")) {
  pid_ = fork();
  if (pid_ == 0) {
    setenv("DISPLAY", x.display().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", "/tmp", 0);
    unsetenv("QT_QPA_PLATFORM");
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
    dup2(open(outPath_.c_str(), O_WRONLY | O_TRUNC), STDOUT_FILENO);
    dup2(open(errPath_.c_str(), O_WRONLY | O_TRUNC), STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
}

DisplayedProcess::~DisplayedProcess() {
  if (!status_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  std::remove(outPath_.c_str());
  std::remove(errPath_.c_str());
}

bool DisplayedProcess::WaitForOutput(const std::string& text, double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (output().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::optional<int> DisplayedProcess::WaitForExit(double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!status_ && std::chrono::steady_clock::now() < deadline) {
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return status_;
}

std::string DisplayedProcess::output() const { return ReadFile(outPath_); }
std::string DisplayedProcess::errors() const { return ReadFile(errPath_); }

std::map<std::string, int> WindowGeometry(const XvfbServer& x, const std::string& window) {
  std::map<std::string, int> values;
  std::istringstream lines(RunOnDisplay(x, "xdotool getwindowgeometry --shell " + window));
  std::string line;
  while (std::getline(lines, line)) {
    auto equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = std::stoi(line.substr(equals + 1));
  }
  return values;
}

cv::Mat WaitForImage(const std::string& path) {
  for (int attempt = 0; attempt < 100 && !std::filesystem::exists(path); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return cv::imread(path, cv::IMREAD_UNCHANGED);
}

std::string FindWindow(const XvfbServer& x, const std::string& title, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    std::string id = RunOnDisplay(x, "xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null | head -n 1");
    if (!id.empty()) return id;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return "";
}

}  // namespace labeler::testing
