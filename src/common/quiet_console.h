// QuietConsole: standard output and standard error go to /dev/null while it lives, for runs of the labeller's
// components whose console lines are not what the caller wants (benchmarks, evaluations).
#ifndef LABELER_COMMON_QUIET_CONSOLE_H_
#define LABELER_COMMON_QUIET_CONSOLE_H_

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace labeler {

class QuietConsole {
 public:
  QuietConsole() {
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut_ = dup(STDOUT_FILENO);
    savedErr_ = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    close(null);
  }
  ~QuietConsole() {
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut_, STDOUT_FILENO);
    dup2(savedErr_, STDERR_FILENO);
    close(savedOut_);
    close(savedErr_);
  }
  QuietConsole(const QuietConsole&) = delete;
  QuietConsole& operator=(const QuietConsole&) = delete;

 private:
  int savedOut_;
  int savedErr_;
};

}  // namespace labeler

#endif  // LABELER_COMMON_QUIET_CONSOLE_H_
