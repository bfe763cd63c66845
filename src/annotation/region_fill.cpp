#include "annotation/region_fill.h"

#include <algorithm>

namespace labeler {

void FillEqualColourRegion(const cv::Mat& image, int x, int y, cv::Mat& mask, std::vector<int>& pixels,
                           std::vector<int>& stack) {
  const int width = image.cols;
  const int height = image.rows;
  const cv::Vec3b colour = image.ptr<cv::Vec3b>(y)[x];
  uchar* marked = mask.ptr<uchar>(0);
  if (marked[y * width + x] != 0) return;
  stack.clear();
  stack.push_back(y * width + x);
  marked[y * width + x] = 1;
  while (!stack.empty()) {
    const int pixel = stack.back();
    stack.pop_back();
    pixels.push_back(pixel);
    const int px = pixel % width;
    const int py = pixel / width;
    for (int ny = std::max(py - 1, 0); ny <= std::min(py + 1, height - 1); ++ny) {
      const cv::Vec3b* row = image.ptr<cv::Vec3b>(ny);
      for (int nx = std::max(px - 1, 0); nx <= std::min(px + 1, width - 1); ++nx) {
        const int neighbour = ny * width + nx;
        if (marked[neighbour] == 0 && row[nx] == colour) {
          marked[neighbour] = 1;
          stack.push_back(neighbour);
        }
      }
    }
  }
}

}  // namespace labeler
