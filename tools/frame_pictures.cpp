#include "tools/frame_pictures.h"

#include "common/quiet_console.h"
#include "tools/command_support.h"

namespace labeler::tool {

FramePictures::FramePictures(const std::string& timelinePath) : timelinePath_(timelinePath) {
  QuietConsole quiet;
  timeline_ = std::make_unique<Timeline>(timelinePath);
  timeline_->ReloadMovie();
}

cv::Mat FramePictures::Read(int frame, std::string& reason) {
  cv::Mat image;
  try {
    QuietConsole quiet;
    if (frame < timeline_->frameCount()) image = timeline_->GoToFrame(frame);
  } catch (const FatalError& failure) {
    reason = FailureReason(failure);
    return {};
  }
  if (image.empty() || timeline_->currentFrame() != frame) {
    reason = "frame " + std::to_string(frame) + " can't be read from " + timelinePath_;
    return {};
  }
  return image.clone();  // the timeline reuses its picture for the next frame
}

}  // namespace labeler::tool
