// LabelCompleter: what label assist offers the label images: the unpainted pixels of the current frame's label
// image filled in. The label images only borrow it; FrameAssistant is the one the labeller uses.
#ifndef LABELER_ANNOTATION_LABEL_COMPLETER_H_
#define LABELER_ANNOTATION_LABEL_COMPLETER_H_

#include <opencv2/core.hpp>

namespace labeler {

class LabelCompleter {
 public:
  virtual ~LabelCompleter() = default;
  // `painted` (8-bit colour, black unpainted) with the pixels it leaves black completed where evidence reaches.
  // May throw std::exception.
  virtual cv::Mat Complete(const cv::Mat& painted) = 0;
  // Whether a completion now would rest on other evidence than the last one (another frame, another
  // presegmentation published).
  virtual bool Outdated() const = 0;
};

}  // namespace labeler

#endif  // LABELER_ANNOTATION_LABEL_COMPLETER_H_
