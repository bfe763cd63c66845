// FatalError: the one way deep code ends the run on bad input.
//
// Code that meets input it cannot go on with throws a FatalError carrying the complete text to print; main()
// prints it and ends the process with status 1. Nothing below main() calls exit(). The stream says where the
// text goes: the system's own historical messages go to standard output, the errors this tool adds go to
// standard error.
#ifndef LABELER_COMMON_FATAL_ERROR_H_
#define LABELER_COMMON_FATAL_ERROR_H_

#include <stdexcept>
#include <string>

namespace labeler {

class FatalError : public std::runtime_error {
 public:
  enum class Stream { kStandardOutput, kStandardError };

  // `message` is printed as it stands (it carries its own line ends).
  explicit FatalError(const std::string& message, Stream stream = Stream::kStandardError)
      : std::runtime_error(message), stream_(stream) {}

  Stream stream() const { return stream_; }

 private:
  Stream stream_;
};

// The name the messages of this process start with: "labeler", unless main() names another program (before any
// thread starts; it is not changed afterwards).
inline std::string& ProgramName() {
  static std::string name = "labeler";
  return name;
}

// Builds the one-line error text this tool uses for its own errors: "<program>: error: <what>\n".
inline std::string ErrorLine(const std::string& what) { return ProgramName() + ": error: " + what + "\n"; }

// "<program>: internal error: <what>\n" on one line, for an exception nobody expected (the library's own
// exceptions carry line ends and trailing blanks).
inline std::string InternalErrorLine(const char* program, const char* what) {
  std::string text = what;
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return std::string(program) + ": internal error: " + text + "\n";
}

}  // namespace labeler

#endif  // LABELER_COMMON_FATAL_ERROR_H_
