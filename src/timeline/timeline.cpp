#include "timeline/timeline.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <optional>
#include <cstdio>
#include <cstring>
#include <opencv2/imgcodecs.hpp>

#include "common/fatal_error.h"
#include "common/files.h"
#include "timeline/riff_file.h"

namespace labeler {
namespace {

constexpr int kLineBufferSize = 500;
// Movies are read with FFmpeg. Letting OpenCV try every backend on a file name also wakes the camera
// backends, which search the USB bus on every open.
constexpr int kMovieReader = cv::CAP_FFMPEG;
// How many frames ahead of the decoder a frame may be to be read forward rather than sought.
constexpr int kNearAhead = 8;

std::string SizeText(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

// A value the movie's header reports, when it is a whole number in 1..limit. The header of a damaged or bare
// stream may say anything, NaN and infinity included.
std::optional<int> ReportedValue(const cv::VideoCapture& capture, int property, double limit) {
  const double value = capture.get(property);
  if (!std::isfinite(value) || value < 1 || value > limit) return std::nullopt;
  return static_cast<int>(value);
}

// The frames of a movie whose header does not say how many it holds, counted by decoding them all.
int CountFramesByDecoding(const std::string& path) {
  std::fprintf(stderr, "%s: movie %s does not say how many frames it holds; counting them by decoding\n",
               ProgramName().c_str(), path.c_str());
  cv::VideoCapture capture;
  if (!capture.open(path, kMovieReader)) return 0;
  int count = 0;
  while (count < INT_MAX && capture.grab()) ++count;
  return count;
}

std::optional<int> ReportedFrameCount(const cv::VideoCapture& capture) {
  return ReportedValue(capture, cv::CAP_PROP_FRAME_COUNT, INT_MAX);
}

}  // namespace

std::vector<std::string> ReadStillList(const std::string& path) {
  const std::string notAFile = NotARegularFile(path);
  if (!notAFile.empty()) throw FatalError(ErrorLine("cannot open still list " + path + ": it " + notAFile));
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    throw FatalError(ErrorLine("cannot open still list " + path + ": " + std::strerror(errno)));
  }
  SkipByteOrderMark(file);
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
    const std::string notAFile = NotARegularFile(path);
    if (!notAFile.empty()) throw FatalError(ErrorLine("cannot open movie " + path + ": it " + notAFile));
    cv::VideoCapture capture;
    if (!capture.open(path, kMovieReader) || !capture.isOpened()) {
      throw FatalError(ErrorLine("cannot open movie " + path));
    }
    const std::optional<int> reported = ReportedFrameCount(capture);
    return reported ? *reported : CountFramesByDecoding(path);
  }
  if (path.find(".txt") != std::string::npos) return static_cast<int>(ReadStillList(path).size());
  throw FatalError(ErrorLine("timeline " + path + " is neither a movie (.avi) nor a still list (.txt)"));
}

Timeline::Timeline(TimelineKind kind) : kind_(kind) {}

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
  const std::string notAFile = NotARegularFile(moviePath_);
  if (!notAFile.empty()) throw FatalError(ErrorLine("cannot open movie " + moviePath_ + ": it " + notAFile));
  if (!capture_.open(moviePath_, kMovieReader) || !capture_.isOpened()) {
    throw FatalError("Failed to open FG avi - exiting.\n", FatalError::Stream::kStandardOutput);
  }
  std::printf("Opened %s correctly.\n", moviePath_.c_str());
  constexpr double kLargestSide = 65535;
  const std::optional<int> width = ReportedValue(capture_, cv::CAP_PROP_FRAME_WIDTH, kLargestSide);
  const std::optional<int> height = ReportedValue(capture_, cv::CAP_PROP_FRAME_HEIGHT, kLargestSide);
  if (!width || !height) {
    throw FatalError(ErrorLine("movie " + moviePath_ + " reports a frame size of " +
                               std::to_string(capture_.get(cv::CAP_PROP_FRAME_WIDTH)) + " x " +
                               std::to_string(capture_.get(cv::CAP_PROP_FRAME_HEIGHT)) + "; it can't be read"));
  }
  width_ = *width;
  height_ = *height;
  const std::optional<int> reported = ReportedFrameCount(capture_);
  // A stream without a usable frame count has no index either: its seeks land anywhere and report anything.
  seekable_ = reported.has_value() && RiffChunksFit(moviePath_);
  frameCount_ = reported ? *reported : CountFramesByDecoding(moviePath_);
  nextMovieFrame_ = 0;
  decodedFrame_ = -1;
  if (frameCount_ < 1) throw FatalError(ErrorLine("movie " + moviePath_ + " holds no frame to label"));
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
  const int from = currentFrame_;
  const int leftBefore = leftFrame_;
  const DeliveredFrame leftPictureBefore = left_;
  if (target != currentFrame_ && !frame_.empty()) {
    leftFrame_ = currentFrame_;
    left_ = {frame_, frameSerial_, frameStill_};
  }
  currentFrame_ = static_cast<int>(target);
  try {
    if (kind_ == TimelineKind::kMovie) {
      if (TakeOffered(currentFrame_)) {
        decodedFrame_ = currentFrame_;
      } else {
        while (!FetchMovieFrame()) EndMovieAt(firstUnreadable_);
      }
      std::printf("Frame #%d\n", currentFrame_);
    } else if (!TakeOffered(currentFrame_)) {
      LoadStill();
    }
  } catch (...) {
    // A move that fails stays where it was: the frame number must keep naming the picture shown.
    currentFrame_ = from;
    leftFrame_ = leftBefore;
    left_ = leftPictureBefore;
    throw;
  }
  return frame_;
}

// Returns false when the current frame can't be read; firstUnreadable_ then says from which frame on the movie
// can't be read.
bool Timeline::FetchMovieFrame() {
  if (decodedFrame_ == currentFrame_) return true;  // already decoded: fetching it again gives the same picture
  cv::Mat image;
  if (!DecodeMovieFrame(currentFrame_, image)) return false;
  Deliver(image);
  decodedFrame_ = currentFrame_;
  return true;
}

bool Timeline::DecodeMovieFrame(int frame, cv::Mat& image) {
  if (frame == nextMovieFrame_) {
    if (ReadNextMovieFrame(frame, image)) return true;
    firstUnreadable_ = frame;
    return false;
  }
  // A frame a few ahead is read forward: cheaper than a seek to the key frame before it, and certain.
  const bool nearAhead = nextMovieFrame_ >= 0 && frame > nextMovieFrame_ && frame - nextMovieFrame_ <= kNearAhead;
  if (!nearAhead && seekable_ && SeekTo(frame) && ReadNextMovieFrame(frame, image)) return true;
  // A seek that misses, or lands past the frames the file really holds: decode forward instead.
  if (!ReadSequentiallyTo(frame)) return false;
  if (ReadNextMovieFrame(frame, image)) return true;
  firstUnreadable_ = frame;
  return false;
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
// file when it stands past the frame or nobody knows where. False, with firstUnreadable_ set, when a frame on
// the way can't be read.
bool Timeline::ReadSequentiallyTo(int frame) {
  if (nextMovieFrame_ < 0 || nextMovieFrame_ > frame) {
    nextMovieFrame_ = -1;  // nobody knows where the capture stands until it is open again
    capture_.release();
    if (!capture_.open(moviePath_, kMovieReader)) {
      throw FatalError(ErrorLine("cannot reopen movie " + moviePath_ + " to reach frame " + std::to_string(frame)));
    }
    nextMovieFrame_ = 0;
  }
  auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (nextMovieFrame_ < frame) {
    if (progress_ && std::chrono::steady_clock::now() >= due) {
      if (!progress_(nextMovieFrame_, frame)) return false;  // the capture stands where nextMovieFrame_ says
      due = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    }
    if (!capture_.grab()) {
      firstUnreadable_ = nextMovieFrame_;
      nextMovieFrame_ = -1;
      return false;
    }
    ++nextMovieFrame_;
  }
  return true;
}

// Reads into a fresh buffer, so that references to earlier frames stay valid and unchanged.
bool Timeline::ReadNextMovieFrame(int frame, cv::Mat& image) {
  image = cv::Mat();
  if (!capture_.read(image) || image.empty()) {
    nextMovieFrame_ = -1;
    return false;
  }
  ++nextMovieFrame_;
  if (image.type() != CV_8UC3 || image.cols != width_ || image.rows != height_) {
    throw FatalError(ErrorLine("frame " + std::to_string(frame) + " of movie " + moviePath_ +
                               " is not an 8-bit colour image of " + SizeText(width_, height_)));
  }
  return true;
}

// A frame that can't be read here is only a frame that can't be looked at: the session goes on, so a reader's
// error (an unreadable still, a movie frame of another size) is not passed on.
DeliveredFrame Timeline::FrameAt(int frame) {
  if (frame == currentFrame_) return {frame_, frameSerial_, frameStill_};
  if (frame == leftFrame_) return left_;
  if (frame < 0 || frame >= frameCount_) return {};
  try {
    if (kind_ == TimelineKind::kStillList) {
      DeliveredFrame still = ReadStill(frame);
      still.serial = ++*lastSerial_;
      return still;
    }
    cv::Mat image;
    if (!DecodeMovieFrame(frame, image)) return {};
    return {image, ++*lastSerial_};
  } catch (const FatalError&) {
    return {};
  }
}

std::unique_ptr<Timeline> Timeline::Companion() const {
  std::unique_ptr<Timeline> companion(new Timeline(kind_));
  companion->moviePath_ = moviePath_;
  companion->stillListPath_ = stillListPath_;
  companion->stillNames_ = stillNames_;
  companion->width_ = width_;
  companion->height_ = height_;
  companion->frameCount_ = frameCount_;
  companion->seekable_ = seekable_;
  companion->lastSerial_ = lastSerial_;
  companion->currentFrame_ = -1;
  companion->nextMovieFrame_ = -1;
  if (kind_ == TimelineKind::kMovie && companion->capture_.open(moviePath_, kMovieReader)) {
    companion->nextMovieFrame_ = 0;
  }
  return companion;
}

void Timeline::LimitTo(int frameCount, bool seekable) {
  frameCount_ = std::min(frameCount_, frameCount);
  seekable_ = seekable_ && seekable;
}

void Timeline::OfferPicture(int frame, DeliveredFrame picture) {
  offeredFrame_ = picture.image.empty() ? -1 : frame;
  offered_ = std::move(picture);
}

bool Timeline::StillCurrent(int frame, const DeliveredFrame& picture) const {
  return kind_ != TimelineKind::kStillList || StampOf(stillNames_[frame]) == picture.still;
}

// Delivers the picture offered for `frame`, if any; the offer is gone afterwards.
bool Timeline::TakeOffered(int frame) {
  const bool taken = offeredFrame_ == frame && StillCurrent(frame, offered_);
  if (taken) {
    frame_ = offered_.image;
    frameSerial_ = offered_.serial;
    frameStill_ = offered_.still;
  }
  offeredFrame_ = -1;
  offered_ = {};
  return taken;
}

void Timeline::Deliver(cv::Mat image, FileStamp still) {
  frame_ = std::move(image);
  frameSerial_ = ++*lastSerial_;
  frameStill_ = still;
}

// Movies whose frames end before their header says (a truncated file, a header that counts wrong): the first
// frame that can't be read ends the movie for this session, and the move lands on the last readable frame, as a
// jump past the end would. Such a file has lost its index with its end, and a seek without one may decode a frame
// from the wrong reference frames: from here on its frames are reached by decoding forward.
void Timeline::EndMovieAt(int firstUnreadable) {
  if (firstUnreadable < 1) {
    throw FatalError(ErrorLine("cannot read frame " + std::to_string(firstUnreadable) + " of movie " + moviePath_));
  }
  std::fprintf(stderr, "%s: frame %d of %s can't be read; the movie ends at frame %d for this session\n",
               ProgramName().c_str(), firstUnreadable, moviePath_.c_str(), firstUnreadable - 1);
  frameCount_ = firstUnreadable;
  currentFrame_ = std::min(currentFrame_, frameCount_ - 1);
  seekable_ = false;
  leftFrame_ = -1;  // it may have come from a seek: looking back decodes it again
  left_ = {};
}

void Timeline::LoadStill() {
  DeliveredFrame still = ReadStill(currentFrame_);
  Deliver(std::move(still.image), still.still);
}

DeliveredFrame Timeline::ReadStill(int frame) {
  const std::string& name = stillNames_[frame];
  const FileStamp stamp = StampOf(name);
  const std::string notAFile = NotARegularFile(name);
  cv::Mat image;
  if (notAFile.empty()) image = cv::imread(name, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
  if (image.empty()) {
    throw FatalError(ErrorLine("cannot load still image " + name + " (frame " + std::to_string(frame) +
                               ") of still list " + stillListPath_ + (notAFile.empty() ? "" : ": it " + notAFile)));
  }
  if (width_ != 0 && (image.cols != width_ || image.rows != height_)) {
    throw FatalError(ErrorLine("still image " + name + " (frame " + std::to_string(frame) + ") is " +
                               SizeText(image.cols, image.rows) + " but the first frame is " +
                               SizeText(width_, height_)));
  }
  return {image, 0, stamp};
}

}  // namespace labeler
