// labeler-tool: command-line companions of the labeller.
//
//   labeler-tool segment --setting N [--pyr1 A] [--pyr2 B] INPUT OUT_COLOUR.png [OUT_EDGES.png]
//   labeler-tool segment --setting N [--pyr1 A] [--pyr2 B] --out DIR [--edges DIR] [--shard K/N] [--json] INPUT...
//   labeler-tool export --meta FILE.meta [--meta ...] --out DIR [--unlabelled N] [--frames] [--format F]
//                       [--shard K/N] [--json]
//   labeler-tool import --meta FILE.meta --masks DIR [--index] [--replace] [--shard K/N] [--json]
//   labeler-tool stats --meta FILE.meta [--meta ...] [--csv | --json] [--shard K/N | --report DIR]
//   labeler-tool carry --meta FILE.meta [--truth DIR] [--every K] [--steps N]
//   labeler-tool assist --meta FILE.meta --frame N --strokes PAINTED.png --out OUT.png [--confidence SURE.png]
//                       [--setting S]
//   labeler-tool --help | --version
//
// "segment" runs a presegmentation on one image as the labeller does. "export" turns the colour label images
// into class-index masks for training, with --frames also writing beside each mask the frame it belongs to,
// "import" makes masks made elsewhere (a model's predictions) the label images,
// "stats" tells how much of the footage is labelled, "carry" measures how well labels carried from frame to
// frame match true ones, "assist" completes a frame's strokes as the labeller's label assist does. Over a
// corpus, segment, export, import and stats split into shards (--shard K/N) that a scheduler runs as independent
// jobs.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "app/opencv_setup.h"
#include "common/fatal_error.h"
#include "common/program_options.h"
#include "tools/commands.h"

namespace {

struct Command {
  const char* name;
  const char* usage;
  int (*run)(int argc, char** argv);
};

// Every command, in the order the usage lists them.
constexpr Command kCommands[] = {
    {"segment", labeler::tool::kSegmentUsage, labeler::tool::SegmentCommand},
    {"export", labeler::tool::kExportUsage, labeler::tool::ExportCommand},
    {"import", labeler::tool::kImportUsage, labeler::tool::ImportCommand},
    {"stats", labeler::tool::kStatsUsage, labeler::tool::StatsCommand},
    {"carry", labeler::tool::kCarryUsage, labeler::tool::CarryCommand},
    {"assist", labeler::tool::kAssistUsage, labeler::tool::AssistCommand},
};

const Command* FindCommand(const std::string& name) {
  for (const Command& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

// The usage of every command, then where they are described at length.
std::string Usage() {
  std::string usage;
  for (const Command& command : kCommands) usage += command.usage;
  return usage + "Each command is described in the manual page (man labeler-tool) and in the README.\n";
}

// "labeler-tool COMMAND ... --help" asks for that command's usage, wherever the --help stands.
bool AsksForHelp(int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  labeler::ProgramName() = "labeler-tool";
  if (labeler::AnswerHelpOrVersion(argc, argv, "labeler-tool", Usage())) return 0;
  labeler::ConfigureOpenCv();
  const Command* command = FindCommand(argc >= 2 ? argv[1] : "");
  if (command != nullptr && AsksForHelp(argc, argv)) {
    std::fputs(command->usage, stdout);
    return 0;
  }
  try {
    if (command != nullptr) return command->run(argc, argv);
    std::fputs(Usage().c_str(), stderr);
    return 1;
  } catch (const labeler::FatalError& error) {
    std::fflush(stdout);
    std::fputs(error.what(), error.stream() == labeler::FatalError::Stream::kStandardOutput ? stdout : stderr);
    return 1;
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fputs(labeler::InternalErrorLine("labeler-tool", error.what()).c_str(), stderr);
    return 1;
  } catch (...) {
    std::fflush(stdout);
    std::fputs("labeler-tool: internal error: unknown exception\n", stderr);
    return 1;
  }
}
