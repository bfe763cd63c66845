// NeighbourPreparer: a worker thread that prepares the frames next to the current one while the annotator
// works on it, so that the next frame is ready before Space is pressed.
//
// The Labeler owns one and tells it, after every key, trackbar change and mouse event, where the session stands
// (Follow). The worker then prepares the frame after the current one and then the frame before it: the decoded
// picture (read by a companion of the timeline), its presegmentation with the chosen setting and its region map,
// the grey pictures and the flow in both directions between it and the current frame, and with label assist on,
// the frame's AssistPreparation with its first completion, for each way the current frame may be left: accepted
// (its completion stored: Enter, or a frame key after a change) and, while nothing is changed, as the folder holds
// it (a frame key). A result is handed out only when it is exactly what the foreground would compute itself: a
// picture by frame number (the foreground then shows that very picture, serial and all), a presegmentation for
// that picture, setting, thresholds and place in the pseudo-random sequence (PresegEngine asks through
// SegmentationSupplier), a flow by the serials of both pictures, an assist preparation as FrameAssistant checks
// it (AssistSupplier). Anything else the foreground computes as it would without a worker.
//
// The foreground never waits for work it did not ask for: when it asks for the very result being computed at
// that moment it waits for it, else it takes what is ready or nothing. Work for a situation that has changed
// (another frame, setting, threshold) is not started, and what it finishes is dropped unless still wanted.
// Memory: at most three frames' results (the current frame and its two neighbours, each neighbour with up to two
// assist preparations) and the four flows between them; those from the current frame are kept at the reduced size
// they are computed at. The worker runs at a lower priority than the foreground, so that painting stays as cheap
// as without it.
//
// Thread-safety: every public member is for the foreground thread; the worker shares only the state behind one
// mutex, marked GUARDED_BY it (checked by clang's -Wthread-safety). A segmentation or an assist preparation in
// progress that the situation no longer wants is cancelled (see common/cancellation.h) at its next stage rather
// than finished (an assist preparation's flows and reads run to their end), and so is any at the destructor,
// which stops the worker after the step in progress: a read forward to a far frame is abandoned once it has gone
// on for half a second; a seek, a decode, a grey picture or a flow runs to its end.
#ifndef LABELER_APP_NEIGHBOUR_PREPARER_H_
#define LABELER_APP_NEIGHBOUR_PREPARER_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <opencv2/core.hpp>
#include <thread>
#include <vector>

#include "annotation/frame_assistant.h"
#include "assist/label_colours.h"
#include "common/mutex.h"
#include "preseg/preseg_engine.h"
#include "timeline/timeline.h"

namespace labeler {

class NeighbourPreparer : public SegmentationSupplier, public AssistSupplier {
 public:
  // Where the session stands.
  struct Situation {
    int frame = -1;
    DeliveredFrame picture;  // of `frame`, as shown
    DeliveredFrame before;   // of frame - 1 when the timeline keeps it (the frame just left), else empty
    int frameCount = 0;
    bool seekable = true;
    PresegParams params;  // the chosen setting and pyramid thresholds
    uint32_t random = 0;  // where the shared pseudo-random sequence stands
    bool assist = false;  // label assist is on
    cv::Mat accepted;     // with assist: LabelImages::LabelsOnAccepting
    uint64_t completions = 0;     // LabelImages::completions
    bool savesOnLeaving = false;  // LabelImages::SavesOnLeaving
  };

  // Reads frames through `companion` (see Timeline::Companion), which it owns and uses on the worker only, and
  // label images from `labelDir`, whose colours `colours` maps for the assist, and proposals from `proposals`
  // (may be null), which it shares with the foreground.
  NeighbourPreparer(std::unique_ptr<Timeline> companion, std::string labelDir, LabelColours colours,
                    std::shared_ptr<const ProposalFolder> proposals = nullptr);
  ~NeighbourPreparer() override;
  NeighbourPreparer(const NeighbourPreparer&) = delete;
  NeighbourPreparer& operator=(const NeighbourPreparer&) = delete;

  // The session now stands at `situation`: work for anything else is dropped. Cheap when nothing changed.
  void Follow(const Situation& situation);

  // The prepared picture of `frame`, a neighbour of the current frame, or an empty one; never waits for it to be
  // read: the foreground then reads the frame itself, as it would without the worker.
  DeliveredFrame Picture(int frame);
  // The grey version of the picture `serial`, or empty.
  cv::Mat Grey(uint64_t serial);
  // The flow from picture `toSerial` to picture `fromSerial` (as LabelCarrier::Flow), or empty.
  cv::Mat Flow(uint64_t toSerial, uint64_t fromSerial);
  // SegmentationSupplier: a prepared presegmentation of `frame`, one of the pictures handed out.
  bool Supply(const cv::Mat& frame, const PresegParams& params, uint32_t random,
              PreparedSegmentation& found) override;
  // AssistSupplier: the assist preparation of `frame`, a neighbour of the current frame, for its picture `serial`.
  std::vector<std::shared_ptr<const AssistPreparation>> SupplyAssist(int frame, uint64_t serial) override;

  // Returns once the worker has nothing left to do for the current situation: for tests and benchmarks.
  void WaitUntilIdle();

 private:
  struct Record;
  struct PreparedFlow {
    uint64_t to = 0;
    uint64_t from = 0;
    cv::Mat flow;  // at full size, or as LabelCarrier::ReducedFlow gives it
  };
  enum class StepKind { kNone, kPicture, kSegment, kGrey, kFlow, kAssist };
  // How the current frame is left in an assist preparation for a neighbour: accepted, or as the folder holds it.
  enum AssistVariant { kAccepted, kAsStored, kAssistVariants };
  // One piece of work: its kind, the frame it is for and the serial of that frame's picture (0 while it is
  // being read), for a flow the other frame (for each pixel of `frame`, where it was in `towards`), for an
  // assist preparation its variant.
  struct Step {
    StepKind kind = StepKind::kNone;
    int frame = -1;
    uint64_t serial = 0;
    int towards = -1;
    AssistVariant variant = kAccepted;
    bool operator==(const Step&) const = default;
  };
  class Worker;
  // What a step works on, copied under the lock: pictures are never changed once delivered.
  struct StepInputs {
    DeliveredFrame picture;
    cv::Mat grey;
    cv::Mat towardsGrey;  // for a flow
    uint64_t towardsSerial = 0;
    Situation situation;
    uint64_t era = 0;
    std::shared_ptr<const RegionMap> chosen{};  // for an assist preparation: the picture's regions
    DeliveredFrame current{};                   // ... and the current frame's picture
    std::stop_token stop{};
  };
  struct StepResult {
    DeliveredFrame read;
    PreparedSegmentation segmented;
    cv::Mat image;  // grey picture or flow
    std::shared_ptr<const AssistPreparation> assist;
    bool failed = false;
    bool cancelled = false;  // nothing was made, nor failed
  };

  void Run() EXCLUDES(mutex_);
  Step NextStep() const REQUIRES(mutex_);
  Step NextStepFor(const Record& neighbour, const Record& current) const REQUIRES(mutex_);
  Step NextFlowStep(const Record& neighbour, const Record& current) const REQUIRES(mutex_);
  std::shared_ptr<const RegionMap> ChosenRegions(const Record& record) const REQUIRES(mutex_);
  bool AssistWanted(AssistVariant variant) const REQUIRES(mutex_);
  bool AssistServes(const Record& record, AssistVariant variant) const REQUIRES(mutex_);
  bool InProgressWanted() const REQUIRES(mutex_);
  void RunStep(const Step& step) REQUIRES(mutex_);
  StepInputs TakeInputs(const Step& step) REQUIRES(mutex_);
  StepResult Compute(const Step& step, const StepInputs& inputs) EXCLUDES(mutex_);
  std::shared_ptr<const AssistPreparation> PrepareAssist(const Step& step, const StepInputs& inputs)
      EXCLUDES(mutex_);
  void Keep(const Step& step, const StepInputs& inputs, StepResult result) REQUIRES(mutex_);
  Record* Find(int frame) REQUIRES(mutex_);
  const Record* Find(int frame) const REQUIRES(mutex_);
  Record* FindPicture(uint64_t serial) REQUIRES(mutex_);
  void KeepWanted() REQUIRES(mutex_);
  void WaitWhileComputing(const Step& step, MutexLock& lock) REQUIRES(mutex_);

  std::unique_ptr<Worker> worker_;  // the worker's own timeline, engine, flow and generator
  const std::string labelDir_;
  const std::shared_ptr<const ProposalFolder> proposals_;
  const LabelColours colours_;
  Mutex mutex_;
  std::condition_variable_any changed_;  // a new situation, or stop
  std::condition_variable_any stepDone_;
  Situation situation_ GUARDED_BY(mutex_);
  std::vector<Record> records_ GUARDED_BY(mutex_);
  std::vector<PreparedFlow> flows_ GUARDED_BY(mutex_);
  Step inProgress_ GUARDED_BY(mutex_);
  PresegParams inProgressParams_ GUARDED_BY(mutex_);  // the setting and sequence the step in progress works with
  uint32_t inProgressRandom_ GUARDED_BY(mutex_) = 0;
  uint64_t inProgressCompletions_ GUARDED_BY(mutex_) = 0;  // of the situation the step in progress works for
  std::shared_ptr<const RegionMap> inProgressChosen_ GUARDED_BY(mutex_);  // the regions an assist step rests on
  std::stop_source inProgressStop_ GUARDED_BY(mutex_);
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::atomic<uint64_t> moves_{0};  // changes of the current frame, and the stop: a read of a far frame gives up
  // How often the movie was found shorter or without exact seeks: older pictures are dropped.
  uint64_t era_ GUARDED_BY(mutex_) = 0;
  std::thread thread_;
};

}  // namespace labeler

#endif  // LABELER_APP_NEIGHBOUR_PREPARER_H_
