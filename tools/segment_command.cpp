// labeler-tool segment: a presegmentation of pictures exactly as the labeller computes it when the setting is
// chosen on the trackbar. One picture at a time (INPUT OUT_COLOUR.png [OUT_EDGES.png]), or many into a folder
// (--out DIR INPUT...), where --shard K/N takes the job's share of the inputs.
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <optional>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/quiet_console.h"
#include "common/random.h"
#include "preseg/preseg_engine.h"
#include "tools/command_support.h"
#include "tools/commands.h"
#include "tools/corpus.h"
#include "tools/json_object.h"
#include "tools/mask_png.h"
#include "tools/progress.h"
#include "tools/run_report.h"
#include "tools/shard.h"

namespace labeler::tool {
namespace {

struct SegmentOptions {
  int setting = -1;
  int pyrSeg1 = 24;
  int pyrSeg2 = 30;
  std::vector<std::string> files;  // input, colour output, optional edge output; or, with --out, the inputs
  std::string out;
  std::string edges;
  std::optional<Shard> shard;
  bool json = false;
};

SegmentOptions ParseSegmentOptions(int argc, char** argv) {
  SegmentOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--setting") {
      options.setting = IntOption(argc, argv, i, 1, kLastPresegSetting, kSegmentUsage);
    } else if (arg == "--pyr1") {
      options.pyrSeg1 = IntOption(argc, argv, i, 0, 255, kSegmentUsage);
    } else if (arg == "--pyr2") {
      options.pyrSeg2 = IntOption(argc, argv, i, 0, 255, kSegmentUsage);
    } else if (arg == "--out") {
      options.out = TextOption(argc, argv, i, kSegmentUsage);
    } else if (arg == "--edges") {
      options.edges = TextOption(argc, argv, i, kSegmentUsage);
    } else if (arg == "--shard") {
      options.shard = ParseShard(TextOption(argc, argv, i, kSegmentUsage));
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg.rfind("--", 0) == 0) {
      throw FatalError(ErrorLine("unknown option " + arg) + kSegmentUsage);
    } else {
      options.files.push_back(arg);
    }
  }
  if (options.setting < 0) throw FatalError(ErrorLine("--setting is required") + kSegmentUsage);
  if (!options.out.empty()) {
    if (options.files.empty()) throw FatalError(ErrorLine("--out needs at least one INPUT") + kSegmentUsage);
    return options;
  }
  if (!options.edges.empty() || options.shard || options.json) {
    throw FatalError(ErrorLine("--edges, --shard and --json go with --out DIR") + kSegmentUsage);
  }
  if (options.files.size() < 2 || options.files.size() > 3) {
    throw FatalError(ErrorLine("expected INPUT, OUT_COLOUR.png and optionally OUT_EDGES.png") + kSegmentUsage);
  }
  return options;
}

void WritePng(const std::string& path, const cv::Mat& image) {
  bool written = false;
  try {
    written = cv::imwrite(path, image);
  } catch (const cv::Exception&) {
  }
  if (!written) throw FatalError(ErrorLine("cannot write " + path));
}

// The picture at `path`, or empty with `why` set when it can't be read.
cv::Mat ReadPicture(const std::string& path, std::string& why) {
  const std::string notAFile = NotARegularFile(path);
  if (!notAFile.empty()) {
    why = "cannot read image " + path + ": it " + notAFile;
    return {};
  }
  cv::Mat picture = cv::imread(path, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
  if (picture.empty()) why = "cannot read image " + path;
  return picture;
}

// Runs the chosen setting on `picture` as the trackbar does: forced, on frame 0, in a fresh engine.
void Segment(const SegmentOptions& options, const cv::Mat& picture, PresegEngine& engine) {
  engine.CreatePresegImages(picture.size());
  PresegParams& params = engine.currentPreseg();
  params.algorithm = options.setting;
  params.pyrSeg1 = options.pyrSeg1;
  params.pyrSeg2 = options.pyrSeg2;
  engine.UpdatePresegmentation(picture, 0, 1);
}

int SegmentOne(const SegmentOptions& options) {
  std::string why;
  const cv::Mat picture = ReadPicture(options.files[0], why);
  if (picture.empty()) throw FatalError(ErrorLine(why));
  PresegEngine engine;
  Segment(options, picture, engine);
  WritePng(options.files[1], engine.presegColour());
  if (options.files.size() == 3) WritePng(options.files[2], engine.presegEdges());
  return 0;
}

// The picture STEM.png of an input in `folder`.
std::string OutputPath(const std::string& folder, const std::string& stem) {
  return (std::filesystem::path(folder) / (stem + ".png")).string();
}

// An output that is one of the inputs (--out the inputs' own folder) would replace a picture with its
// segmentation: refused before anything is written.
void CheckOutputsSpareInputs(const SegmentOptions& options, const std::vector<std::string>& stems) {
  auto same = [](const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::weakly_canonical(std::filesystem::absolute(a), error) ==
           std::filesystem::weakly_canonical(std::filesystem::absolute(b), error);
  };
  if (!options.edges.empty() && same(options.out, options.edges)) {  // the edges would replace the pictures
    throw FatalError(ErrorLine("--edges " + options.edges + " is the --out folder; choose another one for the edges"));
  }
  for (size_t i = 0; i < options.files.size(); ++i) {
    for (const std::string& folder : {options.out, options.edges}) {
      if (!folder.empty() && same(OutputPath(folder, stems[i]), options.files[i])) {
        throw FatalError(ErrorLine(OutputPath(folder, stems[i]) + " would replace the input " + options.files[i] +
                                   "; choose another output folder"));
      }
    }
  }
}

// One input of many: its region picture DIR/STEM.png and, when asked, its boundary image EDGE_DIR/STEM.png. Each
// input starts the shared random sequence afresh, so its colours are those of a run on it alone, whichever
// shard or position it has.
std::optional<Failure> SegmentInto(const SegmentOptions& options, const std::string& input, const std::string& stem) {
  std::string why;
  const cv::Mat picture = ReadPicture(input, why);
  if (picture.empty()) return Failure{input, why};
  PresegEngine engine;
  {
    QuietConsole quiet;  // the labeller's console lines, once per input, would bury the run's own
    Random::Shared().Seed(1);
    Segment(options, picture, engine);
  }
  const std::string colour = OutputPath(options.out, stem);
  std::string reason = WritePngAtomically(colour, engine.presegColour());
  if (!reason.empty()) return Failure{colour, reason};
  if (options.edges.empty()) return std::nullopt;
  const std::string edges = OutputPath(options.edges, stem);
  reason = WritePngAtomically(edges, engine.presegEdges());
  if (!reason.empty()) return Failure{edges, reason};
  return std::nullopt;
}

void PrintJsonSummary(const SegmentOptions& options, size_t inputs, const std::vector<Failure>& failures) {
  std::printf("%s\n", JsonObject()
                          .Add("command", "segment")
                          .AddJson("shard", ShardJson(options.shard.value_or(Shard{})))
                          .Add("out", options.out)
                          .Add("inputs", inputs)
                          .Add("segmented", inputs - failures.size())
                          .Add("failed", failures.size())
                          .AddJson("failures", FailuresJson(failures))
                          .Text()
                          .c_str());
}

// One after another, not on every core: the shared random sequence gives each input its colours.
int SegmentMany(const SegmentOptions& options) {
  const std::vector<std::string> stems = DistinctStems(options.files);
  const Shard shard = options.shard.value_or(Shard{});
  CheckOutputsSpareInputs(options, stems);
  CreateOutputFolder(options.out);
  if (!options.edges.empty()) CreateOutputFolder(options.edges);
  std::vector<size_t> share;
  for (size_t i = 0; i < options.files.size(); ++i) {
    if (shard.Takes(static_cast<long long>(i))) share.push_back(i);
  }
  std::vector<Failure> failures;
  Progress progress("segment", static_cast<int>(share.size()));
  for (size_t done = 0; done < share.size(); ++done) {
    const size_t i = share[done];
    if (std::optional<Failure> failure = SegmentInto(options, options.files[i], stems[i])) {
      failures.push_back(*failure);
    }
    progress.Update(static_cast<int>(done + 1));
  }
  progress.Finish();
  PrintFailures(failures);
  if (options.json) {
    PrintJsonSummary(options, share.size(), failures);
  } else {
    const std::string ofShard = shard.IsWhole() ? "" : " (shard " + shard.Text() + ")";
    std::printf("Segmented %zu of %zu pictures to %s%s\n", share.size() - failures.size(), share.size(),
                options.out.c_str(), ofShard.c_str());
  }
  return failures.empty() ? 0 : 1;
}

}  // namespace

int SegmentCommand(int argc, char** argv) {
  const SegmentOptions options = ParseSegmentOptions(argc, argv);
  return options.out.empty() ? SegmentOne(options) : SegmentMany(options);
}

}  // namespace labeler::tool
