// Timeline: the frames to be labelled, from a movie or from a list of still images.
//
// The kind is decided from the name: a name containing ".avi" is a movie (read with OpenCV's videoio), else a
// name containing ".txt" is a still list (one image file name per line). The timeline owns the current frame
// image, always 8-bit BGR with the first row at the top and of the first frame's size. Every input error throws
// FatalError.
#ifndef LABELER_TIMELINE_TIMELINE_H_
#define LABELER_TIMELINE_TIMELINE_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <vector>

#include "common/files.h"

namespace labeler {

enum class TimelineKind { kMovie = 1, kStillList = 2 };

// A picture the timeline delivered, with its serial number: each picture decoded or loaded in a run gets a new
// one, so a serial names exactly one picture, unlike its data address, which a later picture may reuse.
struct DeliveredFrame {
  cv::Mat image;        // empty when the frame can't be read
  uint64_t serial = 0;  // 0 with an empty image
  FileStamp still;      // a still's file as it was before it was read; nothing for a movie frame
};

class Timeline {
 public:
  // Decides the kind from `path`; opens nothing. A still list is announced on standard output.
  explicit Timeline(const std::string& path);

  // Opens the input, learns frame size and count, and fetches the current frame.
  void ReloadMovie();

  // Moves by `delta` frames, clamped to the timeline, and returns the frame reached; a move that throws leaves
  // the timeline on the frame it was on. A movie prints "Frame #%d\n". A move that can't go anywhere still
  // fetches the frame. When a movie frame on the way can't be read, the movie ends before it for the rest of the
  // session (said once on standard error) and the move lands on the last readable frame.
  const cv::Mat& GoToRelativeFrame(int delta);
  const cv::Mat& GoToFrame(int frame) { return GoToRelativeFrame(frame - currentFrame_); }

  // Frame `frame` without moving to it: the current frame, the frame just left (kept in memory, so that looking
  // back after a step decodes nothing), or one decoded anew. Empty when it can't be read: a reader's error here
  // is not the end of the session.
  DeliveredFrame FrameAt(int frame);

  // The frame just left when it is `frame`, as FrameAt gives it; else empty, without reading anything.
  DeliveredFrame KeptFrame(int frame) const { return frame == leftFrame_ ? left_ : DeliveredFrame{}; }

  // A second reader of the same frames, for another thread: it opens its own decoder, numbers its pictures
  // from the same serials as this timeline (so a serial still names one picture) and announces nothing. Only
  // FrameAt and LimitTo are meant for it; it shares no state with this timeline but the serial counter.
  std::unique_ptr<Timeline> Companion() const;
  // What this timeline's origin has learned since: the movie ends before `frameCount`, or its seeks are not
  // exact.
  void LimitTo(int frameCount, bool seekable);

  // Called while a movie is read forward to a far frame (a frame of a long group of pictures, or of a movie
  // without exact seeks) once that has taken half a second, then every tenth of a second, with the frame reached
  // and the frame wanted. Returning false abandons the read, for a companion only: FrameAt then gives nothing
  // (a move would take the frame for the movie's end).
  void SetReadingProgress(std::function<bool(int reached, int wanted)> progress) { progress_ = std::move(progress); }

  // Whether `picture` of `frame` is what reading the frame now gives: always for a movie frame, for a still while
  // its file is unchanged since the picture was read.
  bool StillCurrent(int frame, const DeliveredFrame& picture) const;

  // A picture of `frame` read elsewhere (by a companion) or kept: the next move that lands on `frame` delivers
  // it, serial and all, instead of reading the frame again, unless it is a still whose file has changed since.
  // The next move forgets it either way; OfferPicture(-1, {}) withdraws it.
  void OfferPicture(int frame, DeliveredFrame picture);

  TimelineKind kind() const { return kind_; }
  int width() const { return width_; }
  int height() const { return height_; }
  int frameCount() const { return frameCount_; }
  int currentFrame() const { return currentFrame_; }
  const cv::Mat& frame() const { return frame_; }
  // The serial of frame(): it changes whenever frame() is a new picture, a still reloaded included.
  uint64_t frameSerial() const { return frameSerial_; }
  // frame() as FrameAt gives it.
  DeliveredFrame delivered() const { return {frame_, frameSerial_, frameStill_}; }
  const std::vector<std::string>& stillNames() const { return stillNames_; }
  bool seekable() const { return seekable_; }

 private:
  explicit Timeline(TimelineKind kind);  // a companion's start
  void OpenMovie();
  void OpenStillList();
  bool FetchMovieFrame();
  bool DecodeMovieFrame(int frame, cv::Mat& image);
  void LoadStill();
  DeliveredFrame ReadStill(int frame);
  bool SeekTo(int frame);
  bool ReadSequentiallyTo(int frame);
  bool ReadNextMovieFrame(int frame, cv::Mat& image);
  void EndMovieAt(int firstUnreadable);
  void Deliver(cv::Mat image, FileStamp still = {});  // a new picture, under a new serial
  bool TakeOffered(int frame);

  TimelineKind kind_;
  std::string moviePath_;
  std::string stillListPath_;
  int width_ = 0;
  int height_ = 0;
  int frameCount_ = 0;
  int currentFrame_ = 0;
  cv::VideoCapture capture_;
  int nextMovieFrame_ = 0;  // the frame the capture delivers at its next read
  int decodedFrame_ = -1;   // the movie frame held in frame_, -1 for none
  int firstUnreadable_ = 0;  // after a failed fetch: the movie can't be read from this frame on
  // False for a movie without a usable index, whose seeks are not exact: one whose frames had to be counted, one
  // cut short, or one found to end early. Its frames are reached by decoding forward from a frame known to be exact.
  bool seekable_ = true;
  std::vector<std::string> stillNames_;
  cv::Mat frame_;
  uint64_t frameSerial_ = 0;
  FileStamp frameStill_;  // the stamp of frame_'s file, for a still
  std::shared_ptr<std::atomic<uint64_t>> lastSerial_ = std::make_shared<std::atomic<uint64_t>>(0);
  std::function<bool(int, int)> progress_;
  int offeredFrame_ = -1;  // the frame `offered_` shows, -1 for none
  DeliveredFrame offered_;
  int leftFrame_ = -1;  // the frame moved away from last, kept in `left_`
  DeliveredFrame left_;
};

// Reads a still list: one name per line, line ends of one ("\n") or two ("\r\n") characters; lines shorter
// than 3 characters counting their line end are skipped; names keep their blanks. Throws FatalError when the
// file can't be opened.
std::vector<std::string> ReadStillList(const std::string& path);

// The number of frames of the timeline `path` names: the frame count a movie reports (counted by decoding only
// when the header says nothing usable, which is said on standard error), or the names of a still list. Throws
// FatalError when the timeline can't be opened.
int CountTimelineFrames(const std::string& path);

}  // namespace labeler

#endif  // LABELER_TIMELINE_TIMELINE_H_
