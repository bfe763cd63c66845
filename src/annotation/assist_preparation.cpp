#include "annotation/assist_preparation.h"

#include <opencv2/imgproc.hpp>

#include "annotation/label_file.h"
#include "annotation/label_image_file.h"
#include "assist/carried_evidence.h"
#include "common/cancellation.h"
#include "common/random.h"

namespace labeler {

// A file that changes while it is read is not known by its stamp: only its content can match.
NeighbourLabels ReadNeighbourLabels(const std::string& labelDir, int frame, cv::Size frameSize,
                                    const cv::Mat& known) {
  NeighbourLabels neighbour;
  neighbour.frame = frame;
  if (!known.empty()) {
    neighbour.labels = known;
    return neighbour;
  }
  const std::string path = LabelImagePath(labelDir, frame);
  neighbour.stamp = StampOf(path);
  if (neighbour.stamp.exists) {
    try {
      cv::Mat labels = ReadStoredLabelImage(path, frameSize);
      if (labels.size() == frameSize) neighbour.labels = labels;
    } catch (const std::exception&) {
      // A label image that can't be read is no evidence; the labeller reports it when its frame is entered.
    }
  }
  neighbour.read = StampOf(path) == neighbour.stamp;
  return neighbour;
}

bool StillTheSame(const NeighbourLabels& used, const std::string& labelDir, const cv::Mat& known) {
  if (!known.empty()) return !used.labels.empty() && SamePicture(used.labels, known);
  return used.read && used.stamp == StampOf(LabelImagePath(labelDir, used.frame));
}

namespace {

// Thresholds of the finer pyramid regions that cut the cells label assist is unsure of: half the start ones.
constexpr int kFinerPyrSeg1 = kStartPyrSeg1 / 2;
constexpr int kFinerPyrSeg2 = kStartPyrSeg2 / 2;

// The pyramid regions at the start thresholds, whatever the chosen setting: fine cells along the frame's edges;
// or at other thresholds.
cv::Mat PyramidRegions(const cv::Mat& picture, PresegEngine& pyramid, const std::stop_token& stop,
                       int pyrSeg1 = kStartPyrSeg1, int pyrSeg2 = kStartPyrSeg2) {
  PresegParams params;
  params.algorithm = kPyramidPreseg;
  params.pyrSeg1 = pyrSeg1;
  params.pyrSeg2 = pyrSeg2;
  Random unused;  // the pyramid draws nothing from the sequence
  const PreparedSegmentation segmented = pyramid.Segment(picture, params, unused, stop);
  return RegionMap(segmented.colour).ids();
}

CarriedLabels CarriedFrom(const cv::Mat& picture, std::vector<NeighbourLabels>& neighbours,
                          const std::vector<cv::Mat>& neighbourPictures, const LabelColours& colours,
                          LabelCarrier& carrier) {
  cv::Mat grey;
  cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
  std::vector<LabelledNeighbour> labelled;
  for (size_t i = 0; i < neighbours.size(); ++i) {
    if (neighbours[i].labels.empty() || neighbourPictures[i].empty()) continue;
    LabelledNeighbour neighbour{cv::Mat(), neighbours[i].labels.clone(), neighbourPictures[i]};
    cv::Mat all(neighbour.labels.size(), CV_8UC1, cv::Scalar(255));
    neighbours[i].strayPixels = colours.Map(neighbour.labels, all);
    cv::cvtColor(neighbourPictures[i], neighbour.grey, cv::COLOR_BGR2GRAY);
    labelled.push_back(std::move(neighbour));
  }
  if (labelled.empty()) return {};
  return CarryFromNeighbours(grey, labelled, carrier, picture);
}

}  // namespace

std::shared_ptr<LabelAssist> BuildLabelAssist(const cv::Mat& picture, const RegionMap* chosen,
                                              std::vector<NeighbourLabels>& neighbours,
                                              const std::vector<cv::Mat>& neighbourPictures,
                                              const cv::Mat& proposal, const LabelColours& colours,
                                              PresegEngine& pyramid,
                                              LabelCarrier& carrier, const std::stop_token& stop) {
  AssistInputs inputs{picture, {}, {}};
  if (chosen != nullptr) inputs.partitions.push_back(chosen->ids());
  inputs.partitions.push_back(PyramidRegions(picture, pyramid, stop));
  inputs.finer = PyramidRegions(picture, pyramid, stop, kFinerPyrSeg1, kFinerPyrSeg2);
  if (CanCarry(picture.size())) inputs.carried = CarriedFrom(picture, neighbours, neighbourPictures, colours, carrier);
  if (!proposal.empty()) AddProposedLabels(inputs.carried, proposal);
  ThrowIfCancelled(stop);
  return std::make_shared<LabelAssist>(inputs);
}

int CompleteWith(LabelAssist& assist, const LabelColours& colours, const cv::Mat& labels, const cv::Mat& painted,
                 LabelAssist::Completion& completion) {
  cv::Mat mapped = labels.clone();
  cv::Mat evidence = painted.clone();
  const int stray = colours.Map(mapped, evidence);
  completion = assist.Complete(mapped, evidence);
  labels.copyTo(completion.labels, painted);  // what is painted keeps its colour, whatever it means
  return stray;
}

}  // namespace labeler
