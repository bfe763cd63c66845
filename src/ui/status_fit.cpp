#include "ui/status_fit.h"

#include <numeric>

namespace labeler::ui {

std::vector<size_t> PartsThatFit(const std::vector<int>& widths, const std::vector<int>& importance, int gap,
                                 int room) {
  std::vector<size_t> kept(widths.size());
  std::iota(kept.begin(), kept.end(), size_t{0});
  auto width = [&] {
    int total = 0;
    for (size_t part : kept) total += widths[part];
    return kept.empty() ? 0 : total + gap * static_cast<int>(kept.size() - 1);
  };
  while (kept.size() > 1 && width() > room) {
    size_t least = 0;
    for (size_t i = 1; i < kept.size(); ++i) {
      if (importance[kept[i]] <= importance[kept[least]]) least = i;
    }
    kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(least));
  }
  return kept;
}

}  // namespace labeler::ui
