// LabelCompleter: what label assist offers the label images: the unpainted pixels of the current frame's label
// image filled in, and how sure each pixel is. The label images only borrow it; FrameAssistant is the one the
// labeller uses.
#ifndef LABELER_ANNOTATION_LABEL_COMPLETER_H_
#define LABELER_ANNOTATION_LABEL_COMPLETER_H_

#include <opencv2/core.hpp>

namespace labeler {

class LabelCompleter {
 public:
  virtual ~LabelCompleter() = default;
  // `labels` (8-bit colour) completed: every pixel `painted` (8-bit, one channel, non-zero = painted by hand;
  // a painted pixel may be black, the colour of a black label) keeps its colour; every other pixel takes the
  // label the evidence gives it, or black where no evidence reaches. What `labels` holds at unpainted pixels is
  // ignored. May throw std::exception.
  virtual cv::Mat Complete(const cv::Mat& labels, const cv::Mat& painted) = 0;
  // The confidence of the last completion: 8-bit, one channel, the frame's size; 255 = sure (painted pixels),
  // 0 = no evidence reaches. Empty before the first completion.
  virtual cv::Mat Confidence() const = 0;
  // Whether a completion now would rest on other evidence than the last one (another frame, another
  // presegmentation published).
  virtual bool Outdated() const = 0;
};

}  // namespace labeler

#endif  // LABELER_ANNOTATION_LABEL_COMPLETER_H_
