// AssistPreparation: everything label assist builds for one frame before its first completion, and what it was
// built from, so that the labeller's worker can build it for a neighbouring frame and the foreground can tell
// whether what the worker built is exactly what it would build itself.
//
// A frame's assist rests on its picture, the regions of the chosen presegmentation, the pyramid regions at the
// start thresholds, and the label images of the frames just before and after it (their colours mapped to the
// labels', see LabelColours), carried along the flow (see CarryFromNeighbours). The preparation notes each of
// these: the picture by serial, the chosen regions by the shared map itself (never changed once made), each
// neighbour's label image by the file's stamp when it was read from the label folder, or by content when it is
// the image the frame left last was saved with, and the neighbour's picture its labels were carried from (as
// Timeline::StillCurrent checks it). It may also hold the first completion, of the frame's stored
// label image. BuildLabelAssist and CompleteWith are the one way both threads build it; they print nothing, and
// say how many pixels of colours that are no label's each label image held, for the foreground to say once per
// frame.
#ifndef LABELER_ANNOTATION_ASSIST_PREPARATION_H_
#define LABELER_ANNOTATION_ASSIST_PREPARATION_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <stop_token>
#include <string>
#include <vector>

#include "annotation/proposal_folder.h"
#include "assist/label_assist.h"
#include "assist/label_colours.h"
#include "common/files.h"
#include "preseg/preseg_engine.h"
#include "preseg/region_map.h"
#include "propagation/label_carrier.h"
#include "timeline/timeline.h"

namespace labeler {

// The label image of a neighbouring frame as the assist used it.
struct NeighbourLabels {
  int frame = -1;
  bool read = false;  // read from the label folder (`stamp` says which version), not handed over as known
  FileStamp stamp;
  cv::Mat labels;  // as stored, colours not mapped; empty when the frame has none that can be used
  int strayPixels = 0;  // of colours that are no label's
  DeliveredFrame picture;  // the frame's picture the labels were carried from, when they were
};

// The label image of `frame` in `labelDir` for a frame of `frameSize`: `known` when it is given (the image the
// frame left last is stored with, see LabelFile::SavedOnLeaving), else read from the folder.
NeighbourLabels ReadNeighbourLabels(const std::string& labelDir, int frame, cv::Size frameSize,
                                    const cv::Mat& known);

// Whether `used` is what ReadNeighbourLabels would give now, with `known` as the foreground knows it, without
// decoding anything.
bool StillTheSame(const NeighbourLabels& used, const std::string& labelDir, const cv::Mat& known);

struct AssistPreparation {
  uint64_t pictureSerial = 0;
  std::shared_ptr<const RegionMap> chosen;  // the regions of the chosen presegmentation, or none
  std::vector<NeighbourLabels> neighbours;  // the frame before, then the frame after, those within the clip
  Proposal proposal;  // the frame's own proposal as read (its labels dropped once built in), with a proposal folder
  std::shared_ptr<LabelAssist> assist;

  // The first completion, when made: of `stored` where `storedPainted` marks.
  cv::Mat stored;
  cv::Mat storedPainted;
  int storedStrayPixels = 0;
  LabelAssist::Completion first;
};

// Builds the assist of `picture` (8-bit colour) from `chosen` (may be null), `neighbours` with their
// pictures (`neighbourPictures`, same order; a neighbour without labels or picture gives no evidence) and the
// frame's `proposal` (label colours; may be empty, see AddProposedLabels). `pyramid` and `carrier` are the
// caller's, for their buffers. Throws std::exception when it can't be built, Cancelled
// (between its stages) once `stop` is requested.
std::shared_ptr<LabelAssist> BuildLabelAssist(const cv::Mat& picture, const RegionMap* chosen,
                                              std::vector<NeighbourLabels>& neighbours,
                                              const std::vector<cv::Mat>& neighbourPictures,
                                              const cv::Mat& proposal, const LabelColours& colours,
                                              PresegEngine& pyramid,
                                              LabelCarrier& carrier, const std::stop_token& stop = {});

// A completion by `assist`: `labels` where `painted` marks, completed, the painted pixels keeping
// their colour (see LabelCompleter::Complete). Returns the pixels of colours that are no label's among the
// painted ones.
int CompleteWith(LabelAssist& assist, const LabelColours& colours, const cv::Mat& labels, const cv::Mat& painted,
                 LabelAssist::Completion& completion);

}  // namespace labeler

#endif  // LABELER_ANNOTATION_ASSIST_PREPARATION_H_
