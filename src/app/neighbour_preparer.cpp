#include "app/neighbour_preparer.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <opencv2/imgproc.hpp>

#include "common/cancellation.h"
#include "common/random.h"
#include "propagation/label_carrier.h"

namespace labeler {
namespace {

// Nice value of the worker: the foreground, which handles every mouse move, goes first on a busy machine.
constexpr int kWorkerNiceness = 10;

bool SameSituation(const NeighbourPreparer::Situation& a, const NeighbourPreparer::Situation& b) {
  return a.frame == b.frame && a.picture.serial == b.picture.serial && a.before.serial == b.before.serial &&
         a.frameCount == b.frameCount && a.seekable == b.seekable && a.params.algorithm == b.params.algorithm &&
         a.params.pyrSeg1 == b.params.pyrSeg1 && a.params.pyrSeg2 == b.params.pyrSeg2 && a.random == b.random &&
         a.assist == b.assist && a.completions == b.completions && a.savesOnLeaving == b.savesOnLeaving;
}

}  // namespace

// What is known of one frame: its picture, and what was prepared for it.
struct NeighbourPreparer::Record {
  int frame = -1;
  DeliveredFrame picture;
  bool unreadable = false;
  cv::Mat grey{};
  PreparedSegmentation preseg{};
  bool segmentFailed = false;  // for the situation's setting: not tried again until it changes
  bool greyFailed = false;     // not tried again for this picture
  std::shared_ptr<const AssistPreparation> assist[kAssistVariants]{};
  uint64_t assistCompletions = 0;             // of the situation the accepted variant was prepared in
  bool assistFailed[kAssistVariants] = {};    // in the situation: not tried again until it changes
};

// What only the worker thread touches.
class NeighbourPreparer::Worker {
 public:
  explicit Worker(std::unique_ptr<Timeline> reader) : timeline(std::move(reader)) {}

  std::unique_ptr<Timeline> timeline;
  PresegEngine engine;
  LabelCarrier carrier;
  uint64_t movesAtRead = 0;  // NeighbourPreparer::moves_ when the read in progress began
};

NeighbourPreparer::NeighbourPreparer(std::unique_ptr<Timeline> companion, std::string labelDir,
                                     LabelColours colours, std::shared_ptr<const ProposalFolder> proposals)
    : worker_(std::make_unique<Worker>(std::move(companion))),
      labelDir_(std::move(labelDir)),
      proposals_(std::move(proposals)),
      colours_(std::move(colours)),
      thread_([this] { Run(); }) {}

NeighbourPreparer::~NeighbourPreparer() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
    ++moves_;
    inProgressStop_.request_stop();
  }
  changed_.notify_all();
  thread_.join();
}

void NeighbourPreparer::Follow(const Situation& situation) {
  {
    MutexLock lock(mutex_);
    if (SameSituation(situation_, situation)) return;
    const bool settingChanged = situation.params.algorithm != situation_.params.algorithm ||
                                situation.params.pyrSeg1 != situation_.params.pyrSeg1 ||
                                situation.params.pyrSeg2 != situation_.params.pyrSeg2;
    // A movie found to end early, or without exact seeks, may have given wrong pictures to seeks made before.
    const bool movieLimited =
        situation.frameCount != situation_.frameCount || situation.seekable != situation_.seekable;
    const bool completed = situation.completions != situation_.completions;
    if (situation.picture.serial != situation_.picture.serial) ++moves_;
    situation_ = situation;
    for (Record& record : records_) {
      record.segmentFailed = record.segmentFailed && !settingChanged;
      if (settingChanged || completed) std::fill(std::begin(record.assistFailed), std::end(record.assistFailed), false);
    }
    if (movieLimited) {
      ++era_;
      ++moves_;
      std::erase_if(records_, [&](const Record& record) REQUIRES(mutex_) { return record.frame != situation_.frame; });
    }
    KeepWanted();
    if (!InProgressWanted()) inProgressStop_.request_stop();
  }
  changed_.notify_one();
}

// Drops whatever does not belong to the current frame and its neighbours under the current setting, and makes
// room for what does.
void NeighbourPreparer::KeepWanted() {
  const int current = situation_.frame;
  std::erase_if(records_, [&](const Record& record) REQUIRES(mutex_) {
    if (record.frame == current) return record.picture.serial != situation_.picture.serial;
    return record.frame < current - 1 || record.frame > current + 1 || record.frame >= situation_.frameCount;
  });
  if (Find(current) == nullptr) records_.push_back({current, situation_.picture});
  if (current > 0 && Find(current - 1) == nullptr) records_.push_back({current - 1, situation_.before});
  if (current + 1 < situation_.frameCount && Find(current + 1) == nullptr) records_.push_back({current + 1, {}});
  for (Record& record : records_) {
    if (!Serves(record.preseg, situation_.params, situation_.random)) record.preseg = {};
    for (AssistVariant variant : {kAccepted, kAsStored}) {
      if (!AssistServes(record, variant)) record.assist[variant].reset();
    }
  }
  std::erase_if(flows_, [&](const PreparedFlow& flow) REQUIRES(mutex_) {
    return FindPicture(flow.to) == nullptr || FindPicture(flow.from) == nullptr;
  });
}

void NeighbourPreparer::Run() {
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWorkerNiceness);
  // A read of a far frame gives up once the current frame has changed since it began.
  worker_->timeline->SetReadingProgress([this](int, int) { return moves_.load() == worker_->movesAtRead; });
  MutexLock lock(mutex_);
  for (;;) {
    lock.Wait(changed_, [this]() REQUIRES(mutex_) { return stopping_ || NextStep().kind != StepKind::kNone; });
    if (stopping_) return;
    RunStep(NextStep());
  }
}

// The frame after the current one first, then the frame before it; for each, its picture, its presegmentation,
// then the grey pictures and the two flows.
NeighbourPreparer::Step NeighbourPreparer::NextStep() const {
  const Record* current = Find(situation_.frame);
  if (current == nullptr || current->picture.image.empty()) return {};
  for (int neighbour : {situation_.frame + 1, situation_.frame - 1}) {
    const Record* record = Find(neighbour);
    if (record == nullptr) continue;
    const Step step = NextStepFor(*record, *current);
    if (step.kind != StepKind::kNone) return step;
  }
  return {};
}

NeighbourPreparer::Step NeighbourPreparer::NextStepFor(const Record& neighbour, const Record& current) const {
  if (neighbour.picture.image.empty()) {
    return neighbour.unreadable ? Step{} : Step{StepKind::kPicture, neighbour.frame};
  }
  const uint64_t serial = neighbour.picture.serial;
  if (situation_.params.algorithm != kNoPreseg && !neighbour.segmentFailed &&
      !Serves(neighbour.preseg, situation_.params, situation_.random)) {
    return {StepKind::kSegment, neighbour.frame, serial};
  }
  if (const Step flow = NextFlowStep(neighbour, current); flow.kind != StepKind::kNone) return flow;
  for (AssistVariant variant : {kAccepted, kAsStored}) {
    if (AssistWanted(variant) && !neighbour.segmentFailed && !neighbour.assistFailed[variant] &&
        !AssistServes(neighbour, variant)) {
      return {StepKind::kAssist, neighbour.frame, serial, -1, variant};
    }
  }
  return {};
}

// The grey pictures, then the flow from the neighbour to the current frame, then back.
NeighbourPreparer::Step NeighbourPreparer::NextFlowStep(const Record& neighbour, const Record& current) const {
  const uint64_t serial = neighbour.picture.serial;
  if (!CanCarry(current.picture.image.size()) || current.greyFailed || neighbour.greyFailed) return {};
  if (current.grey.empty()) return {StepKind::kGrey, current.frame, current.picture.serial};
  if (neighbour.grey.empty()) return {StepKind::kGrey, neighbour.frame, serial};
  auto tried = [this](const Record& to, const Record& from) REQUIRES(mutex_) {
    return std::any_of(flows_.begin(), flows_.end(), [&](const PreparedFlow& flow) {
      return flow.to == to.picture.serial && flow.from == from.picture.serial;
    });
  };
  if (!tried(neighbour, current)) return {StepKind::kFlow, neighbour.frame, serial, current.frame};
  if (!tried(current, neighbour)) return {StepKind::kFlow, current.frame, current.picture.serial, neighbour.frame};
  return {};
}

// The regions of the chosen presegmentation the foreground publishes with `record`'s picture: those it takes from
// the worker, or none for the setting without presegmentation.
std::shared_ptr<const RegionMap> NeighbourPreparer::ChosenRegions(const Record& record) const {
  return situation_.params.algorithm == kNoPreseg ? nullptr : record.preseg.regions;
}

// Leaving the frame as the folder holds it is a way only while nothing is changed.
bool NeighbourPreparer::AssistWanted(AssistVariant variant) const {
  return situation_.assist && (variant == kAccepted || !situation_.savesOnLeaving);
}

// The accepted variant rests on the current completion; the other on the folder, which the foreground checks.
bool NeighbourPreparer::AssistServes(const Record& record, AssistVariant variant) const {
  const std::shared_ptr<const AssistPreparation>& prepared = record.assist[variant];
  return prepared != nullptr && AssistWanted(variant) && prepared->chosen == ChosenRegions(record) &&
         (variant == kAsStored || record.assistCompletions == situation_.completions);
}

// Only segmentations and assist preparations take long enough to be worth cancelling.
bool NeighbourPreparer::InProgressWanted() const {
  if (inProgress_.kind != StepKind::kSegment && inProgress_.kind != StepKind::kAssist) return true;
  const Record* record = Find(inProgress_.frame);
  if (record == nullptr || record->picture.serial != inProgress_.serial) return false;
  if (inProgress_.kind == StepKind::kSegment) {
    return SameSegmentation(inProgressParams_, inProgressRandom_, situation_.params, situation_.random);
  }
  return AssistWanted(inProgress_.variant) && inProgressChosen_ == ChosenRegions(*record) &&
         (inProgress_.variant == kAsStored || inProgressCompletions_ == situation_.completions);
}

// Runs `step` with the lock released, on copies of its inputs, and keeps the result if the situation still
// wants it.
void NeighbourPreparer::RunStep(const Step& step) {
  const StepInputs inputs = TakeInputs(step);
  mutex_.unlock();
  StepResult result = Compute(step, inputs);
  mutex_.lock();
  Keep(step, inputs, std::move(result));
  stepDone_.notify_all();
}

// Under the lock; marks the step as in progress.
NeighbourPreparer::StepInputs NeighbourPreparer::TakeInputs(const Step& step) {
  const Record& record = *Find(step.frame);
  StepInputs inputs{record.picture, record.grey, cv::Mat(), 0, situation_, era_};
  if (step.kind == StepKind::kFlow) {
    inputs.towardsGrey = Find(step.towards)->grey;
    inputs.towardsSerial = Find(step.towards)->picture.serial;
  }
  if (step.kind == StepKind::kAssist) {
    inputs.chosen = ChosenRegions(record);
    inputs.current = Find(situation_.frame)->picture;
  }
  worker_->movesAtRead = moves_.load();
  inProgress_ = step;
  inProgressParams_ = situation_.params;
  inProgressRandom_ = situation_.random;
  inProgressCompletions_ = situation_.completions;
  inProgressChosen_ = inputs.chosen;
  inProgressStop_ = std::stop_source();
  inputs.stop = inProgressStop_.get_token();
  return inputs;
}

// Without the lock, with the worker's own timeline, engine and flow.
NeighbourPreparer::StepResult NeighbourPreparer::Compute(const Step& step, const StepInputs& inputs) {
  StepResult result;
  try {
    switch (step.kind) {
      case StepKind::kPicture:
        worker_->timeline->LimitTo(inputs.situation.frameCount, inputs.situation.seekable);
        result.read = worker_->timeline->FrameAt(step.frame);
        break;
      case StepKind::kSegment: {
        Random random;
        random.Seed(inputs.situation.random);
        result.segmented = worker_->engine.Segment(inputs.picture.image, inputs.situation.params, random, inputs.stop);
        result.segmented.regions = std::make_shared<const RegionMap>(result.segmented.colour);
        break;
      }
      case StepKind::kGrey:
        cv::cvtColor(inputs.picture.image, result.image, cv::COLOR_BGR2GRAY);
        break;
      case StepKind::kFlow:
        // The flow from a neighbour to the current frame is what "p" or "P" needs right after moving there:
        // kept at full size, so that taking it costs nothing. The other one is scaled up when it is taken.
        result.image = worker_->carrier.ReducedFlow(inputs.grey, inputs.towardsGrey);
        if (step.frame != inputs.situation.frame) {
          result.image = LabelCarrier::ExpandFlow(result.image, inputs.grey.size());
        }
        break;
      case StepKind::kAssist:
        result.assist = PrepareAssist(step, inputs);
        break;
      case StepKind::kNone:
        break;
    }
  } catch (const Cancelled&) {
    result.cancelled = true;
  } catch (...) {
    result.failed = true;
  }
  return result;
}

// Under the lock: the result is kept only for the very picture it was computed from, in the same era.
void NeighbourPreparer::Keep(const Step& step, const StepInputs& inputs, StepResult result) {
  inProgress_ = {};
  inProgressChosen_.reset();
  Record* kept = Find(step.frame);
  if (result.cancelled || kept == nullptr || kept->picture.serial != inputs.picture.serial || inputs.era != era_) {
    return;
  }
  const Situation& situation = inputs.situation;
  switch (step.kind) {
    case StepKind::kPicture:
      kept->picture = result.read;
      // Unreadable, not merely abandoned for another frame.
      kept->unreadable = result.read.image.empty() && moves_.load() == worker_->movesAtRead;
      break;
    case StepKind::kSegment:
      if (SameSegmentation(situation.params, situation.random, situation_.params, situation_.random)) {
        kept->segmentFailed = result.failed;
      }
      if (!result.failed && Serves(result.segmented, situation_.params, situation_.random)) {
        kept->preseg = std::move(result.segmented);
      }
      break;
    case StepKind::kGrey:
      kept->grey = result.image;
      kept->greyFailed = result.failed;
      break;
    case StepKind::kFlow:
      // A flow that failed is kept empty, so that it is not tried again: the foreground computes it when asked,
      // and fails there as it would.
      if (FindPicture(inputs.towardsSerial) != nullptr) {
        flows_.push_back({inputs.picture.serial, inputs.towardsSerial, result.image});
      }
      break;
    case StepKind::kAssist:
      if (inputs.chosen != ChosenRegions(*kept) || !AssistWanted(step.variant) ||
          (step.variant == kAccepted && situation.completions != situation_.completions)) {
        break;
      }
      kept->assistFailed[step.variant] = result.failed;
      kept->assist[step.variant] = std::move(result.assist);
      if (step.variant == kAccepted) kept->assistCompletions = situation.completions;
      break;
    case StepKind::kNone:
      break;
  }
}

// As FrameAssistant prepares the frame once entered, with the current frame left as `step` says: accepted, its
// label image is the one accepting it stores; else the one the folder holds. The first completion is of the
// frame's stored label image as the label file loads it; FrameAssistant takes it only for that very image.
std::shared_ptr<const AssistPreparation> NeighbourPreparer::PrepareAssist(const Step& step,
                                                                          const StepInputs& inputs) {
  auto prepared = std::make_shared<AssistPreparation>();
  prepared->pictureSerial = inputs.picture.serial;
  prepared->chosen = inputs.chosen;
  const Situation& situation = inputs.situation;
  const cv::Size size = inputs.picture.image.size();
  std::vector<cv::Mat> pictures;
  for (int neighbour : {step.frame - 1, step.frame + 1}) {
    if (neighbour < 0 || neighbour >= situation.frameCount) continue;
    const bool current = neighbour == situation.frame;
    const cv::Mat known = current && step.variant == kAccepted ? situation.accepted : cv::Mat();
    prepared->neighbours.push_back(ReadNeighbourLabels(labelDir_, neighbour, size, known));
    NeighbourLabels& used = prepared->neighbours.back();
    if (!used.labels.empty()) {
      worker_->timeline->LimitTo(situation.frameCount, situation.seekable);
      used.picture = current ? inputs.current : worker_->timeline->FrameAt(neighbour);
      // A read abandoned for another frame is no picture the foreground would read: nothing is prepared.
      if (used.picture.image.empty()) throw std::runtime_error("frame " + std::to_string(neighbour) + " not read");
    }
    pictures.push_back(used.picture.image);
  }
  if (proposals_ != nullptr) prepared->proposal = proposals_->Read(step.frame, size);
  prepared->assist = BuildLabelAssist(inputs.picture.image, inputs.chosen.get(), prepared->neighbours, pictures,
                                      prepared->proposal.labels, colours_, worker_->engine, worker_->carrier,
                                      inputs.stop);
  prepared->proposal.labels.release();  // in the assist now; the stamp says which version it was
  prepared->stored = ReadStoredLabels(labelDir_, step.frame, size, prepared->storedPainted);
  prepared->storedStrayPixels =
      CompleteWith(*prepared->assist, colours_, prepared->stored, prepared->storedPainted, prepared->first);
  return prepared;
}

DeliveredFrame NeighbourPreparer::Picture(int frame) {
  MutexLock lock(mutex_);
  const Record* record = Find(frame);
  return record != nullptr ? record->picture : DeliveredFrame{};
}

cv::Mat NeighbourPreparer::Grey(uint64_t serial) {
  MutexLock lock(mutex_);
  const Record* record = FindPicture(serial);
  if (record == nullptr) return {};
  WaitWhileComputing({StepKind::kGrey, record->frame, serial}, lock);
  record = FindPicture(serial);
  return record != nullptr ? record->grey : cv::Mat();
}

cv::Mat NeighbourPreparer::Flow(uint64_t toSerial, uint64_t fromSerial) {
  MutexLock lock(mutex_);
  const Record* to = FindPicture(toSerial);
  const Record* from = FindPicture(fromSerial);
  if (to == nullptr || from == nullptr) return {};
  WaitWhileComputing({StepKind::kFlow, to->frame, toSerial, from->frame}, lock);
  to = FindPicture(toSerial);
  if (to == nullptr) return {};
  for (const PreparedFlow& flow : flows_) {
    if (flow.to == toSerial && flow.from == fromSerial && !flow.flow.empty()) {
      const cv::Mat reduced = flow.flow;
      const cv::Size frameSize = to->picture.image.size();
      lock.Unlock();
      return LabelCarrier::ExpandFlow(reduced, frameSize);
    }
  }
  return {};
}

// A record's picture is held by the record, so while it is kept no other picture can have its pixels' address.
bool NeighbourPreparer::Supply(const cv::Mat& frame, const PresegParams& params, uint32_t random,
                               PreparedSegmentation& found) {
  MutexLock lock(mutex_);
  auto holding = [&frame](const Record& record) {
    return record.picture.image.data == frame.data && record.picture.image.size() == frame.size();
  };
  auto record = std::find_if(records_.begin(), records_.end(), holding);
  if (record == records_.end() || frame.empty()) return false;
  const Step segmenting{StepKind::kSegment, record->frame, record->picture.serial};
  lock.Wait(stepDone_, [&]() REQUIRES(mutex_) {
    return !(inProgress_ == segmenting) || inProgressStop_.stop_requested() ||
           !SameSegmentation(inProgressParams_, inProgressRandom_, params, random);
  });
  record = std::find_if(records_.begin(), records_.end(), holding);
  if (record == records_.end() || !Serves(record->preseg, params, random)) return false;
  found = record->preseg;
  return true;
}

std::vector<std::shared_ptr<const AssistPreparation>> NeighbourPreparer::SupplyAssist(int frame, uint64_t serial) {
  MutexLock lock(mutex_);
  std::vector<std::shared_ptr<const AssistPreparation>> supplied;
  for (AssistVariant variant : {kAccepted, kAsStored}) {
    const Record* record = FindPicture(serial);
    if (record == nullptr || record->frame != frame) break;
    // A preparation of the accepted frame for a completion since replaced is not waited for: it is dropped.
    const Step preparing{StepKind::kAssist, frame, serial, -1, variant};
    lock.Wait(stepDone_, [&]() REQUIRES(mutex_) {
      return !(inProgress_ == preparing) || inProgressStop_.stop_requested() ||
             (variant == kAccepted && inProgressCompletions_ != situation_.completions);
    });
    record = FindPicture(serial);
    if (record != nullptr && AssistServes(*record, variant)) supplied.push_back(record->assist[variant]);
  }
  return supplied;
}

void NeighbourPreparer::WaitUntilIdle() {
  MutexLock lock(mutex_);
  lock.Wait(stepDone_, [this]() REQUIRES(mutex_) {
    return inProgress_.kind == StepKind::kNone && NextStep().kind == StepKind::kNone;
  });
}

void NeighbourPreparer::WaitWhileComputing(const Step& step, MutexLock& lock) {
  lock.Wait(stepDone_, [&]() REQUIRES(mutex_) { return !(inProgress_ == step); });
}

NeighbourPreparer::Record* NeighbourPreparer::Find(int frame) {
  auto found = std::find_if(records_.begin(), records_.end(), [frame](const Record& r) { return r.frame == frame; });
  return found != records_.end() ? &*found : nullptr;
}

const NeighbourPreparer::Record* NeighbourPreparer::Find(int frame) const {
  return const_cast<NeighbourPreparer*>(this)->Find(frame);
}

NeighbourPreparer::Record* NeighbourPreparer::FindPicture(uint64_t serial) {
  if (serial == 0) return nullptr;
  auto found = std::find_if(records_.begin(), records_.end(),
                            [serial](const Record& r) { return r.picture.serial == serial; });
  return found != records_.end() ? &*found : nullptr;
}

}  // namespace labeler
