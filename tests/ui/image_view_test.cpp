// Views that share a View, as the frame and the label map do, when one of them or the View goes first.
#include "ui/image_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>
#include <vector>

namespace labeler::ui {
namespace {

class SharedView : public ::testing::Test {
 protected:
  SharedView() {
    if (QApplication::instance() == nullptr) application_ = std::make_unique<QApplication>(argc_, argv_);
  }

  int argc_ = 1;
  char program_[8] = "labeler";
  char* argv_[2] = {program_, nullptr};
  std::unique_ptr<QApplication> application_;
};

// A window destroyed while its view was shared (say the label map) left its peers zooming and repainting a
// widget that was gone.
TEST_F(SharedView, ADestroyedViewLeavesItsPeers) {
  View shared;
  View own;
  ImageView frame(nullptr, &shared);
  auto* labels = new ImageView(nullptr, &shared);
  auto* joined = new ImageView(nullptr, &own);
  joined->SetView(&shared);
  delete labels;
  delete joined;
  EXPECT_EQ(shared.views, std::vector<ImageView*>{&frame});
  EXPECT_TRUE(own.views.empty());
  shared.Repaint();  // updates every view in the list
}

// A window's own View is a member of the window, destroyed before the window's child widgets, its view among
// them.
TEST_F(SharedView, AViewMayGoBeforeItsViews) {
  auto view = std::make_unique<View>();
  auto* picture = new ImageView(nullptr, view.get());
  view.reset();
  delete picture;
}

}  // namespace
}  // namespace labeler::ui
