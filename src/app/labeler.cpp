#include "app/labeler.h"

#include <cstdio>
#include <opencv2/imgproc.hpp>

namespace labeler {

Labeler::Labeler(ui::WindowSystem& windows) : windows_(windows) {}

Labeler::~Labeler() = default;

int Labeler::Run(int argc, char** argv) {
  windows_.CreateWindow(kFrameWindow);
  windows_.CreateWindow(kPresegWindow);
  windows_.CreateWindow(kLabelWindow);
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
  timeline_->GoToFrame(0);
  labelMap_ = cv::Mat::zeros(timeline_->height(), timeline_->width(), CV_8UC3);
  windows_.ShowImage(kLabelWindow, labelMap_);
  ShowFrame();
  display_ = ComputeDisplayScale(timeline_->width(), timeline_->height(), *config_.MAX_WINDOW_DIM);
  rescaled_.create(display_.size, CV_8UC3);
  ShowRescaledFrame();
}

void Labeler::RunKeyLoop() {
  for (;;) {
    int key = windows_.WaitKey();
    if (key == ui::kKeyEscape) break;
    HandleKey(key);
  }
}

void Labeler::ShutDown() {
  windows_.DestroyWindow(kFrameWindow);
  windows_.DestroyWindow(kPresegWindow);
  windows_.DestroyWindow(kLabelWindow);
}

void Labeler::HandleKey(int key) {
  switch (key) {
    case ui::kKeyBackspace: MoveFrame(-1); break;
    case ' ': MoveFrame(+1); break;
    case '-': MoveFrame(-*config_.FILE_TIMELINE_JUMPBY); break;
    case '+': MoveFrame(+*config_.FILE_TIMELINE_JUMPBY); break;
    case 'c': MoveFrame(0); break;
    default:
      if (key >= '0' && key <= '9') SelectLabelByHotKey(key - '0');
      break;
  }
}

void Labeler::MoveFrame(int delta) {
  timeline_->GoToRelativeFrame(delta);
  ShowFrame();
  ShowRescaledFrame();
}

void Labeler::ShowFrame() { windows_.ShowImage(kFrameWindow, timeline_->frame()); }

void Labeler::ShowRescaledFrame() {
  cv::resize(timeline_->frame(), rescaled_, rescaled_.size(), 0, 0, cv::INTER_LINEAR);
  windows_.ShowImage(kPresegWindow, rescaled_);
}

void Labeler::SelectLabelByHotKey(int digit) {
  int found = FindLabelByHotKey(digit, labels_);
  if (found < 0) return;
  currentLabel_ = found;
  std::printf("LabelInfo changed to %s.\n", labels_[found].name.c_str());
}

}  // namespace labeler
