// The frames of a clip as labeler-tool writes or draws them: for each frame number exactly the picture the
// labeller shows for it. Frames asked for in ascending order are read forward through one timeline, which seeks
// only across gaps and checks where each seek landed, so a movie is decoded frame-exactly and once. The
// timeline's own console lines are not the command's output and are kept off it. One object per thread.
#ifndef LABELER_TOOLS_FRAME_PICTURES_H_
#define LABELER_TOOLS_FRAME_PICTURES_H_

#include <memory>
#include <opencv2/core.hpp>
#include <string>

#include "timeline/timeline.h"

namespace labeler::tool {

class FramePictures {
 public:
  // Opens the timeline (a movie or a still list). Throws FatalError when it can't be read.
  explicit FramePictures(const std::string& timelinePath);

  // The picture of `frame`, the caller's to keep; empty, with why in `reason`, when it can't be read.
  cv::Mat Read(int frame, std::string& reason);

 private:
  std::string timelinePath_;
  std::unique_ptr<Timeline> timeline_;
};

}  // namespace labeler::tool

#endif  // LABELER_TOOLS_FRAME_PICTURES_H_
