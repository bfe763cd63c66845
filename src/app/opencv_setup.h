// How the labeller's processes configure OpenCV.
#ifndef LABELER_APP_OPENCV_SETUP_H_
#define LABELER_APP_OPENCV_SETUP_H_

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>

namespace labeler {

// OpenCV reports through our own messages, not its log; and it works on the calling thread: the images of
// one mouse event are small, and waking worker threads for each of their operations costs more than it
// saves.
inline void ConfigureOpenCv() {
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
  cv::setNumThreads(1);
}

}  // namespace labeler

#endif  // LABELER_APP_OPENCV_SETUP_H_
