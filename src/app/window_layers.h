// The layers the labeller's windows are composed from, and the picture that stacks them.
//
// A window's picture is its layers drawn bottom first: the frame, the label overlay and the brush marks in
// "Click Me!"; the presegmentation, the highlighted region and the marks in "Rescaled PreSeg"; the working label
// image, the region edges and the cursor in "Labeled Map". A layer reads its state from the model, knows the
// rectangle where its state differs from what the picture shows, and draws any rectangle of itself. To redraw,
// a LayeredPicture gathers the layers' changes and draws every layer there, and only there, so a mouse move costs
// the size of the brush; drawing everything gives exactly the same picture. Layers borrow the model objects they
// read; the window composer owns the layers and the pictures.
#ifndef LABELER_APP_WINDOW_LAYERS_H_
#define LABELER_APP_WINDOW_LAYERS_H_

#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

#include "annotation/label_images.h"
#include "annotation/mouse_interaction.h"
#include "annotation/stroke_store.h"
#include "preseg/preseg_engine.h"
#include "timeline/timeline.h"

namespace labeler {

class PictureLayer {
 public:
  virtual ~PictureLayer() = default;
  // Where the picture must change for this layer: what it showed there and what it will show. `whole` is the
  // picture's rectangle, returned when the layer can't place its change.
  virtual cv::Rect Changes(const cv::Rect& whole) = 0;
  // Draws the layer's state over `rect` of `picture`, the layers below it drawn there already.
  virtual void Draw(cv::Mat& picture, const cv::Rect& rect) const = 0;
  // The picture now shows the layer's state.
  virtual void Drawn() = 0;
};

// The source rows and columns "Rescaled PreSeg" reads (see Rescaler): its layers need to be computed only there.
struct Sampling {
  const std::vector<int>* rows = nullptr;
  const std::vector<int>* columns = nullptr;
};

// A picture made of layers, bottom first.
class LayeredPicture {
 public:
  LayeredPicture(cv::Mat& picture, std::vector<PictureLayer*> layers) : picture_(picture), layers_(std::move(layers)) {}

  // Draws every layer where some layer changed (everywhere with `whole`, or when the window shows something
  // else) and returns that rectangle, empty when nothing changed.
  cv::Rect Compose(bool whole);
  // The window shows another picture now (the label legend): the next Compose draws everything.
  void Forget() { shown_ = false; }
  bool shown() const { return shown_; }

 private:
  cv::Mat& picture_;
  std::vector<PictureLayer*> layers_;
  bool shown_ = false;
};

// The brush circle and the discs of the stroke being painted.
struct Marks {
  bool cursorShown = false;
  cv::Point cursor;
  int radius = 0;
  uint64_t stroke = 0;  // serial of the stroke whose discs are shown, 0 for none
  size_t discs = 0;
  cv::Rect discBounds;

  static Marks Of(cv::Point cursor, int radius, const Stroke* stroke);
  // The rectangle where `next`, showing the discs of `stroke` (or none), differs from these marks.
  cv::Rect ChangesTo(const Marks& next, const Stroke* stroke) const;
};

class MarksLayer : public PictureLayer {
 public:
  explicit MarksLayer(const StrokeStore& strokes) : strokes_(strokes) {}
  // The marks to draw next. A stroke undone or cleared since takes its discs with it.
  void Set(const Marks& next) { next_ = next; }
  const Marks& next() const { return next_; }

  cv::Rect Changes(const cv::Rect& whole) override;
  void Draw(cv::Mat& picture, const cv::Rect& rect) const override;
  void Drawn() override { shown_ = next_; }

 private:
  const Stroke* FindStroke(uint64_t serial) const;

  const StrokeStore& strokes_;
  Marks shown_;
  Marks next_;
};

// "Click Me!": the frame.
class FrameLayer : public PictureLayer {
 public:
  explicit FrameLayer(const Timeline& timeline) : timeline_(timeline) {}
  cv::Rect Changes(const cv::Rect& whole) override;
  void Draw(cv::Mat& picture, const cv::Rect& rect) const override;
  void Drawn() override { shownSerial_ = timeline_.frameSerial(); }

 private:
  const Timeline& timeline_;
  uint64_t shownSerial_ = 0;
};

// "Click Me!": the working label image blended over the frame, labelled pixels only, at 0 (none), 40 or 70 percent.
class LabelOverlayLayer : public PictureLayer {
 public:
  explicit LabelOverlayLayer(const LabelImages& labelImages) : labelImages_(labelImages) {}
  void SetPercent(int percent) { percent_ = percent; }
  int percent() const { return percent_; }

  cv::Rect Changes(const cv::Rect& whole) override;
  void Draw(cv::Mat& picture, const cv::Rect& rect) const override;
  void Drawn() override;

 private:
  const LabelImages& labelImages_;
  int percent_ = 0;
  int shownPercent_ = 0;
  uint64_t shownGeneration_ = 0;  // of the working label image
};

// "Rescaled PreSeg": the presegmentation lightened to low contrast, or the frame itself with no presegmentation.
class PresegLayer : public PictureLayer {
 public:
  PresegLayer(const Timeline& timeline, const PresegEngine& preseg, Sampling sampling);
  cv::Rect Changes(const cv::Rect& whole) override;
  void Draw(cv::Mat& picture, const cv::Rect& rect) const override;
  void Drawn() override;

 private:
  const Timeline& timeline_;
  const PresegEngine& preseg_;
  Sampling sampling_;
  uchar lighten_[256];  // presegmentation value to its lightened, low-contrast value
  uint64_t shownSerial_ = 0;
  uint64_t shownGeneration_ = 0;
};

// "Rescaled PreSeg": the region under the pointer, the frame showing through it shifted so that a pixel of the
// region's own colour becomes exactly the highlight colour. Over a presegmentation only.
class HighlightLayer : public PictureLayer {
 public:
  HighlightLayer(const Timeline& timeline, const PresegEngine& preseg, const PointerState& pointer,
                 Sampling sampling)
      : timeline_(timeline), preseg_(preseg), pointer_(pointer), sampling_(sampling) {}
  cv::Rect Changes(const cv::Rect& whole) override;
  void Draw(cv::Mat& picture, const cv::Rect& rect) const override;
  void Drawn() override;

 private:
  const Timeline& timeline_;
  const PresegEngine& preseg_;
  const PointerState& pointer_;
  Sampling sampling_;
  uint64_t shownSelection_ = 0;
  cv::Rect shownBounds_;
};

// A layer drawn from the label images: it changes where the working label image changed.
class LabelImagesLayer : public PictureLayer {
 public:
  explicit LabelImagesLayer(const LabelImages& labelImages) : labelImages_(labelImages) {}
  cv::Rect Changes(const cv::Rect&) override { return labelImages_.ChangesSince(shownGeneration_); }
  void Drawn() override { shownGeneration_ = labelImages_.workingGeneration(); }

 protected:
  const LabelImages& labelImages_;

 private:
  uint64_t shownGeneration_ = 0;
};

// "Labeled Map": the working label image.
class WorkingLabelsLayer : public LabelImagesLayer {
 public:
  using LabelImagesLayer::LabelImagesLayer;
  void Draw(cv::Mat& picture, const cv::Rect& rect) const override;
};

// "Labeled Map", with assist on: the outline of the areas where the completion is unsure, in dashes of yellow and
// black over the region boundaries, where no label colour or edge hides them.
class UnsureAreasLayer : public LabelImagesLayer {
 public:
  using LabelImagesLayer::LabelImagesLayer;
  void Draw(cv::Mat& picture, const cv::Rect& rect) const override;
};

// "Labeled Map": the presegmentation's region boundaries, in the grey level of its edge image.
class EdgesLayer : public PictureLayer {
 public:
  explicit EdgesLayer(const PresegEngine& preseg) : preseg_(preseg) {}
  cv::Rect Changes(const cv::Rect& whole) override;
  void Draw(cv::Mat& picture, const cv::Rect& rect) const override;
  void Drawn() override { shownGeneration_ = preseg_.publishedGeneration(); }

 private:
  const PresegEngine& preseg_;
  uint64_t shownGeneration_ = 0;
};

}  // namespace labeler

#endif  // LABELER_APP_WINDOW_LAYERS_H_
