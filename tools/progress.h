// How far a long labeler-tool run is, told on standard error so that standard output stays clean for pipes.
//
// On a terminal one line is redrawn in place at most four times a second: frames done of the total, the rate and
// the time left. Anywhere else (a pipe, a log file of a cluster job) a plain line is written once a second at
// most, so a log grows slowly. A run that reported, or had 100 frames or more, ends with the line
// "labeler-tool <what>: N of N frames" (or another unit of work). Update and Finish are called from one thread.
#ifndef LABELER_TOOLS_PROGRESS_H_
#define LABELER_TOOLS_PROGRESS_H_

#include <chrono>
#include <string>

namespace labeler::tool {

class Progress {
 public:
  Progress(const char* what, int total, const char* unit = "frames");

  // `done` frames of the total are finished.
  void Update(int done);
  // The run is over: says so when the run was long enough to be worth a line.
  void Finish();

 private:
  using Clock = std::chrono::steady_clock;

  std::string Counted(int done) const;
  void Redraw(const std::string& line);

  const char* what_;
  int total_;
  const char* unit_;
  bool terminal_;
  Clock::time_point start_;
  Clock::time_point lastReport_;
  bool reported_ = false;
  size_t drawnLength_ = 0;  // of the line last drawn in place, to blank what a shorter one leaves
};

}  // namespace labeler::tool

#endif  // LABELER_TOOLS_PROGRESS_H_
