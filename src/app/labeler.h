// Labeler: the labelling application, from start-up through the key loop to shutdown.
//
// main() creates one Labeler over a WindowSystem and calls Run. The Labeler owns every component of the run (the
// configuration, the label set, the timeline, the presegmentation, the strokes, the label images, the pictures
// and the mouse handlers) and wires them together; the WindowSystem is borrowed and must outlive it.
#ifndef LABELER_APP_LABELER_H_
#define LABELER_APP_LABELER_H_

#include <array>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "annotation/frame_assistant.h"
#include "annotation/label_folder_lock.h"
#include "annotation/label_images.h"
#include "annotation/mouse_interaction.h"
#include "annotation/proposal_folder.h"
#include "annotation/redraw_requests.h"
#include "annotation/stroke_store.h"
#include "app/display_scale.h"
#include "app/neighbour_preparer.h"
#include "app/window_composer.h"
#include "config/label_set.h"
#include "config/meta_file.h"
#include "preseg/preseg_engine.h"
#include "propagation/label_carrier.h"
#include "timeline/timeline.h"
#include "ui/window_system.h"

namespace labeler {

class Labeler {
 public:
  // With `prepareNeighbours`, a worker thread prepares the frames next to the current one while the annotator
  // works (see NeighbourPreparer); what is shown and saved is the same either way.
  explicit Labeler(ui::WindowSystem& windows, bool prepareNeighbours = true);
  ~Labeler();

  // Starts up from the meta file named by argv[1], runs the key loop until Escape and shuts down. Returns -1
  // when the argument is missing (after telling the user in a message box) and 0 after Escape. Throws
  // FatalError on unusable input.
  int Run(int argc, char** argv);

  // One turn of the key loop for a key other than Escape: HandleKey, then the requested redraws.
  void ProcessKey(int key);
  // The key dispatcher; Escape never reaches it.
  void HandleKey(int key);

  // Called by the three presegmentation trackbars after they stored their new position.
  void OnPresegTrackbar();

  const Timeline& timeline() const { return *timeline_; }
  int currentLabel() const { return currentLabel_; }
  const DisplayScale& displayScale() const { return display_; }
  const PresegEngine& preseg() const { return preseg_; }
  const StrokeStore& strokes() const { return strokes_; }
  const PointerState& pointer() const { return pointer_; }
  WindowComposer& composer() { return *composer_; }
  // Returns once the worker has prepared all it can for where the session stands (at once without a worker).
  void WaitForNeighbours();

 private:
  void StartUp(const std::string& metaPath);
  void CreateTrackbars();
  void InstallMouseHandlers();
  void RunKeyLoop();
  bool ConfirmQuit();
  static bool EndsDrag(int key);
  void ShutDown();
  // Returns false, the frame not left, when its save failed.
  bool ChangeFrame(int delta);
  void AcceptFrame();
  void ShowLargestUnsureArea();
  void ShowFileNotices();
  void ToggleAssist();
  void RefreshWindows();
  void RebuildLabelMap();
  void CacheAllSegmentations();
  void SelectLabelByHotKey(int digit);
  void StepPresegSetting(int step);
  void ProposeLabels(int from);
  void LayProposal();
  void AddLabelsAsStroke(cv::Mat labels);
  DeliveredFrame PictureOf(int frame);
  cv::Mat GreyFrame(const DeliveredFrame& picture);
  cv::Mat FlowBetween(const DeliveredFrame& to, const DeliveredFrame& from);
  void FollowSession();
  void ShowProgress(const std::string& text);
  void AnnounceSegmentation(int setting);
  void GoToNextFrameWithoutLabels();
  void UpdateStatusLine();
  template <typename Work>
  void Guarded(const char* what, Work&& work);
  void RecoverFromFailure();

  ui::WindowSystem& windows_;
  const bool prepareNeighbours_;
  MetaConfig config_;
  LabelSet labels_;
  int currentLabel_ = 0;
  std::unique_ptr<Timeline> timeline_;
  DisplayScale display_;
  PresegEngine preseg_;
  StrokeStore strokes_;
  RedrawRequests redraws_;
  PointerState pointer_;
  std::unique_ptr<LabelFolderLock> folderLock_;
  std::shared_ptr<const ProposalFolder> proposals_;  // when the meta file names a proposal folder
  std::unique_ptr<FrameAssistant> assistant_;  // created at the first "a"
  std::unique_ptr<LabelImages> labelImages_;
  std::unique_ptr<WindowComposer> composer_;
  std::unique_ptr<MouseInteraction> mouse_;
  size_t escapeArmedFor_ = 0;  // the unsaved strokes the last Escape warned about; 0 when it did not warn
  std::vector<ui::StatusPart> shownStatus_;
  std::string fileNotice_;  // the last save that failed or went beside, until the next frame change
  bool progressShown_ = false;  // the status line shows progress of work now done
  int cachingAll_ = 0;          // while "g" works: how many settings it has started
  LabelCarrier carrier_;
  // Grey versions of the frames flow was last computed between, by the serial of the picture they were
  // converted from: stepping on and carrying again converts only the new frame.
  struct KeptGrey {
    uint64_t serial = 0;
    cv::Mat grey;
  };
  std::array<KeptGrey, 2> greyFrames_;
  size_t nextGrey_ = 0;  // the slot the next conversion replaces
  std::unique_ptr<NeighbourPreparer> preparer_;  // with prepareNeighbours, from start-up on
};

}  // namespace labeler

#endif  // LABELER_APP_LABELER_H_
