// ProposalFolder: the folder of proposals the meta file names (DIR_PROPOSAL_IMGS), masks made elsewhere (a
// segmentation model's predictions) that the labeller offers for their frames: laid over the frame on a key, as
// carried labels are, and, with label assist on, evidence for the completion.
//
// A proposal is the mask `frame-NNNNNN.png` of its frame, read as LabelMasks reads masks: a colour mask in the
// label colours or, when the folder holds a classes.csv, an index mask numbered as that file says. A frame
// without a mask simply has no proposal. Made by the labeller (and `labeler-tool assist`) from the meta file and
// shared with the worker: immutable once made, safe to use from several threads.
#ifndef LABELER_ANNOTATION_PROPOSAL_FOLDER_H_
#define LABELER_ANNOTATION_PROPOSAL_FOLDER_H_

#include <opencv2/core.hpp>
#include <string>

#include "annotation/label_masks.h"
#include "common/files.h"
#include "config/label_set.h"

namespace labeler {

// One frame's proposal as read.
struct Proposal {
  FileStamp stamp;        // of the mask when it was read; `exists` false when the frame has none
  cv::Mat labels;         // label colours and black; empty when there is none or it can't be used
  long long unknown = 0;  // pixels of colours or numbers no label has, left unlabelled
  std::string problem;    // why a mask that is there can't be used, else empty
};

class ProposalFolder {
 public:
  // Throws FatalError when `dir`'s classes.csv is there but can't be read.
  ProposalFolder(std::string dir, const LabelSet& labels);

  const std::string& dir() const { return dir_; }
  // The proposal of `frame`, whose frames are `frameSize`.
  Proposal Read(int frame, cv::Size frameSize) const;
  // Whether `used`, the proposal of `frame` read earlier, is what Read would give now, judged by the file's stamp.
  bool StillTheSame(const Proposal& used, int frame) const;

 private:
  std::string dir_;
  MaskReader reader_;
};

}  // namespace labeler

#endif  // LABELER_ANNOTATION_PROPOSAL_FOLDER_H_
