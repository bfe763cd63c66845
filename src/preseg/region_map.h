// RegionMap: the regions of a presegmentation picture, found once.
//
// A region is a set of 8-connected pixels of exactly one colour. The map numbers the regions in the order their
// first pixel comes in raster order, gives every pixel its region, and lists each region's pixels (ascending,
// so row by row) with its bounds. The region under the pointer, its highlight and the fill of a stroke are then
// looked up instead of flooded, whatever the size of the region. Building costs a few passes over the picture;
// a map is immutable afterwards and may be shared.
#ifndef LABELER_PRESEG_REGION_MAP_H_
#define LABELER_PRESEG_REGION_MAP_H_

#include <opencv2/core.hpp>
#include <span>
#include <vector>

namespace labeler {

class RegionMap {
 public:
  // Finds the regions of `picture` (8-bit, 3 channels).
  explicit RegionMap(const cv::Mat& picture);

  int RegionAt(int x, int y) const { return ids_.ptr<int>(y)[x]; }
  // The region of every pixel (32-bit integers).
  const cv::Mat& ids() const { return ids_; }
  int regionCount() const { return static_cast<int>(bounds_.size()); }
  // The pixels of `region` as offsets y * width + x, ascending.
  std::span<const int> Pixels(int region) const {
    return {pixels_.data() + start_[region], pixels_.data() + start_[region + 1]};
  }
  const cv::Rect& Bounds(int region) const { return bounds_[region]; }

 private:
  cv::Mat ids_;
  std::vector<int> start_;   // region r's pixels are pixels_[start_[r], start_[r + 1])
  std::vector<int> pixels_;
  std::vector<cv::Rect> bounds_;
};

}  // namespace labeler

#endif  // LABELER_PRESEG_REGION_MAP_H_
