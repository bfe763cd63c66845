#include "annotation/label_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>

#include "annotation/label_image_file.h"
#include "annotation/painted_record.h"
#include "common/fatal_error.h"

namespace labeler {
namespace {

// A stored label image that can't even be read (its header claims more memory than there is, say) is an unusable
// label image like any other, not the end of the session.
bool ReadInto(const std::string& path, cv::Size frameSize, cv::Mat& loaded, std::string& failure) {
  try {
    loaded = ReadStoredLabelImage(path, frameSize);
    return true;
  } catch (const std::exception& error) {
    failure = error.what();
    return false;
  }
}

// Why the label image at `path` can't be used for a frame of `frameSize`, or "" with `loaded` holding it.
std::string ProblemWith(const std::string& path, cv::Size frameSize, cv::Mat& loaded) {
  std::string problem = NotARegularFile(path);
  if (!problem.empty()) return problem + ", not an image file";
  if (!ReadInto(path, frameSize, loaded, problem)) return "can't be read: " + problem;
  if (loaded.empty()) return "can't be decoded as an image";
  if (loaded.size() != frameSize) {
    return "is " + std::to_string(loaded.cols) + " x " + std::to_string(loaded.rows) + " but the frame is " +
           std::to_string(frameSize.width) + " x " + std::to_string(frameSize.height);
  }
  return "";
}

}  // namespace

bool SamePicture(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

std::string LabelImagePath(const std::string& dir, int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%.6d.png", frame);
  return dir + name;
}

LabelFile::LabelFile(std::string labelDir) : labelDir_(std::move(labelDir)) {}

void LabelFile::Clear(cv::Size frameSize) {
  stored_ = cv::Mat::zeros(frameSize, CV_8UC3);
  storedPainted_ = cv::Mat::zeros(frameSize, CV_8UC1);
}

cv::Mat ReadStoredLabels(const std::string& labelDir, int frame, cv::Size frameSize, cv::Mat& painted) {
  cv::Mat labels(frameSize, CV_8UC3, cv::Scalar::all(0));
  const std::string path = LabelImagePath(labelDir, frame);
  std::error_code error;
  cv::Mat loaded;
  if (std::filesystem::exists(path, error) && ProblemWith(path, frameSize, loaded).empty()) labels = loaded;
  painted = PaintedPixels(labelDir, frame, labels);
  return labels;
}

void LabelFile::Load(int frame, cv::Size frameSize) {
  const std::string path = LabelImagePath(labelDir_, frame);
  loaded_ = {frame, StampOf(path)};
  storedStamp_ = loaded_.stamp;
  if (frame != unusableFrame_) unusableFrame_ = -1;
  stored_ = cv::Mat(frameSize, CV_8UC3, cv::Scalar::all(0));  // a new buffer: the frame left may keep the old one
  std::error_code error;
  if (std::filesystem::exists(path, error)) {
    cv::Mat loaded;
    const std::string problem = ProblemWith(path, frameSize, loaded);
    if (problem.empty()) {
      stored_ = loaded;
    } else {
      if (frame != unusableFrame_) {
        std::fprintf(stderr,
                     "%s: warning: label image %s %s; frame %d starts black, and the file will be kept as "
                     "%s.bak before it is replaced\n",
                     ProgramName().c_str(), path.c_str(), problem.c_str(), frame, path.c_str());
      }
      unusableFrame_ = frame;
      unusablePath_ = path;
    }
  }
  storedPainted_ = PaintedPixels(labelDir_, frame, stored_);
}

bool LabelFile::KeepUnusableFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return true;
  std::string backup = path + ".bak";
  for (int n = 1; std::filesystem::exists(backup, error); ++n) backup = path + ".bak" + std::to_string(n);
  if (std::rename(path.c_str(), backup.c_str()) != 0) {
    std::fprintf(stderr, "%s: error: cannot keep %s as %s: %s; the frame is not left\n", ProgramName().c_str(),
                 path.c_str(), backup.c_str(), std::strerror(errno));
    notices_.push_back({"cannot keep " + path + " as " + backup + ": frame not left"});
    return false;
  }
  std::fprintf(stderr, "%s: kept the unusable label image as %s\n", ProgramName().c_str(), backup.c_str());
  return true;
}

cv::Mat LabelFile::SavedOnLeaving(int frame) const {
  if (frame != leftFrame_ || StampOf(LabelImagePath(labelDir_, frame)) != leftStamp_) return {};
  return leftLabels_;
}

// A frame left without saving keeps the label image its file held when it was loaded intact.
void LabelFile::LeaveUnsaved(int frame) {
  leftFrame_ = -1;
  if (loaded_.frame != frame || !loaded_.stamp.exists || loaded_.stamp != storedStamp_ || frame == unusableFrame_) {
    return;
  }
  leftFrame_ = frame;
  leftLabels_ = stored_;
  leftStamp_ = loaded_.stamp;
}

bool LabelFile::Save(int frame, const cv::Mat& labels, const cv::Mat& painted) {
  const std::string path = LabelImagePath(labelDir_, frame);
  // The unusable file is kept only while it is still the one loaded: a version another labeller saved over it
  // since is theirs, and this one goes beside it.
  if (frame == unusableFrame_ && StampOf(unusablePath_) == loaded_.stamp && !KeepUnusableFile(unusablePath_)) {
    return false;
  }
  if (frame == unusableFrame_) unusableFrame_ = -1;
  std::vector<uchar> png;
  try {
    if (!cv::imencode(".png", labels, png)) png.clear();
  } catch (const cv::Exception&) {
    png.clear();
  }
  if (png.empty()) {
    Fail(path, "PNG encoding failed");
    return false;
  }
  const FileStamp expected = frame == loaded_.frame ? loaded_.stamp : StampOf(path);
  std::string reason;
  FileStamp published;
  switch (PublishIfUnchanged(path, png, expected, reason, &published)) {
    case Publication::kFailed: Fail(path, reason); return false;
    case Publication::kChangedMeanwhile:
      // The same picture saved by another labeller stands, with the record it wrote.
      if (!OnDiskAlready(path, labels, published)) return SaveBeside(frame, path, png);
      break;
    case Publication::kPublished: SaveRecord(frame, labels, painted); break;
  }
  loaded_ = {frame, published};
  leftFrame_ = frame;
  leftLabels_ = labels.clone();
  leftStamp_ = loaded_.stamp;
  return true;
}

// Another labeller saved exactly this picture since it was loaded: there is nothing to put beside it. `stamp`
// becomes that file's.
bool LabelFile::OnDiskAlready(const std::string& path, const cv::Mat& labels, FileStamp& stamp) const {
  stamp = StampOf(path);
  cv::Mat onDisk;
  std::string ignored;
  return ReadInto(path, labels.size(), onDisk, ignored) && SamePicture(onDisk, labels) && StampOf(path) == stamp;
}

// The record follows its label image: should the record fail to be written, or the save be cut between the two,
// the record's digest no longer matches and the frame counts as painted wherever it is labelled. A frame whose
// painted pixels are its labelled ones needs no record, and any older one is removed.
void LabelFile::SaveRecord(int frame, const cv::Mat& labels, const cv::Mat& painted) {
  const std::string path = PaintedRecordPath(labelDir_, frame);
  std::error_code error;
  if (!NeedsPaintedRecord(painted, labels)) {
    std::filesystem::remove(path, error);
    return;
  }
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  std::vector<uchar> png;
  std::string reason = EncodePaintedRecord(painted, labels, png) ? WriteFileAtomically(path, png)
                                                                  : "PNG encoding failed";
  if (reason.empty()) return;
  std::fprintf(stderr,
               "%s: warning: cannot save the record of painted pixels %s: %s; frame %d will count as painted "
               "wherever it is labelled\n",
               ProgramName().c_str(), path.c_str(), reason.c_str(), frame);
  notices_.push_back({"record of painted pixels not saved: " + reason});
}

// Neither version is lost: this labeller's goes beside the other's as "frame-NNNNNN.conflict-N.png", the first
// N free, taken so that two labellers never take the same one.
bool LabelFile::SaveBeside(int frame, const std::string& path, const std::vector<unsigned char>& png) {
  const std::string stem = path.substr(0, path.size() - 4);
  for (int n = 1;; ++n) {
    const std::string beside = stem + ".conflict-" + std::to_string(n) + ".png";
    std::string reason;
    switch (PublishIfUnchanged(beside, png, FileStamp{}, reason)) {
      case Publication::kFailed: Fail(beside, reason); return false;
      case Publication::kChangedMeanwhile: continue;
      case Publication::kPublished: break;
    }
    leftFrame_ = -1;  // the frame's file is the other's: carrying from it reads that
    std::fprintf(stderr,
                 "%s: warning: label image %s changed on disk since frame %d was loaded (another labeller?); "
                 "this labeller's version is saved as %s\n",
                 ProgramName().c_str(), path.c_str(), frame, beside.c_str());
    notices_.push_back({"Frame " + std::to_string(frame) + " was saved by another labeller meanwhile: this version "
                        "is saved beside it as " + std::filesystem::path(beside).filename().string() + ".",
                        true});
    return true;
  }
}

void LabelFile::Fail(const std::string& path, const std::string& reason) {
  std::fprintf(stderr,
               "%s: error: cannot save label image %s: %s; the frame is not left, fix the cause and press the "
               "key again\n",
               ProgramName().c_str(), path.c_str(), reason.c_str());
  notices_.push_back({"not saved: " + reason});
}

std::vector<FileNotice> LabelFile::TakeNotices() {
  std::vector<FileNotice> taken;
  taken.swap(notices_);
  return taken;
}

}  // namespace labeler
