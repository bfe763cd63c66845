// Masks made elsewhere read as label images: a segmentation model's predictions, another tool's masks, or this
// tool's own index export. Used by `labeler-tool import`, which stores them as label images, and by the
// labeller's proposals (see ProposalFolder), which offers them for the annotator to take.
//
// A colour mask is read as the labeller reads label images made elsewhere (see ReadStoredLabelImage) and keeps
// the label colours and black. An index mask is an 8-bit, one-channel PNG whose pixels are numbers, each
// standing for a label (as an export's classes.csv numbers them) or for none; 255 is always unlabelled. Pixels of
// colours or numbers no label has become unlabelled, and are counted. A mask must be of its frame's size.
#ifndef LABELER_ANNOTATION_LABEL_MASKS_H_
#define LABELER_ANNOTATION_LABEL_MASKS_H_

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "config/colour_index.h"
#include "config/label_set.h"

namespace labeler {

// What each number of an index mask stands for: a label index, or -1 for none.
using MaskNumbering = std::vector<int>;

// The numbering a classes.csv file gives ("index,name,..." after a heading line, as `export` writes it): each
// number stands for the label of that name, so that masks of a model trained on labels in another order still
// mean the right labels. A name no label has stands for none. Throws FatalError naming the file and the line
// when it can't be read or a line is not "index,name,...".
MaskNumbering NumberingOfClassesCsv(const std::string& path, const LabelSet& labels);

// The classes.csv of the mask folder `dir`, or "" when it has none.
std::string ClassesCsvIn(const std::string& dir);

// The numbering of the index masks in `dir`: its classes.csv's when it has one (see NumberingOfClassesCsv), else
// by position. Throws FatalError as NumberingOfClassesCsv does.
MaskNumbering NumberingOfMaskFolder(const std::string& dir, const LabelSet& labels);

// What one mask file gives.
struct MaskRead {
  cv::Mat labels;         // 8-bit colour, label colours and black; empty when the file can't be used
  long long unknown = 0;  // pixels of colours or numbers no label has, left unlabelled
  std::string problem;    // why the file can't be used ("is 10 x 5, frame 2 is 10 x 4"), else empty
};

// Reads masks of one kind for one label set. Immutable once made: safe to share between threads.
class MaskReader {
 public:
  // Colour masks.
  explicit MaskReader(const LabelSet& labels);
  // Index masks numbered as `numbering` says.
  MaskReader(const LabelSet& labels, MaskNumbering numbering);

  bool index() const { return index_; }
  // The mask at `path` as the label image of `frame`, whose frames are `frameSize`.
  MaskRead Read(const std::string& path, int frame, cv::Size frameSize) const;

 private:
  cv::Mat FromIndices(const cv::Mat& mask, long long& unknown) const;
  cv::Mat FromColours(const cv::Mat& mask, long long& unknown) const;

  bool index_ = false;
  std::vector<cv::Vec3b> colourOfNumber_;  // 256 entries for index masks; black where no label
  std::vector<bool> numberKnown_;          // a label's number or 255
  ColourIndex colours_;
};

}  // namespace labeler

#endif  // LABELER_ANNOTATION_LABEL_MASKS_H_
