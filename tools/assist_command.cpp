// labeler-tool assist: the label image the labeller would save with label assist on, from the command line.
//
// The strokes of one frame (a label image, black where nothing is painted) are completed exactly as the labeller
// completes them: over the painted pixels of the frame's own stored label image, with the regions of the chosen
// presegmentation at its start thresholds, and the label folder's stored label images of the frames just before
// and after. Useful for pre-labelling a clip before review; the confidence picture shows a reviewer where to look
// first.
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "annotation/frame_assistant.h"
#include "annotation/label_image_file.h"
#include "annotation/label_images.h"
#include "annotation/painted_record.h"
#include "common/files.h"
#include "common/quiet_console.h"
#include "preseg/preseg_engine.h"
#include "timeline/timeline.h"
#include "tools/command_support.h"
#include "tools/commands.h"
#include "tools/label_project.h"

namespace labeler::tool {
namespace {

struct AssistOptions {
  std::string meta;
  std::string strokes;
  std::string out;
  std::string confidence;
  int frame = -1;
  int setting = 0;
};

AssistOptions ParseAssistOptions(int argc, char** argv) {
  AssistOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--meta") {
      options.meta = TextOption(argc, argv, i, kAssistUsage);
    } else if (arg == "--strokes") {
      options.strokes = TextOption(argc, argv, i, kAssistUsage);
    } else if (arg == "--out") {
      options.out = TextOption(argc, argv, i, kAssistUsage);
    } else if (arg == "--confidence") {
      options.confidence = TextOption(argc, argv, i, kAssistUsage);
    } else if (arg == "--frame") {
      options.frame = IntOption(argc, argv, i, 0, 999999999, kAssistUsage);
    } else if (arg == "--setting") {
      options.setting = IntOption(argc, argv, i, kNoPreseg, kLastPresegSetting, kAssistUsage);
    } else {
      throw FatalError(ErrorLine("unexpected argument " + arg) + kAssistUsage);
    }
  }
  if (options.meta.empty() || options.strokes.empty() || options.out.empty() || options.frame < 0) {
    throw FatalError(ErrorLine("--meta, --frame, --strokes and --out are required") + kAssistUsage);
  }
  return options;
}

cv::Mat ReadStrokes(const std::string& path, cv::Size frameSize) {
  const cv::Mat strokes = ReadStoredLabelImage(path, frameSize);
  if (strokes.empty()) throw FatalError(ErrorLine("strokes " + path + " can't be read as an image"));
  if (strokes.size() != frameSize) {
    throw FatalError(ErrorLine("strokes " + path + " are " + std::to_string(strokes.cols) + " x " +
                               std::to_string(strokes.rows) + " but the frame is " +
                               std::to_string(frameSize.width) + " x " + std::to_string(frameSize.height)));
  }
  return strokes;
}

// The frame's stored label image with the strokes painted over it, as the labeller holds it when it enters the
// frame, and the pixels painted by hand: the strokes' and those the label folder's record gives the stored image
// (without one, every labelled pixel of it). A stored image that can't be used is left out, as the labeller starts
// such a frame black.
struct Painted {
  cv::Mat labels;
  cv::Mat mask;
};

Painted WithStoredLabels(const cv::Mat& strokes, const std::string& labelDir, int frame) {
  const cv::Mat strokeMask = NonBlackPixels(strokes);
  cv::Mat stored = ReadStoredLabelImage(LabelImagePath(labelDir, frame), strokes.size());
  if (stored.size() != strokes.size()) return {strokes, strokeMask};
  Painted painted{stored, PaintedPixels(labelDir, frame, stored)};
  strokes.copyTo(painted.labels, strokeMask);
  painted.mask |= strokeMask;
  return painted;
}

void WritePng(const std::string& path, const cv::Mat& image) {
  std::vector<uchar> png;
  if (!cv::imencode(".png", image, png)) throw FatalError(ErrorLine("cannot encode " + path));
  const std::string failure = WriteFileAtomically(path, png);
  if (!failure.empty()) throw FatalError(ErrorLine("cannot write " + path + ": " + failure));
  std::printf("Wrote %s\n", path.c_str());
}

}  // namespace

int AssistCommand(int argc, char** argv) {
  const AssistOptions options = ParseAssistOptions(argc, argv);
  const LabelProject project = LoadLabelProject(options.meta, true);
  Timeline timeline(*project.config.FILE_TIMELINE);
  {
    QuietConsole quiet;
    timeline.ReloadMovie();
    if (options.frame >= timeline.frameCount()) {
      throw FatalError(ErrorLine("frame " + std::to_string(options.frame) + " is past the last frame, " +
                                 std::to_string(timeline.frameCount() - 1)));
    }
    timeline.GoToFrame(options.frame);
  }
  if (timeline.currentFrame() != options.frame) {
    throw FatalError(ErrorLine("frame " + std::to_string(options.frame) + " of " + *project.config.FILE_TIMELINE +
                               " can't be read"));
  }
  const Painted painted = WithStoredLabels(ReadStrokes(options.strokes, timeline.frame().size()),
                                           *project.config.DIR_LABEL_IMGS, options.frame);
  PresegEngine preseg;
  preseg.CreatePresegImages(timeline.frame().size());
  preseg.currentPreseg().algorithm = options.setting;
  FrameAssistant assistant(timeline, preseg, project.labels, *project.config.DIR_LABEL_IMGS, nullptr);
  if (project.config.DIR_PROPOSAL_IMGS) {
    assistant.SetProposals(std::make_shared<ProposalFolder>(*project.config.DIR_PROPOSAL_IMGS, project.labels));
  }
  cv::Mat completed;
  {
    QuietConsole quiet;  // the presegmentations say what they compute
    completed = assistant.Complete(painted.labels, painted.mask);
  }
  WritePng(options.out, completed);
  if (!options.confidence.empty()) WritePng(options.confidence, assistant.Confidence());
  return 0;
}

}  // namespace labeler::tool
