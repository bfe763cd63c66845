#include "annotation/frame_assistant.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <opencv2/imgproc.hpp>

#include "annotation/label_image_file.h"
#include "annotation/label_images.h"

namespace labeler {

namespace {

std::vector<cv::Vec3b> ColoursOf(const LabelSet& labels) {
  std::vector<cv::Vec3b> colours;
  for (const LabelInfo& label : labels) {
    colours.emplace_back(cv::saturate_cast<uchar>(label.blue), cv::saturate_cast<uchar>(label.green),
                         cv::saturate_cast<uchar>(label.red));
  }
  return colours;
}

}  // namespace

FrameAssistant::FrameAssistant(Timeline& timeline, PresegEngine& preseg, const LabelSet& labels,
                               std::string labelDir)
    : timeline_(timeline), preseg_(preseg), labelDir_(std::move(labelDir)), colours_(ColoursOf(labels)) {}

cv::Mat FrameAssistant::Complete(const cv::Mat& labels, const cv::Mat& painted) {
  confidence_.release();
  // The presegmentation engine may still hold the frame before's: the completion rests on this frame's.
  preseg_.UpdatePresegmentation(timeline_.frame(), timeline_.currentFrame(), 0);
  if (Outdated()) Prepare();
  if (assist_ == nullptr) throw std::runtime_error("the frame could not be prepared for label assist");
  cv::Mat mapped = labels.clone();
  cv::Mat evidence = painted.clone();
  MapColours(mapped, evidence, timeline_.currentFrame());
  LabelAssist::Completion completion = assist_->Complete(mapped, evidence);
  labels.copyTo(completion.labels, painted);  // what is painted keeps its colour, whatever it means
  confidence_ = completion.confidence;
  return completion.labels;
}

void FrameAssistant::MapColours(cv::Mat& labels, cv::Mat& painted, int frame) {
  const int unknown = colours_.Map(labels, painted);
  if (unknown == 0 || !framesWithStrayColours_.insert(frame).second) return;
  std::fprintf(stderr,
               "labeler: warning: the label image of frame %d has %d pixels of colours that are no label's; label "
               "assist takes them as unlabelled\n",
               frame, unknown);
}

bool FrameAssistant::Outdated() const {
  return frameSerial_ != timeline_.frameSerial() || presegGeneration_ != preseg_.publishedGeneration();
}

// What the preparation is for is noted first: should it fail, the mouse path does not try it again at every move.
void FrameAssistant::Prepare() {
  assist_.reset();
  frameSerial_ = timeline_.frameSerial();
  presegGeneration_ = preseg_.publishedGeneration();
  const cv::Mat& frame = timeline_.frame();
  AssistInputs inputs{frame, {}, {}};
  if (std::shared_ptr<const RegionMap> chosen = preseg_.Regions()) inputs.partitions.push_back(chosen->ids());
  if (pyramid_.presegColour().size() != frame.size()) pyramid_.CreatePresegImages(frame.size());
  pyramid_.currentPreseg().algorithm = kPyramidPreseg;
  pyramid_.InvalidatePresegCache();
  pyramid_.UpdatePresegmentation(frame, timeline_.currentFrame(), 1);
  if (std::shared_ptr<const RegionMap> pyramid = pyramid_.Regions()) inputs.partitions.push_back(pyramid->ids());
  if (inputs.partitions.empty()) inputs.partitions.push_back(cv::Mat::zeros(frame.size(), CV_32S));
  if (CanCarry(frame.size())) {
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    const std::vector<LabelledNeighbour> neighbours = StoredNeighbours(grey);
    if (!neighbours.empty()) inputs.carried = CarryFromNeighbours(grey, neighbours, carrier_);
  }
  assist_ = std::make_unique<LabelAssist>(inputs);
}

// The frames just before and after the current one that have a usable stored label image. A label image that
// can't be read is no evidence; the labeller reports such files when their frame is entered.
std::vector<LabelledNeighbour> FrameAssistant::StoredNeighbours(const cv::Mat& grey) {
  std::vector<LabelledNeighbour> neighbours;
  for (int step : {-1, +1}) {
    const int frame = timeline_.currentFrame() + step;
    if (frame < 0 || frame >= timeline_.frameCount()) continue;
    const std::string path = LabelImagePath(labelDir_, frame);
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) continue;
    cv::Mat labels;
    try {
      labels = ReadStoredLabelImage(path, grey.size());
    } catch (const std::exception&) {
      continue;
    }
    if (labels.size() != grey.size()) continue;
    const DeliveredFrame delivered = timeline_.FrameAt(frame);
    if (delivered.image.empty()) continue;
    cv::Mat all(labels.size(), CV_8UC1, cv::Scalar(255));
    MapColours(labels, all, frame);
    LabelledNeighbour neighbour{cv::Mat(), labels};
    cv::cvtColor(delivered.image, neighbour.grey, cv::COLOR_BGR2GRAY);
    neighbours.push_back(std::move(neighbour));
  }
  return neighbours;
}

}  // namespace labeler
