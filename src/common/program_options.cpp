#include "common/program_options.h"

#include <cstdio>

#include "common/version.h"

namespace labeler {

bool AnswerHelpOrVersion(int argc, char** argv, const std::string& program, const std::string& usage) {
  if (argc < 2) return false;
  const std::string option = argv[1];
  if (option == "--help") {
    std::fputs(usage.c_str(), stdout);
    return true;
  }
  if (option == "--version") {
    std::printf("%s %s\n", program.c_str(), kVersion);
    return true;
  }
  return false;
}

}  // namespace labeler
