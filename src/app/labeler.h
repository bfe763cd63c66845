// Labeler: the labelling application, from start-up through the key loop to shutdown.
//
// main() creates one Labeler over a WindowSystem and calls Run. The Labeler owns the configuration, the label
// set, the timeline and everything the windows show; the WindowSystem is borrowed and must outlive it.
#ifndef LABELER_APP_LABELER_H_
#define LABELER_APP_LABELER_H_

#include <memory>
#include <opencv2/core.hpp>
#include <string>

#include "app/display_scale.h"
#include "config/label_set.h"
#include "config/meta_file.h"
#include "timeline/timeline.h"
#include "ui/window_system.h"

namespace labeler {

inline constexpr const char* kFrameWindow = "Click Me!";
inline constexpr const char* kPresegWindow = "Rescaled PreSeg";
inline constexpr const char* kLabelWindow = "Labeled Map";

class Labeler {
 public:
  explicit Labeler(ui::WindowSystem& windows);
  ~Labeler();

  // Starts up from the meta file named by argv[1], runs the key loop until Escape and shuts down. Returns -1
  // when the argument is missing (after telling the user in a message box) and 0 after Escape. Throws
  // FatalError on unusable input.
  int Run(int argc, char** argv);

  // The key dispatcher of the key loop; Escape never reaches it.
  void HandleKey(int key);

  const Timeline& timeline() const { return *timeline_; }
  int currentLabel() const { return currentLabel_; }
  const DisplayScale& displayScale() const { return display_; }

 private:
  void StartUp(const std::string& metaPath);
  void RunKeyLoop();
  void ShutDown();
  void MoveFrame(int delta);
  void ShowFrame();
  void ShowRescaledFrame();
  void SelectLabelByHotKey(int digit);

  ui::WindowSystem& windows_;
  MetaConfig config_;
  LabelSet labels_;
  int currentLabel_ = 0;
  std::unique_ptr<Timeline> timeline_;
  DisplayScale display_;
  cv::Mat rescaled_;
  cv::Mat labelMap_;
};

}  // namespace labeler

#endif  // LABELER_APP_LABELER_H_
