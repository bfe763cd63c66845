// Progress lines of a computation that the labeller prints as it goes, or that a caller collects to print later
// (a result prepared on another thread prints its lines when the labeller takes it, where computing it would have).
#ifndef LABELER_COMMON_REPORT_H_
#define LABELER_COMMON_REPORT_H_

#include <cstdio>
#include <string>

namespace labeler {

// Appends `text` to `report` when given, else prints it on standard output at once.
inline void Report(std::string* report, const std::string& text) {
  if (report != nullptr) {
    *report += text;
    return;
  }
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace labeler

#endif  // LABELER_COMMON_REPORT_H_
