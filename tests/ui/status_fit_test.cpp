// A status line too narrow for all its parts drops the least important ones, whole, the rightmost first.
#include "ui/status_fit.h"

#include <gtest/gtest.h>

namespace labeler::ui {
namespace {

TEST(StatusFit, TheLeastImportantPartsGiveWayRightmostFirst) {
  const std::vector<int> widths = {100, 60, 50, 80, 40};
  const std::vector<int> importance = {3, 3, 0, 1, 1};
  using Kept = std::vector<size_t>;
  EXPECT_EQ(PartsThatFit(widths, importance, 10, 370), (Kept{0, 1, 2, 3, 4})) << "all fit exactly";
  EXPECT_EQ(PartsThatFit(widths, importance, 10, 369), (Kept{0, 1, 3, 4}));
  EXPECT_EQ(PartsThatFit(widths, importance, 10, 300), (Kept{0, 1, 3}));
  EXPECT_EQ(PartsThatFit(widths, importance, 10, 170), (Kept{0, 1}));
  EXPECT_EQ(PartsThatFit(widths, importance, 10, 50), (Kept{0})) << "the first of the most important stays";
  EXPECT_EQ(PartsThatFit({}, {}, 10, 50), Kept{});
}

}  // namespace
}  // namespace labeler::ui
