#include "annotation/frame_assistant.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "common/fatal_error.h"

namespace labeler {

LabelColours LabelColoursOf(const LabelSet& labels) {
  std::vector<cv::Vec3b> colours;
  for (const LabelInfo& label : labels) {
    colours.emplace_back(cv::saturate_cast<uchar>(label.blue), cv::saturate_cast<uchar>(label.green),
                         cv::saturate_cast<uchar>(label.red));
  }
  return LabelColours(std::move(colours));
}

FrameAssistant::FrameAssistant(Timeline& timeline, PresegEngine& preseg, const LabelSet& labels,
                               std::string labelDir, const LabelFile* file)
    : timeline_(timeline),
      preseg_(preseg),
      labelDir_(std::move(labelDir)),
      file_(file),
      colours_(LabelColoursOf(labels)) {}

cv::Mat FrameAssistant::Complete(const cv::Mat& labels, const cv::Mat& painted) {
  confidence_.release();
  // The presegmentation engine may still hold the frame before's: the completion rests on this frame's.
  preseg_.UpdatePresegmentation(timeline_.frame(), timeline_.currentFrame(), 0);
  if (Outdated() || ProposalChanged()) Prepare();
  if (preparation_ == nullptr) throw std::runtime_error("the frame could not be prepared for label assist");
  LabelAssist::Completion completion;
  const AssistPreparation& prepared = *preparation_;
  if (!prepared.first.labels.empty() && SamePicture(labels, prepared.stored) &&
      SamePicture(painted, prepared.storedPainted)) {
    completion = prepared.first;
    WarnOfStrayColours(timeline_.currentFrame(), prepared.storedStrayPixels);
  } else {
    WarnOfStrayColours(timeline_.currentFrame(), CompleteWith(*prepared.assist, colours_, labels, painted, completion));
  }
  confidence_ = completion.confidence;
  return completion.labels;
}

void FrameAssistant::WarnOfStrayColours(int frame, int strayPixels) {
  if (strayPixels == 0 || !framesWithStrayColours_.insert(frame).second) return;
  std::fprintf(stderr,
               "%s: warning: the label image of frame %d has %d pixels of colours that are no label's; label "
               "assist takes them as unlabelled\n",
               ProgramName().c_str(), frame, strayPixels);
}

bool FrameAssistant::Outdated() const {
  return frameSerial_ != timeline_.frameSerial() || presegGeneration_ != preseg_.publishedGeneration();
}

// A proposal the model writes, or rewrites, while the annotator is on the frame counts from the next completion
// on. Checked when a completion is asked for, not by Outdated, which the mouse path asks at every move.
bool FrameAssistant::ProposalChanged() const {
  return preparation_ != nullptr && proposals_ != nullptr &&
         !proposals_->StillTheSame(preparation_->proposal, timeline_.currentFrame());
}

// What the preparation is for is noted first: should it fail, the mouse path does not try it again at every move.
void FrameAssistant::Prepare() {
  preparation_.reset();
  frameSerial_ = timeline_.frameSerial();
  presegGeneration_ = preseg_.publishedGeneration();
  const std::shared_ptr<const RegionMap> chosen = preseg_.Regions();
  std::shared_ptr<const AssistPreparation> prepared;
  if (supplier_ != nullptr) {
    for (auto& supplied : supplier_->SupplyAssist(timeline_.currentFrame(), frameSerial_)) {
      if (Applies(*supplied, chosen)) prepared = std::move(supplied);
    }
  }
  if (prepared == nullptr) prepared = PrepareHere(chosen);
  for (const NeighbourLabels& neighbour : prepared->neighbours) {
    WarnOfStrayColours(neighbour.frame, neighbour.strayPixels);
  }
  preparation_ = std::move(prepared);
}

// The frames just before and after the current one, their label images as the folder holds them; a label image
// that can't be read is no evidence (the labeller reports such files when their frame is entered).
std::shared_ptr<const AssistPreparation> FrameAssistant::PrepareHere(
    const std::shared_ptr<const RegionMap>& chosen) {
  auto prepared = std::make_shared<AssistPreparation>();
  prepared->pictureSerial = frameSerial_;
  prepared->chosen = chosen;
  std::vector<cv::Mat> pictures;
  const cv::Mat& frame = timeline_.frame();
  for (int step : {-1, +1}) {
    const int neighbour = timeline_.currentFrame() + step;
    if (neighbour < 0 || neighbour >= timeline_.frameCount()) continue;
    prepared->neighbours.push_back(ReadNeighbourLabels(labelDir_, neighbour, frame.size(), Known(neighbour)));
    NeighbourLabels& used = prepared->neighbours.back();
    if (!used.labels.empty()) used.picture = timeline_.FrameAt(neighbour);
    pictures.push_back(used.picture.image);
  }
  if (proposals_ != nullptr) prepared->proposal = proposals_->Read(timeline_.currentFrame(), frame.size());
  prepared->assist = BuildLabelAssist(frame, chosen.get(), prepared->neighbours, pictures,
                                      prepared->proposal.labels, colours_, pyramid_, carrier_);
  prepared->proposal.labels.release();  // in the assist now; the stamp says which version it was
  return prepared;
}

bool FrameAssistant::Applies(const AssistPreparation& prepared, const std::shared_ptr<const RegionMap>& chosen) const {
  if (prepared.assist == nullptr || prepared.pictureSerial != frameSerial_ || prepared.chosen != chosen) return false;
  const bool sameProposal = proposals_ != nullptr
                                ? proposals_->StillTheSame(prepared.proposal, timeline_.currentFrame())
                                : !prepared.proposal.stamp.exists;
  if (!sameProposal) return false;
  size_t used = 0;
  for (int step : {-1, +1}) {
    const int neighbour = timeline_.currentFrame() + step;
    if (neighbour < 0 || neighbour >= timeline_.frameCount()) continue;
    if (used == prepared.neighbours.size() || prepared.neighbours[used].frame != neighbour ||
        !StillTheSame(prepared.neighbours[used], labelDir_, Known(neighbour)) ||
        !timeline_.StillCurrent(neighbour, prepared.neighbours[used].picture)) {
      return false;
    }
    ++used;
  }
  return used == prepared.neighbours.size();
}

cv::Mat FrameAssistant::Known(int frame) const {
  return file_ != nullptr ? file_->SavedOnLeaving(frame) : cv::Mat();
}

}  // namespace labeler
