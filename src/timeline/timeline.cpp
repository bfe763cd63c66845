#include "timeline/timeline.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <opencv2/imgcodecs.hpp>

#include "common/fatal_error.h"

namespace labeler {
namespace {

constexpr int kLineBufferSize = 500;
// Movies are read with FFmpeg. Letting OpenCV try every backend on a file name also wakes the camera
// backends, which search the USB bus on every open.
constexpr int kMovieReader = cv::CAP_FFMPEG;

std::string SizeText(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

}  // namespace

std::vector<std::string> ReadStillList(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    throw FatalError(ErrorLine("cannot open still list " + path + ": " + std::strerror(errno)));
  }
  std::vector<std::string> names;
  char line[kLineBufferSize];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    std::string name(line);
    int lineEndLength = 0;
    if (!name.empty() && name.back() == '\n') {
      name.pop_back();
      if (!name.empty() && name.back() == '\r') name.pop_back();
      lineEndLength = 1;
    }
    if (static_cast<int>(name.size()) + lineEndLength < 3) continue;
    names.push_back(name);
  }
  std::fclose(file);
  return names;
}

int CountTimelineFrames(const std::string& path) {
  if (path.find(".avi") != std::string::npos) {
    cv::VideoCapture capture;
    if (!capture.open(path, kMovieReader) || !capture.isOpened()) {
      throw FatalError(ErrorLine("cannot open movie " + path));
    }
    return std::max(0, static_cast<int>(capture.get(cv::CAP_PROP_FRAME_COUNT)));
  }
  if (path.find(".txt") != std::string::npos) return static_cast<int>(ReadStillList(path).size());
  throw FatalError(ErrorLine("timeline " + path + " is neither a movie (.avi) nor a still list (.txt)"));
}

Timeline::Timeline(const std::string& path) {
  if (path.find(".avi") != std::string::npos) {
    kind_ = TimelineKind::kMovie;
    moviePath_ = path;
  } else if (path.find(".txt") != std::string::npos) {
    std::printf("\r\r Accepting only list of still image files (no .avi's): parsing timeline .txt file.\n");
    kind_ = TimelineKind::kStillList;
    stillListPath_ = path;
  } else {
    throw FatalError("Was expecting a .txt or .avi (preferable) input file instead\nCrashing\n",
                     FatalError::Stream::kStandardOutput);
  }
}

void Timeline::ReloadMovie() {
  if (kind_ == TimelineKind::kMovie) {
    OpenMovie();
  } else {
    OpenStillList();
  }
  currentFrame_ = std::min(currentFrame_, frameCount_ - 1);
  GoToRelativeFrame(0);
}

void Timeline::OpenMovie() {
  std::printf("Loading movie: %s\n", moviePath_.c_str());
  if (!capture_.open(moviePath_, kMovieReader) || !capture_.isOpened()) {
    throw FatalError("Failed to open FG avi - exiting.\n", FatalError::Stream::kStandardOutput);
  }
  std::printf("Opened %s correctly.\n", moviePath_.c_str());
  width_ = static_cast<int>(capture_.get(cv::CAP_PROP_FRAME_WIDTH));
  height_ = static_cast<int>(capture_.get(cv::CAP_PROP_FRAME_HEIGHT));
  frameCount_ = static_cast<int>(capture_.get(cv::CAP_PROP_FRAME_COUNT));
  nextMovieFrame_ = 0;
  decodedFrame_ = -1;
  if (frameCount_ < 1 || width_ < 1 || height_ < 1) {
    throw FatalError(ErrorLine("movie " + moviePath_ + " reports " + std::to_string(frameCount_) +
                               " frames of " + SizeText(width_, height_) + "; it holds nothing to label"));
  }
}

void Timeline::OpenStillList() {
  std::printf("Loading still images from file: %s\n", stillListPath_.c_str());
  stillNames_ = ReadStillList(stillListPath_);
  frameCount_ = static_cast<int>(stillNames_.size());
  if (frameCount_ == 0) {
    throw FatalError("List of stills has no entries - crashing!\n", FatalError::Stream::kStandardOutput);
  }
  currentFrame_ = 0;
  LoadStill();
  width_ = frame_.cols;
  height_ = frame_.rows;
}

const cv::Mat& Timeline::GoToRelativeFrame(int delta) {
  long long target = static_cast<long long>(currentFrame_) + delta;
  target = std::max<long long>(target, 0);
  target = std::min<long long>(target, frameCount_ - 1);
  currentFrame_ = static_cast<int>(target);
  if (kind_ == TimelineKind::kMovie) {
    std::printf("Frame #%d\n", currentFrame_);
    FetchMovieFrame();
  } else {
    LoadStill();
  }
  return frame_;
}

void Timeline::FetchMovieFrame() {
  if (decodedFrame_ == currentFrame_) return;  // already decoded: fetching it again gives the same picture
  if (currentFrame_ != nextMovieFrame_ && !SeekTo(currentFrame_)) ReadSequentiallyTo(currentFrame_);
  ReadNextMovieFrame();
}

// Seeks, then checks where the capture says it stands: with key frames far apart a codec may land elsewhere.
// After a miss, nextMovieFrame_ is where the capture stands, or -1 when that is not known.
bool Timeline::SeekTo(int frame) {
  bool moved = capture_.set(cv::CAP_PROP_POS_FRAMES, frame);
  int position = static_cast<int>(capture_.get(cv::CAP_PROP_POS_FRAMES));
  nextMovieFrame_ = moved && position >= 0 ? position : -1;
  return nextMovieFrame_ == frame;
}

// The slow, certain way to a frame: decode forward from where the capture stands, or from the start of the
// file when it stands past the frame or nobody knows where.
void Timeline::ReadSequentiallyTo(int frame) {
  if (nextMovieFrame_ < 0 || nextMovieFrame_ > frame) {
    capture_.release();
    if (!capture_.open(moviePath_, kMovieReader)) {
      throw FatalError(ErrorLine("cannot reopen movie " + moviePath_ + " to reach frame " + std::to_string(frame)));
    }
    nextMovieFrame_ = 0;
  }
  while (nextMovieFrame_ < frame) {
    if (!capture_.grab()) {
      throw FatalError(ErrorLine("cannot read frame " + std::to_string(nextMovieFrame_) + " of movie " +
                                 moviePath_));
    }
    ++nextMovieFrame_;
  }
}

void Timeline::ReadNextMovieFrame() {
  cv::Mat image;  // a fresh buffer: references to the previous frame stay valid and unchanged
  if (!capture_.read(image) || image.empty()) {
    throw FatalError(ErrorLine("cannot read frame " + std::to_string(currentFrame_) + " of movie " + moviePath_));
  }
  ++nextMovieFrame_;
  if (image.type() != CV_8UC3 || image.cols != width_ || image.rows != height_) {
    throw FatalError(ErrorLine("frame " + std::to_string(currentFrame_) + " of movie " + moviePath_ +
                               " is not an 8-bit colour image of " + SizeText(width_, height_)));
  }
  frame_ = image;
  decodedFrame_ = currentFrame_;
}

void Timeline::LoadStill() {
  const std::string& name = stillNames_[currentFrame_];
  cv::Mat image = cv::imread(name, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
  if (image.empty()) {
    throw FatalError(ErrorLine("cannot load still image " + name + " (frame " + std::to_string(currentFrame_) +
                               ") of still list " + stillListPath_));
  }
  if (width_ != 0 && (image.cols != width_ || image.rows != height_)) {
    throw FatalError(ErrorLine("still image " + name + " (frame " + std::to_string(currentFrame_) + ") is " +
                               SizeText(image.cols, image.rows) + " but the first frame is " +
                               SizeText(width_, height_)));
  }
  frame_ = image;
}

}  // namespace labeler
