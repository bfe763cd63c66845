// RedrawRequests: which windows must be redrawn after the current key.
//
// The frame change, the label-map rebuild and the presegmentation trackbars set them. After each key the
// labeller first brings what they read up to date (publishes the current presegmentation, renders the working
// label image), then the window composer carries them out, in the order "Click Me!", "Rescaled PreSeg",
// "Labeled Map", and clears each after its redraw, so a window is redrawn at most once however many requests
// came in.
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
