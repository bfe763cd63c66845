#include "preseg/region_map.h"

#include <numeric>

namespace labeler {
namespace {

int FindRoot(std::vector<int>& parent, int node) {
  while (parent[node] != node) {
    parent[node] = parent[parent[node]];
    node = parent[node];
  }
  return node;
}

void Unite(std::vector<int>& parent, int a, int b) {
  a = FindRoot(parent, a);
  b = FindRoot(parent, b);
  if (a < b) {
    parent[b] = a;
  } else if (b < a) {
    parent[a] = b;
  }
}

}  // namespace

// One raster pass joins every pixel with its equal-coloured neighbours above and to the left (the other four of
// its eight are joined when they come); the root of a set is its first pixel in raster order.
RegionMap::RegionMap(const cv::Mat& picture) {
  CV_Assert(picture.type() == CV_8UC3);
  const int width = picture.cols;
  const int height = picture.rows;
  const int total = width * height;
  std::vector<int> parent(total);
  std::iota(parent.begin(), parent.end(), 0);
  for (int y = 0; y < height; ++y) {
    const cv::Vec3b* row = picture.ptr<cv::Vec3b>(y);
    const cv::Vec3b* above = y > 0 ? picture.ptr<cv::Vec3b>(y - 1) : nullptr;
    for (int x = 0; x < width; ++x) {
      const int pixel = y * width + x;
      const cv::Vec3b colour = row[x];
      if (x > 0 && row[x - 1] == colour) Unite(parent, pixel, pixel - 1);
      if (above == nullptr) continue;
      if (x > 0 && above[x - 1] == colour) Unite(parent, pixel, pixel - width - 1);
      if (above[x] == colour) Unite(parent, pixel, pixel - width);
      if (x + 1 < width && above[x + 1] == colour) Unite(parent, pixel, pixel - width + 1);
    }
  }
  ids_.create(picture.size(), CV_32S);
  int* ids = ids_.ptr<int>(0);
  std::vector<int> count;
  std::vector<cv::Point> low;
  std::vector<cv::Point> high;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int pixel = y * width + x;
      const int root = FindRoot(parent, pixel);
      if (root == pixel) {
        ids[pixel] = static_cast<int>(count.size());
        count.push_back(0);
        low.emplace_back(x, y);
        high.emplace_back(x, y);
      } else {
        ids[pixel] = ids[root];  // the root comes first, so its id is known
      }
      const int region = ids[pixel];
      ++count[region];
      low[region].x = std::min(low[region].x, x);
      high[region].x = std::max(high[region].x, x);
      high[region].y = y;
    }
  }
  start_.assign(count.size() + 1, 0);
  for (size_t r = 0; r < count.size(); ++r) start_[r + 1] = start_[r] + count[r];
  pixels_.resize(total);
  std::vector<int> next(start_.begin(), start_.end() - 1);
  for (int pixel = 0; pixel < total; ++pixel) pixels_[next[ids[pixel]]++] = pixel;
  bounds_.resize(count.size());
  for (size_t r = 0; r < count.size(); ++r) bounds_[r] = cv::Rect(low[r], high[r] + cv::Point(1, 1));
}

}  // namespace labeler
