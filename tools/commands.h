// The labeler-tool commands. Each takes the whole command line (argv[1] is the command's name), returns the
// exit status and throws FatalError on bad arguments or input it can't use.
#ifndef LABELER_TOOLS_COMMANDS_H_
#define LABELER_TOOLS_COMMANDS_H_

namespace labeler::tool {

// segment --setting N [--pyr1 A] [--pyr2 B] INPUT OUT_COLOUR.png [OUT_EDGES.png]
// segment --setting N [--pyr1 A] [--pyr2 B] --out DIR [--edges DIR] [--shard K/N] [--json] INPUT...
int SegmentCommand(int argc, char** argv);
// export --meta FILE.meta [--meta FILE.meta...] --out DIR [--unlabelled N] [--frames] [--format index|palette]
//        [--shard K/N] [--json]
int ExportCommand(int argc, char** argv);
// stats --meta FILE.meta [--meta FILE.meta...] [--csv | --json] [--shard K/N | --report DIR]
int StatsCommand(int argc, char** argv);
// carry --meta FILE.meta [--truth DIR] [--every K] [--steps N]
int CarryCommand(int argc, char** argv);
// assist --meta FILE.meta --frame N --strokes PAINTED.png --out OUT.png [--confidence SURE.png] [--setting S]
int AssistCommand(int argc, char** argv);
// import --meta FILE.meta --masks DIR [--index] [--replace] [--shard K/N] [--json]
int ImportCommand(int argc, char** argv);

inline constexpr const char* kSegmentUsage =
    "usage: labeler-tool segment --setting N [--pyr1 A] [--pyr2 B] INPUT OUT_COLOUR.png [OUT_EDGES.png]\n"
    "       labeler-tool segment --setting N [--pyr1 A] [--pyr2 B] --out DIR [--edges EDGE_DIR] [--shard K/N]\n"
    "                            [--json] INPUT...\n"
    "  N: 1 pyramid, 2 to 4 mean shift, 5 graph; A and B: pyramid trackbar positions 0 to 255 (24 and 30);\n"
    "  with --out, DIR/STEM.png (and EDGE_DIR/STEM.png) for each INPUT of job K's share (0 <= K < N)\n";
inline constexpr const char* kExportUsage =
    "usage: labeler-tool export --meta FILE.meta [--meta FILE.meta...] --out DIR [--unlabelled N] [--frames]\n"
    "                           [--format index|palette] [--shard K/N] [--json]\n"
    "  writes DIR/frame-NNNNNN.png (the label index of every pixel, N = 255 where unlabelled; with --format\n"
    "  palette in a palette PNG of the label colours), DIR/classes.csv and DIR/classes.json;\n"
    "  with --frames also DIR/frames/frame-NNNNNN.png, the very frame each mask belongs to;\n"
    "  several meta files write to DIR/STEM/ each; --shard K/N exports every N-th label image from the K-th\n";
inline constexpr const char* kImportUsage =
    "usage: labeler-tool import --meta FILE.meta --masks DIR [--index] [--replace] [--shard K/N] [--json]\n"
    "  makes DIR/frame-NNNNNN.png (colour masks in the label colours, or with --index label numbers as\n"
    "  DIR/classes.csv names them, else in the label file's order; 255 unlabelled) the label image of frame\n"
    "  NNNNNN; frames that have one keep it unless --replace\n";
inline constexpr const char* kCarryUsage =
    "usage: labeler-tool carry --meta FILE.meta [--truth DIR] [--every K] [--steps N]\n"
    "  carries the true labels (DIR, else the project's label images) of every K-th frame N frames on (5) and\n"
    "  scores a plain copy, the optical flow and the flow snapped to each presegmentation\n";
inline constexpr const char* kAssistUsage =
    "usage: labeler-tool assist --meta FILE.meta --frame N --strokes PAINTED.png --out OUT.png\n"
    "                           [--confidence SURE.png] [--setting S]\n"
    "  completes the strokes of frame N (black where nothing is painted) over its stored label image as the\n"
    "  labeller's label assist does, with presegmentation setting S (0 none, the default) and the stored label\n"
    "  images of frames N - 1 and N + 1 (and frame N's proposal, with DIR_PROPOSAL_IMGS); SURE.png: how sure\n"
    "  each pixel is, grey, 255 painted, 0 no evidence\n";
inline constexpr const char* kStatsUsage =
    "usage: labeler-tool stats --meta FILE.meta [--meta FILE.meta...] [--csv | --json]\n"
    "                          [--shard K/N | --report DIR]\n"
    "  per frame: whether it has a label image and the share of each label; totals at the end;\n"
    "  the conflict files beside the label images; --shard K/N: every N-th frame from the K-th;\n"
    "  --report DIR: DIR/index.html, a page with a chart along each clip and pictures beside it\n";

}  // namespace labeler::tool

#endif  // LABELER_TOOLS_COMMANDS_H_
