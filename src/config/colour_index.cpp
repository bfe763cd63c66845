#include "config/colour_index.h"

#include <algorithm>

namespace labeler {
namespace {

int PackedCode(int red, int green, int blue) { return (red << 16) | (green << 8) | blue; }

}  // namespace

ColourIndex::ColourIndex(const LabelSet& labels) {
  for (size_t i = 0; i < labels.size(); ++i) {
    const LabelInfo& label = labels[i];
    byCode_.emplace_back(PackedCode(label.red, label.green, label.blue), static_cast<int>(i));
    if (blackLabel_ < 0 && label.red == 0 && label.green == 0 && label.blue == 0) blackLabel_ = static_cast<int>(i);
  }
  // Sorted by colour, then by index: the first entry of a colour is the label that comes first in the file.
  std::sort(byCode_.begin(), byCode_.end());
  byCode_.erase(std::unique(byCode_.begin(), byCode_.end(),
                            [](const auto& a, const auto& b) { return a.first == b.first; }),
                byCode_.end());
}

int ColourIndex::Find(const cv::Vec3b& pixel) const {
  const int code = PackedCode(pixel[2], pixel[1], pixel[0]);
  auto it = std::lower_bound(byCode_.begin(), byCode_.end(), std::make_pair(code, -1));
  return it != byCode_.end() && it->first == code ? it->second : -1;
}

}  // namespace labeler
