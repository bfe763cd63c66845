#include "app/labeler.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <opencv2/imgproc.hpp>

#include "app/status_line.h"
#include "common/fatal_error.h"
#include "common/random.h"

namespace labeler {
namespace {

constexpr int kKeyEnter = 13;
constexpr const char* kFileNoticeCaption = "Label folder";
// What long foreground work is doing is what a narrow status line keeps longest, while it lasts.
constexpr int kProgressImportance = 5;

// A key as an error line names it: the key "p", Ctrl+Z, Space.
std::string KeyName(int key) {
  if (key == ui::kKeyBackspace) return "Backspace";
  if (key == ' ') return "Space";
  if (key == 9) return "Tab";
  if (key == kKeyEnter) return "Enter";
  if (key >= 1 && key <= 26) return "Ctrl+" + std::string(1, static_cast<char>('A' + key - 1));
  if (key > ' ' && key < 127) return "the key \"" + std::string(1, static_cast<char>(key)) + "\"";
  return "key code " + std::to_string(key);
}

}  // namespace

Labeler::Labeler(ui::WindowSystem& windows, bool prepareNeighbours)
    : windows_(windows), prepareNeighbours_(prepareNeighbours) {}

Labeler::~Labeler() { preseg_.SetSupplier(nullptr); }

int Labeler::Run(int argc, char** argv) {
  windows_.CreateWindow(kFrameWindow);
  windows_.CreateWindow(kPresegWindow);
  windows_.CreateWindow(kLabelWindow);
  windows_.ShareView({kFrameWindow, kLabelWindow});
  if (argc < 2) {
    windows_.ShowMessageBox("Needed 1 input argument: a .meta file. Crashing.", "SHUTDOWN ERROR");
    return -1;
  }
  StartUp(argv[1]);
  RunKeyLoop();
  ShutDown();
  return 0;
}

void Labeler::StartUp(const std::string& metaPath) {
  ReadMetaFile(config_, metaPath);
  RequireMetaKeys(config_, metaPath);
  timeline_ = std::make_unique<Timeline>(*config_.FILE_TIMELINE);
  timeline_->ReloadMovie();
  LoadLabelSet(*config_.FILE_LABEL_NAMES, labels_);
  if (config_.DIR_PROPOSAL_IMGS) proposals_ = std::make_shared<ProposalFolder>(*config_.DIR_PROPOSAL_IMGS, labels_);
  timeline_->GoToFrame(0);

  const cv::Size frameSize(timeline_->width(), timeline_->height());
  labelImages_ = std::make_unique<LabelImages>(*timeline_, preseg_, strokes_, redraws_, *config_.DIR_LABEL_IMGS);
  composer_ = std::make_unique<WindowComposer>(windows_, *timeline_, preseg_, *labelImages_, strokes_, pointer_,
                                               redraws_);
  mouse_ = std::make_unique<MouseInteraction>(*composer_, pointer_, *timeline_, preseg_, strokes_, *labelImages_,
                                              labels_, currentLabel_);
  composer_->Create(frameSize);
  labelImages_->Create(frameSize);
  preseg_.CreatePresegImages(frameSize);
  CreateTrackbars();

  strokes_.DiscardStrokes();
  PrepareLabelFolder(*config_.DIR_LABEL_IMGS);
  folderLock_ = std::make_unique<LabelFolderLock>(*config_.DIR_LABEL_IMGS);
  if (folderLock_->alone()) RemoveLeftoverSaves(*config_.DIR_LABEL_IMGS);
  labelImages_->LoadCurrentFrame();
  labelImages_->RenderWorking();
  composer_->RedrawLabelWindow();
  composer_->ShowFrame();

  timeline_->SetReadingProgress([this](int reached, int wanted) {
    ShowProgress("reading frame " + std::to_string(reached) + " on the way to frame " + std::to_string(wanted));
    return true;
  });
  preseg_.SetComputeNotice([this](int setting) { AnnounceSegmentation(setting); });
  display_ = ComputeDisplayScale(timeline_->width(), timeline_->height(), *config_.MAX_WINDOW_DIM);
  composer_->CreateRescaled(display_.size);
  composer_->ShowRescaled(timeline_->frame());
  InstallMouseHandlers();
  if (!folderLock_->othersNotice().empty()) fileNotice_ = "label folder open in another labeller too";
  UpdateStatusLine();
  if (!folderLock_->othersNotice().empty()) windows_.ShowMessageBox(folderLock_->othersNotice(), kFileNoticeCaption);
  if (prepareNeighbours_) {
    preparer_ = std::make_unique<NeighbourPreparer>(timeline_->Companion(), *config_.DIR_LABEL_IMGS,
                                                    LabelColoursOf(labels_), proposals_);
    preseg_.SetSupplier(preparer_.get());
    FollowSession();
  }
}

void Labeler::CreateTrackbars() {
  PresegParams& params = preseg_.currentPreseg();
  auto onChange = [this](int) { Guarded("the presegmentation trackbars", [this] { OnPresegTrackbar(); }); };
  windows_.CreateTrackbar("N,P,Q,O,U,F", kFrameWindow, &params.algorithm, kLastPresegSetting, onChange);
  windows_.CreateTrackbar("PyrSeg1", kFrameWindow, &params.pyrSeg1, 255, onChange);
  windows_.CreateTrackbar("PyrSeg2", kFrameWindow, &params.pyrSeg2, 255, onChange);
}

void Labeler::InstallMouseHandlers() {
  mouse_->SetDisplayScale(display_.scale);
  // Each handler, then the status line, which a mouse event may change (brush, label, unsaved strokes).
  auto handler = [this](void (MouseInteraction::*on)(int, int, int, int)) {
    return [this, on](int e, int x, int y, int f) {
      Guarded("a mouse event", [&] {
        (mouse_.get()->*on)(e, x, y, f);
        UpdateStatusLine();
        FollowSession();  // a stroke ended: the label image the frame would be left with changed
      });
    };
  };
  windows_.SetMouseCallback(kFrameWindow, handler(&MouseInteraction::OnFrameMouse));
  windows_.SetMouseCallback(kPresegWindow, handler(&MouseInteraction::OnPresegMouse));
  windows_.SetMouseCallback(kLabelWindow, handler(&MouseInteraction::OnLabelMapMouse));
}

void Labeler::OnPresegTrackbar() {
  preseg_.UpdatePresegmentation(timeline_->frame(), timeline_->currentFrame(), 1);
  redraws_.presegWindowDirty = true;
  redraws_.labelWindowDirty = true;
  RefreshWindows();
  UpdateStatusLine();
  FollowSession();
}

void Labeler::RunKeyLoop() {
  for (;;) {
    int key = windows_.WaitKey();
    if (key == ui::kKeyEscape && ConfirmQuit()) break;
    if (key != ui::kKeyEscape) Guarded(KeyName(key).c_str(), [this, key] { ProcessKey(key); });
  }
}

// Whatever a key or mouse event's work throws is reported and the session goes on with the frame's strokes
// kept; only the input errors that end the run (a frame that can't be read where a move lands, after the frame
// left was saved) reach main.
template <typename Work>
void Labeler::Guarded(const char* what, Work&& work) {
  try {
    work();
  } catch (const FatalError&) {
    throw;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "labeler: error: %s failed: %s; the strokes of frame %d are kept\n", what, error.what(),
                 timeline_->currentFrame());
    RecoverFromFailure();
  }
}

// Work that failed half-way may have left the label images behind the strokes and the windows behind both: the
// committed image is rebuilt from the stored label image and every stroke, and every window redrawn. Should that
// fail as well, the next save rebuilds before it writes, so the file still holds every stroke.
void Labeler::RecoverFromFailure() {
  try {
    labelImages_->RebuildCommitted();
    redraws_.frameWindowDirty = redraws_.presegWindowDirty = redraws_.labelWindowDirty = true;
    RefreshWindows();
    FollowSession();
  } catch (const FatalError&) {
    throw;
  } catch (const std::exception&) {
    std::fprintf(stderr, "labeler: error: the windows could not be brought up to date; the next key tries again\n");
  }
}

// Escape saves nothing. With strokes not yet saved, one Escape (or a window's close button) only warns; the
// same Escape again, with nothing painted in between, quits.
bool Labeler::ConfirmQuit() {
  const size_t unsaved = strokes_.strokes().size();
  if (unsaved == 0 || unsaved == escapeArmedFor_) return true;
  mouse_->FinishDrag();
  escapeArmedFor_ = strokes_.strokes().size();
  std::fprintf(stderr,
               "labeler: %zu stroke%s of frame %d not saved would be lost: Escape again quits without saving, "
               "\"c\" saves\n",
               escapeArmedFor_, escapeArmedFor_ == 1 ? "" : "s", timeline_->currentFrame());
  return false;
}

void Labeler::ProcessKey(int key) {
  escapeArmedFor_ = 0;
  HandleKey(key);
  RefreshWindows();
  ShowFileNotices();
  UpdateStatusLine();
  FollowSession();
}

// A save that failed or went beside another labeller's is said on the status line until the next frame change,
// and a version saved beside also in a box the annotator must dismiss: whoever started the labeller from the
// desktop sees no console.
void Labeler::ShowFileNotices() {
  for (const FileNotice& notice : labelImages_->file().TakeNotices()) {
    fileNotice_ = notice.text;
    if (notice.mustDismiss) windows_.ShowMessageBox(notice.text, kFileNoticeCaption);
  }
}

// Tells the worker where the session now stands, so that it prepares the neighbours of this frame with this
// setting while the annotator works.
void Labeler::FollowSession() {
  if (preparer_ == nullptr) return;
  const int current = timeline_->currentFrame();
  preparer_->Follow({current, timeline_->delivered(), timeline_->KeptFrame(current - 1),
                     timeline_->frameCount(), timeline_->seekable(), preseg_.currentPreseg(),
                     Random::Shared().state(), labelImages_->assisted(), labelImages_->LabelsOnAccepting(),
                     labelImages_->completions(), labelImages_->SavesOnLeaving()});
}

void Labeler::WaitForNeighbours() {
  if (preparer_ != nullptr) preparer_->WaitUntilIdle();
}

// The model steps the requested redraws read (the current presegmentation, the working label image), then the
// redraws, which only draw.
void Labeler::RefreshWindows() {
  if (redraws_.presegWindowDirty) preseg_.UpdatePresegmentation(timeline_->frame(), timeline_->currentFrame(), 0);
  if (redraws_.labelWindowDirty) labelImages_->RenderWorking();
  composer_->ApplyPendingRedraws();
}

// Only what changed is sent: a mouse move usually changes nothing on the line.
void Labeler::UpdateStatusLine() {
  std::vector<ui::StatusPart> status =
      DescribeSession({*timeline_, labels_, currentLabel_, pointer_.brushRadius, preseg_.currentPreseg(),
                       composer_->overlayPercent(), labelImages_->assisted(), strokes_.strokes().size(),
                       labelImages_->SavesOnLeaving(), labelImages_->CompletionSaved(), fileNotice_});
  if (status == shownStatus_ && !progressShown_) return;
  shownStatus_ = std::move(status);
  progressShown_ = false;
  windows_.SetStatusLine(kFrameWindow, shownStatus_);
}

// Long foreground work says what it does after the session's parts, until the status line is next brought up to
// date.
void Labeler::ShowProgress(const std::string& text) {
  std::vector<ui::StatusPart> parts = shownStatus_;
  parts.push_back({text, false, {}, kProgressImportance});
  windows_.ShowStatusNow(kFrameWindow, parts);
  progressShown_ = true;
}

// A presegmentation of a frame above 1280 x 720 takes from a few tenths of a second to seconds.
void Labeler::AnnounceSegmentation(int setting) {
  constexpr size_t kLargeFrame = 1280 * 720;
  if (timeline_->frame().total() <= kLargeFrame) return;
  std::string text = "presegmenting frame " + std::to_string(timeline_->currentFrame()) + " with setting " +
                     std::to_string(setting);
  if (cachingAll_ > 0) text += " (" + std::to_string(cachingAll_) + " of " + std::to_string(kLastPresegSetting) + ")";
  ShowProgress(text);
}

void Labeler::ShutDown() {
  const size_t unsaved = strokes_.strokes().size();
  if (unsaved > 0) {
    std::fprintf(stderr,
                 "labeler: %zu stroke%s of frame %d discarded: strokes reach the disk only when their frame is left "
                 "(Space, Backspace, +, - or c)\n",
                 unsaved, unsaved == 1 ? "" : "s", timeline_->currentFrame());
  }
  windows_.DestroyWindow(kFrameWindow);
  windows_.DestroyWindow(kPresegWindow);
  windows_.DestroyWindow(kLabelWindow);
  folderLock_.reset();
}

// Keys that save, change frames or change the stroke list end a drag in progress first, as its release would; a
// digit only chooses the label of the next stroke and leaves the drag going.
bool Labeler::EndsDrag(int key) {
  switch (key) {
    case ui::kKeyBackspace:
    case ' ':
    case '-':
    case '+':
    case 'c':
    case 'n':
    case 'u':
    case kKeyEnter:
    case 'p':
    case 'P':
    case 'm':
    case 'z' - 'a' + 1:
    case 'y' - 'a' + 1:
    case 'd' - 'a' + 1:
      return true;
    default:
      return false;
  }
}

void Labeler::HandleKey(int key) {
  if (EndsDrag(key)) mouse_->FinishDrag();
  switch (key) {
    case ui::kKeyBackspace: ChangeFrame(-1); break;
    case ' ': ChangeFrame(+1); break;
    case '-': ChangeFrame(-*config_.FILE_TIMELINE_JUMPBY); break;
    case '+': ChangeFrame(+*config_.FILE_TIMELINE_JUMPBY); break;
    case 'g': CacheAllSegmentations(); break;
    case 's': StepPresegSetting(+1); break;
    case 'S': StepPresegSetting(-1); break;
    case 'o': composer_->CycleOverlay(); break;
    case 'a': ToggleAssist(); break;
    case 'n': GoToNextFrameWithoutLabels(); break;
    case 'p': ProposeLabels(-1); break;
    case 'P': ProposeLabels(+1); break;
    case 'm': LayProposal(); break;
    case 'c': ChangeFrame(0); break;
    case kKeyEnter: AcceptFrame(); break;
    case 'u': ShowLargestUnsureArea(); break;
    case 'z' - 'a' + 1:
      std::printf("Undo last stroke\n");
      strokes_.UndoStroke();
      RebuildLabelMap();
      break;
    case 'y' - 'a' + 1:
      std::printf("Redo last stroke.\n");
      strokes_.RedoStroke();
      RebuildLabelMap();
      break;
    case 'd' - 'a' + 1:
      std::printf("Clearing all strokes in current frame.\n");
      strokes_.ClearStrokes();
      RebuildLabelMap();
      break;
    default:
      if (key >= '0' && key <= '9') SelectLabelByHotKey(key - '0');
      break;
  }
}

// The frame as shown, completion and all, is the annotator's: it is saved, and the next frame comes.
void Labeler::AcceptFrame() {
  const int accepted = timeline_->currentFrame();
  labelImages_->Accept();
  if (ChangeFrame(+1)) std::printf("Accepted frame %d.\n", accepted);
}

// The eye and the brush go where the completion most needs a look: the largest unsure area not yet painted.
void Labeler::ShowLargestUnsureArea() {
  const std::optional<cv::Point> area = labelImages_->LargestUnsureArea();
  if (!area) {
    std::printf("No unsure area left on frame %d.\n", timeline_->currentFrame());
    return;
  }
  windows_.ShowPoint(kFrameWindow, *area);
  std::printf("Unsure area at (%d, %d).\n", area->x, area->y);
}

// A neighbour the worker has read is shown as read, so that what was prepared for that picture applies.
bool Labeler::ChangeFrame(int delta) {
  fileNotice_.clear();
  const int current = timeline_->currentFrame();
  const long long target = std::clamp<long long>(static_cast<long long>(current) + delta, 0,
                                                 timeline_->frameCount() - 1);
  if (preparer_ != nullptr && target != current) {
    timeline_->OfferPicture(static_cast<int>(target), preparer_->Picture(static_cast<int>(target)));
  }
  if (labelImages_->ChangeFrame(delta)) return true;
  timeline_->OfferPicture(-1, {});  // the frame is not left
  return false;
}

// With assist on, every pixel the annotator leaves unpainted is completed from the strokes, the neighbouring
// frames' label images and the frame's edges; off, the label image is the strokes alone again.
void Labeler::ToggleAssist() {
  if (labelImages_->assisted()) {
    labelImages_->SetCompleter(nullptr);
    std::printf("Label assist off.\n");
  } else {
    if (assistant_ == nullptr) {
      assistant_ = std::make_unique<FrameAssistant>(*timeline_, preseg_, labels_, *config_.DIR_LABEL_IMGS,
                                                    &labelImages_->file());
      assistant_->SetSupplier(preparer_.get());
      assistant_->SetProposals(proposals_);
    }
    labelImages_->SetCompleter(assistant_.get());
    std::printf("Label assist on.\n");
  }
  redraws_.labelWindowDirty = true;
}

void Labeler::RebuildLabelMap() {
  redraws_.labelWindowDirty = true;
  labelImages_->RebuildCommitted();
}

// Fills the cache slots of settings 1 to 5 for this frame, so that switching settings afterwards is immediate.
void Labeler::CacheAllSegmentations() {
  PresegParams& params = preseg_.currentPreseg();
  // However the caching ends, the setting is the one the trackbar shows and new strokes record.
  struct EndCaching {
    int& caching;
    int& algorithm;
    const int chosen;
    ~EndCaching() {
      caching = 0;
      algorithm = chosen;
    }
  } endCaching{cachingAll_, params.algorithm, params.algorithm};
  for (int setting = kPyramidPreseg; setting <= kLastPresegSetting; ++setting) {
    params.algorithm = setting;
    cachingAll_ = setting;
    preseg_.UpdatePresegmentation(timeline_->frame(), timeline_->currentFrame(), 1);
  }
  params.algorithm = endCaching.chosen;
  preseg_.UpdatePresegmentation(timeline_->frame(), timeline_->currentFrame(), 0);
}

// Moves the setting trackbar, as a click on it would: its callback computes and prints as usual.
void Labeler::StepPresegSetting(int step) {
  const int settings = kLastPresegSetting + 1;
  const int next = (preseg_.currentPreseg().algorithm + step + settings) % settings;
  windows_.SetTrackbarPosition("N,P,Q,O,U,F", kFrameWindow, next);
}

// Proposes this frame's labels from the stored label image of the frame before it (`from` -1) or after it (+1):
// each pixel takes the label found where the optical flow says it was in that frame, snapped to the regions of
// the chosen presegmentation. The proposal is one stroke: it labels only what is unlabelled, and is undone,
// redone, cleared and saved like the others.
void Labeler::ProposeLabels(int from) {
  const int current = timeline_->currentFrame();
  const int source = current + from;
  if (!CanCarry(timeline_->frame().size())) {
    std::printf("Frames of %d x %d pixels are too small to carry labels between (%d x %d at least).\n",
                timeline_->width(), timeline_->height(), kSmallestCarriedSide, kSmallestCarriedSide);
    return;
  }
  const std::string path = LabelImagePath(*config_.DIR_LABEL_IMGS, source);
  std::error_code error;
  if (source < 0 || source >= timeline_->frameCount() || !std::filesystem::exists(path, error)) {
    std::printf("No label image of frame %d to carry to frame %d.\n", source, current);
    return;
  }
  cv::Mat labels = labelImages_->SavedOnLeaving(source);
  if (labels.empty()) labels = ReadStoredLabelImage(path, timeline_->frame().size());
  if (labels.size() != timeline_->frame().size()) {
    std::printf("The label image of frame %d can't be carried: %s.\n", source,
                labels.empty() ? "it can't be decoded" : "it is not of the frame's size");
    return;
  }
  const DeliveredFrame sourcePicture = PictureOf(source);
  if (sourcePicture.image.empty()) {
    std::printf("Frame %d can't be read to carry its labels.\n", source);
    return;
  }
  cv::Mat carried = CarryLabels(labels, FlowBetween(timeline_->delivered(), sourcePicture));
  preseg_.UpdatePresegmentation(timeline_->frame(), current, 0);
  if (std::shared_ptr<const RegionMap> regions = preseg_.Regions()) carried = SnapToRegions(carried, *regions);
  AddLabelsAsStroke(std::move(carried));
  std::printf("Carried the labels of frame %d to frame %d.\n", source, current);
}

// Lays the frame's proposal (see ProposalFolder) over it as one stroke, as "p" lays carried labels: it labels
// only what is unlabelled, and is undone, redone, cleared and saved like the others.
void Labeler::LayProposal() {
  const int current = timeline_->currentFrame();
  if (proposals_ == nullptr) {
    std::printf("No proposals: the meta file names no DIR_PROPOSAL_IMGS.\n");
    return;
  }
  Proposal proposal = proposals_->Read(current, timeline_->frame().size());
  if (!proposal.problem.empty()) {
    std::printf("The proposal of frame %d, %s, can't be used: it %s.\n", current,
                LabelImagePath(proposals_->dir(), current).c_str(), proposal.problem.c_str());
    return;
  }
  if (proposal.labels.empty()) {
    std::printf("No proposal of frame %d in %s.\n", current, proposals_->dir().c_str());
    return;
  }
  AddLabelsAsStroke(std::move(proposal.labels));
  std::printf("Laid the proposal of frame %d over it%s.\n", current,
              proposal.unknown > 0
                  ? (", " + std::to_string(proposal.unknown) + " pixels of colours or numbers no label has left out")
                        .c_str()
                  : "");
}

void Labeler::AddLabelsAsStroke(cv::Mat labels) {
  strokes_.AddCarriedLabels(std::move(labels), FormatPresegParams(preseg_.currentPreseg()));
  labelImages_->RenderWorking();
  labelImages_->Commit();
  composer_->RedrawLabelWindow();
}

// The picture the worker read for a neighbour (so that what it prepared for that picture applies), else the
// timeline's.
DeliveredFrame Labeler::PictureOf(int frame) {
  if (preparer_ != nullptr) {
    DeliveredFrame prepared = preparer_->Picture(frame);
    if (!prepared.image.empty() && timeline_->StillCurrent(frame, prepared)) return prepared;
  }
  return timeline_->FrameAt(frame);
}

cv::Mat Labeler::FlowBetween(const DeliveredFrame& to, const DeliveredFrame& from) {
  if (preparer_ != nullptr) {
    cv::Mat prepared = preparer_->Flow(to.serial, from.serial);
    if (!prepared.empty()) return prepared;
  }
  return carrier_.Flow(GreyFrame(to), GreyFrame(from));
}

// Every conversion writes a new buffer: a grey frame handed out earlier stays what it was when its slot is
// reused.
cv::Mat Labeler::GreyFrame(const DeliveredFrame& picture) {
  for (const KeptGrey& kept : greyFrames_) {
    if (kept.serial == picture.serial) return kept.grey;
  }
  cv::Mat grey = preparer_ != nullptr ? preparer_->Grey(picture.serial) : cv::Mat();
  if (grey.empty()) cv::cvtColor(picture.image, grey, cv::COLOR_BGR2GRAY);
  greyFrames_[nextGrey_] = {picture.serial, grey};
  nextGrey_ = (nextGrey_ + 1) % greyFrames_.size();
  return grey;
}

// Forward to the first frame that has no stored label image, saving the frame left as a frame key does.
void Labeler::GoToNextFrameWithoutLabels() {
  const int current = timeline_->currentFrame();
  for (int frame = current + 1; frame < timeline_->frameCount(); ++frame) {
    std::error_code error;
    if (!std::filesystem::exists(LabelImagePath(*config_.DIR_LABEL_IMGS, frame), error)) {
      ChangeFrame(frame - current);
      return;
    }
  }
  std::printf("Every frame after frame %d has a label image.\n", current);
}

void Labeler::SelectLabelByHotKey(int digit) {
  int found = FindLabelByHotKey(digit, labels_);
  if (found < 0) return;
  currentLabel_ = found;
  std::printf("LabelInfo changed to %s.\n", labels_[found].name.c_str());
}

}  // namespace labeler
