// The tests run OpenCV on the calling thread, as the labeller and its tool do (see ConfigureOpenCv): what the
// tests exercise is what ships, and the ThreadSanitizer run sees every synchronisation between the labeller's own
// threads, none hidden in OpenCV's thread pool.
#include "app/opencv_setup.h"

namespace {

const bool kOpenCvConfigured = (labeler::ConfigureOpenCv(), true);

}  // namespace
