// LabelFile: the stored label image of the frame in hand, as the labeller loads and saves it.
//
// A frame's label image is "<dir>/frame-%.6d.png" and, beside it, the record of which of its pixels were painted
// by hand (see painted_record.h). LabelFile loads both when a frame is entered and keeps them as they were
// loaded, the base that undo, redo and clear rebuild on. A save publishes the new label image only while the
// file is still the version loaded: a version another labeller on the folder saved in between is kept, and this
// one goes beside it as "frame-NNNNNN.conflict-N.png" (a save identical to the file on disk writes nothing). A
// stored image that can't be used starts the frame black and is kept as "<name>.bak" before a save replaces it.
// What went wrong or beside is said on standard error and kept as a notice for the windows. LabelFile also
// remembers the label image of the frame left last, so carrying labels from it needs no decoding. Owned by
// LabelImages; not thread-safe.
#ifndef LABELER_ANNOTATION_LABEL_FILE_H_
#define LABELER_ANNOTATION_LABEL_FILE_H_

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "common/files.h"

namespace labeler {

// "<dir>/frame-%.6d.png".
std::string LabelImagePath(const std::string& dir, int frame);

// Whether two pictures have the same size, type and pixels.
bool SamePicture(const cv::Mat& a, const cv::Mat& b);

// The label image of `frame` as LabelFile::Load finds it, saying nothing (black when there is none or it can't be
// used), and its painted pixels in `painted`.
cv::Mat ReadStoredLabels(const std::string& labelDir, int frame, cv::Size frameSize, cv::Mat& painted);

// Something the annotator must hear of, not only read on a console nobody may be watching.
struct FileNotice {
  std::string text;
  bool mustDismiss = false;  // a version went beside: shown in a message box, not only on the status line
};

class LabelFile {
 public:
  explicit LabelFile(std::string labelDir);

  // No frame loaded yet: stored() is black and nothing is painted, for frames of `frameSize`.
  void Clear(cv::Size frameSize);
  // Loads the label image of `frame` and its painted pixels: stored() becomes that image (8-bit colour of
  // `frameSize`, black when there is none or it can't be used, which is reported once) and storedPainted() its
  // painted pixels (255).
  void Load(int frame, cv::Size frameSize);
  const cv::Mat& stored() const { return stored_; }
  const cv::Mat& storedPainted() const { return storedPainted_; }
  // Whether stored() was read from the frame's file.
  bool hasFile() const { return loaded_.stamp.exists && loaded_.frame != unusableFrame_; }

  // Writes `labels` (8-bit colour) as the label image of `frame`, the frame loaded last, with `painted` (8-bit,
  // 255 painted by hand) as its record. Returns false, after saying why, when nothing could be written; a version
  // saved beside the one on disk is a success.
  bool Save(int frame, const cv::Mat& labels, const cv::Mat& painted);

  // `frame` is left without a save: its label image stays the one loaded.
  void LeaveUnsaved(int frame);

  // The label image of `frame` as its file holds it, when that is the frame left last (saved on leaving, or
  // loaded intact and left unchanged) and the file has not changed since; else empty.
  cv::Mat SavedOnLeaving(int frame) const;

  // The notices since the last call, oldest first.
  std::vector<FileNotice> TakeNotices();

 private:
  bool KeepUnusableFile(const std::string& path);
  bool SaveBeside(int frame, const std::string& path, const std::vector<unsigned char>& png);
  bool OnDiskAlready(const std::string& path, const cv::Mat& labels, FileStamp& stamp) const;
  void SaveRecord(int frame, const cv::Mat& labels, const cv::Mat& painted);
  void Fail(const std::string& path, const std::string& reason);

  std::string labelDir_;
  cv::Mat stored_;
  cv::Mat storedPainted_;
  // The stored label image as this labeller last loaded or saved it: a save finding it changed since (another
  // labeller wrote it) goes beside it instead of over it.
  struct LoadedFile {
    int frame = -1;
    FileStamp stamp;
  };
  LoadedFile loaded_;
  FileStamp storedStamp_;     // the stamp of the file stored_ was loaded from
  int leftFrame_ = -1;        // the frame left last, when its file's label image is known
  cv::Mat leftLabels_;        // ... that label image
  FileStamp leftStamp_;       // ... and the stamp its file had then
  int unusableFrame_ = -1;    // the frame whose stored label image could not be used
  std::string unusablePath_;  // ... and its file, kept as .bak before the first save replaces it
  std::vector<FileNotice> notices_;
};

}  // namespace labeler

#endif  // LABELER_ANNOTATION_LABEL_FILE_H_
