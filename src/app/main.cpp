// labeler: label every frame of a video or of a list of stills for semantic-segmentation ground truth.
// Usage: labeler FILE.meta
//        labeler --help | --version
#include <cstdio>
#include <exception>

#include "app/labeler.h"
#include "app/opencv_setup.h"
#include "common/fatal_error.h"
#include "common/program_options.h"
#include "ui/qt_window_system.h"

namespace {

const char* const kUsage =
    "usage: labeler FILE.meta\n"
    "       labeler --help | --version\n"
    "\n"
    "Labels every frame of a video, or of a list of stills, for semantic-segmentation ground truth: each\n"
    "painted pixel takes the colour of its label, and every frame is saved as one colour PNG.\n"
    "\n"
    "FILE.meta, the meta file, holds white-space-separated keys and values: FILE_TIMELINE (the movie, .avi,\n"
    "or the still list, .txt), FILE_LABEL_NAMES (the label names and colours), DIR_LABEL_IMGS (where label\n"
    "images are read and written), FILE_TIMELINE_JUMPBY (frames moved by + and -) and MAX_WINDOW_DIM (largest\n"
    "side of the \"Rescaled PreSeg\" window); optionally DIR_PROPOSAL_IMGS (a model's masks, which the m key\n"
    "lays over their frames).\n"
    "\n"
    "Keys and mouse are described in the manual page (man labeler) and in the README.\n";

}  // namespace

int main(int argc, char** argv) {
  if (labeler::AnswerHelpOrVersion(argc, argv, "labeler", kUsage)) return 0;
  // Log lines must reach a pipe at once, in order with standard error.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  try {
    labeler::ConfigureOpenCv();
    labeler::ui::QtWindowSystem windows(argc, argv);
    labeler::Labeler app(windows);
    return app.Run(argc, argv);
  } catch (const labeler::FatalError& error) {
    std::FILE* stream = error.stream() == labeler::FatalError::Stream::kStandardOutput ? stdout : stderr;
    std::fputs(error.what(), stream);
    std::fflush(stream);
    return 1;
  } catch (const std::exception& error) {
    std::fputs(labeler::InternalErrorLine("labeler", error.what()).c_str(), stderr);
    return 1;
  } catch (...) {
    std::fputs("labeler: internal error: unknown exception\n", stderr);
    return 1;
  }
}
