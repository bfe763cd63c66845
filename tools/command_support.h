// Small helpers shared by the labeler-tool commands: option values and failures.
#ifndef LABELER_TOOLS_COMMAND_SUPPORT_H_
#define LABELER_TOOLS_COMMAND_SUPPORT_H_

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/fatal_error.h"

namespace labeler::tool {

// A whole decimal number in [low, high], or nothing.
inline std::optional<int> ParseInt(const char* text, int low, int high) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return std::nullopt;
  return static_cast<int>(value);
}

// The value after option argv[i], as a number in [low, high]; throws FatalError with `usage` otherwise.
inline int IntOption(int argc, char** argv, int& i, int low, int high, const char* usage) {
  const std::string option = argv[i];
  if (i + 1 >= argc) throw FatalError(ErrorLine(option + " needs a value") + usage);
  std::optional<int> value = ParseInt(argv[++i], low, high);
  if (!value) {
    throw FatalError(ErrorLine(option + " takes a whole number from " + std::to_string(low) + " to " +
                               std::to_string(high) + ", not '" + argv[i] + "'") + usage);
  }
  return *value;
}

// The value after option argv[i]; throws FatalError with `usage` when there is none.
inline std::string TextOption(int argc, char** argv, int& i, const char* usage) {
  if (i + 1 >= argc) throw FatalError(ErrorLine(std::string(argv[i]) + " needs a value") + usage);
  return argv[++i];
}

// The text of a FatalError as a clause of another line: without its error prefix and its line ends.
inline std::string FailureReason(const FatalError& failure) {
  std::string prefix = ErrorLine("");
  prefix.pop_back();
  std::string text = failure.what();
  if (text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
  std::replace(text.begin(), text.end(), '\n', ' ');
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace labeler::tool

#endif  // LABELER_TOOLS_COMMAND_SUPPORT_H_
