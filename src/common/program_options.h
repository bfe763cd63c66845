// --help and --version, answered alike by every labeller program.
//
// main() asks before it does anything else, so that both work without a display, a meta file or a clip: the
// answer goes to standard output and the program then ends with status 0.
#ifndef LABELER_COMMON_PROGRAM_OPTIONS_H_
#define LABELER_COMMON_PROGRAM_OPTIONS_H_

#include <string>

namespace labeler {

// True when the first argument is --help (prints `usage`) or --version (prints "<program> <version>").
bool AnswerHelpOrVersion(int argc, char** argv, const std::string& program, const std::string& usage);

}  // namespace labeler

#endif  // LABELER_COMMON_PROGRAM_OPTIONS_H_
