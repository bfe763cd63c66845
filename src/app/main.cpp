// labeler: label every frame of a video or of a list of stills for semantic-segmentation ground truth.
// Usage: labeler FILE.meta
#include <cstdio>
#include <exception>

#include "app/labeler.h"
#include "app/opencv_setup.h"
#include "common/fatal_error.h"
#include "ui/qt_window_system.h"

int main(int argc, char** argv) {
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
