// RedrawRequests: which windows must be redrawn after the current key.
//
// The frame change and the label-map rebuild set them; the window composer carries them out, in the order
// "Click Me!", "Rescaled PreSeg", "Labeled Map", and clears each after its redraw, so a window is redrawn at
// most once however many requests came in.
#ifndef LABELER_ANNOTATION_REDRAW_REQUESTS_H_
#define LABELER_ANNOTATION_REDRAW_REQUESTS_H_

namespace labeler {

struct RedrawRequests {
  bool frameWindowDirty = false;
  bool presegWindowDirty = false;
  bool labelWindowDirty = false;
};

}  // namespace labeler

#endif  // LABELER_ANNOTATION_REDRAW_REQUESTS_H_
