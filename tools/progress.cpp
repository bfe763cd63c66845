#include "tools/progress.h"

#include <unistd.h>

#include <cstdio>

namespace labeler::tool {
namespace {

constexpr auto kTerminalInterval = std::chrono::milliseconds(250);
constexpr auto kLogInterval = std::chrono::seconds(1);
constexpr int kLongRun = 100;  // frames; a run this long says when it is done even if it was quick

}  // namespace

Progress::Progress(const char* what, int total, const char* unit)
    : what_(what),
      total_(total),
      unit_(unit),
      terminal_(isatty(STDERR_FILENO) != 0),
      start_(Clock::now()),
      lastReport_(start_) {}

std::string Progress::Counted(int done) const {
  return "labeler-tool " + std::string(what_) + ": " + std::to_string(done) + " of " + std::to_string(total_) + " " +
         unit_;
}

void Progress::Update(int done) {
  const Clock::time_point now = Clock::now();
  if (now - lastReport_ < (terminal_ ? Clock::duration(kTerminalInterval) : Clock::duration(kLogInterval))) return;
  lastReport_ = now;
  reported_ = true;
  if (!terminal_) {
    std::fprintf(stderr, "%s\n", Counted(done).c_str());
    return;
  }
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = done / seconds;
  char tail[64];
  if (rate > 0) {
    std::snprintf(tail, sizeof tail, ", %.1f %s/s, %.0f s left", rate, unit_, (total_ - done) / rate);
  } else {
    std::snprintf(tail, sizeof tail, ", starting");
  }
  Redraw(Counted(done) + tail);
}

void Progress::Finish() {
  if (!reported_ && total_ < kLongRun) return;
  if (!terminal_) {
    std::fprintf(stderr, "%s\n", Counted(total_).c_str());
    return;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  char tail[64];
  std::snprintf(tail, sizeof tail, " in %.1f s", seconds);
  Redraw(Counted(total_) + tail);
  std::fputc('\n', stderr);
}

void Progress::Redraw(const std::string& line) {
  const size_t blank = drawnLength_ > line.size() ? drawnLength_ - line.size() : 0;
  std::fprintf(stderr, "\r%s%s", line.c_str(), std::string(blank, ' ').c_str());
  std::fflush(stderr);
  drawnLength_ = line.size();
}

}  // namespace labeler::tool
