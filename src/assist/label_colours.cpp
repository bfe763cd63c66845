#include "assist/label_colours.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <unordered_map>

namespace labeler {
namespace {

int Distance(const cv::Vec3b& a, const cv::Vec3b& b) {
  return std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])});
}

uint32_t Code(const cv::Vec3b& colour) { return colour[0] | (colour[1] << 8) | (colour[2] << 16); }

}  // namespace

// The nearest of black and the label colours, when it is near enough; black wins a tie.
cv::Vec3b LabelColours::Meaning(const cv::Vec3b& colour, bool& known) const {
  cv::Vec3b meaning(0, 0, 0);
  int nearest = Distance(colour, meaning);
  for (const cv::Vec3b& label : colours_) {
    const int distance = Distance(colour, label);
    if (distance < nearest) {
      nearest = distance;
      meaning = label;
    }
  }
  known = nearest <= kNearLabel;
  return known ? meaning : cv::Vec3b(0, 0, 0);
}

int LabelColours::Map(cv::Mat& labels, cv::Mat& painted) const {
  CV_Assert(labels.type() == CV_8UC3 && painted.type() == CV_8UC1 && painted.size() == labels.size());
  int unknown = 0;
  std::unordered_map<uint32_t, std::pair<cv::Vec3b, bool>> seen;
  cv::Vec3b lastIn(0, 0, 0), lastOut(0, 0, 0);
  bool lastKnown = true;
  for (int y = 0; y < labels.rows; ++y) {
    cv::Vec3b* pixel = labels.ptr<cv::Vec3b>(y);
    uchar* mark = painted.ptr<uchar>(y);
    for (int x = 0; x < labels.cols; ++x) {
      if (mark[x] == 0) continue;
      if (pixel[x] != lastIn) {
        lastIn = pixel[x];
        auto [entry, added] = seen.try_emplace(Code(lastIn));
        if (added) entry->second.first = Meaning(lastIn, entry->second.second);
        lastOut = entry->second.first;
        lastKnown = entry->second.second;
      }
      if (lastOut == cv::Vec3b(0, 0, 0) && pixel[x] != lastOut) mark[x] = 0;
      pixel[x] = lastOut;
      unknown += lastKnown ? 0 : 1;
    }
  }
  return unknown;
}

}  // namespace labeler
