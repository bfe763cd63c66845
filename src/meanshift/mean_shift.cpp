#include "meanshift/mean_shift.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/cancellation.h"
#include "common/random.h"
#include "common/report.h"

namespace labeler {
namespace {

constexpr int kMaxClusters = 50;
constexpr int kMaxFailures = 10;  // the eleventh failure of a run ends its search
constexpr int kMaxShifts = 10;
constexpr int kCandidates = 25;
constexpr uint8_t kUnclustered = 255;
constexpr uint32_t kSeed = 29254088;
constexpr int kCoarseBins = 262144;

// The three parameter sets.
struct ModeParameters {
  float radiusFactor;
  int smallestFloor;
  int smallestDivisor;
  int growthNeeds;  // a pixel joins a growing cluster with more member neighbours than this
  int pruneLimit;   // clusters whose largest region is smaller are dropped; 0 means minClusterSize
  bool mergeSmallRegions;
};
constexpr ModeParameters kModes[3] = {
    {2.0f, 50, 4, 2, 10, false},
    {3.0f, 100, 2, 1, 20, true},
    {4.0f, 400, 1, 0, 0, true},
};

struct Point3 {
  float L, u, v;
};

// One 4-connected set of pixels of one label; its pixels are stored in the order they were found.
struct Region {
  int label;
  int first;  // into the region pixel array
  int size;
};

// The distinct colours indexed by a grid over L*u*v*, so that a window search looks only at the colours in
// the cells its bounding box overlaps. Built once per run, when the radius is known; colours that leave the
// pool stay in it with weight 0, which adds nothing to the sums.
class LuvGrid {
 public:
  void Build(const std::vector<int>& L, const std::vector<int>& u, const std::vector<int>& v, float radius) {
    const std::vector<int>* axes[3] = {&L, &u, &v};
    int extent = 1;
    for (int a = 0; a < 3; ++a) {
      const auto [low, high] = std::minmax_element(axes[a]->begin(), axes[a]->end());
      low_[a] = axes[a]->empty() ? 0 : *low;
      extent = std::max(extent, axes[a]->empty() ? 1 : *high - *low + 1);
    }
    constexpr int kMostCellsPerAxis = 64;
    side_ = std::max({radius, 1.0f, static_cast<float>(extent) / kMostCellsPerAxis});
    for (int a = 0; a < 3; ++a) {
      int high = low_[a];
      for (int value : *axes[a]) high = std::max(high, value);
      cells_[a] = CellOf(a, static_cast<float>(high)) + 1;
    }
    const size_t cellCount = static_cast<size_t>(cells_[0]) * cells_[1] * cells_[2];
    start_.assign(cellCount + 1, 0);
    const int count = static_cast<int>(L.size());
    std::vector<int> cellOfColour(count);
    for (int j = 0; j < count; ++j) {
      cellOfColour[j] = Index(CellOf(0, static_cast<float>(L[j])), CellOf(1, static_cast<float>(u[j])),
                              CellOf(2, static_cast<float>(v[j])));
      ++start_[cellOfColour[j] + 1];
    }
    for (size_t c = 0; c < cellCount; ++c) start_[c + 1] += start_[c];
    colours_.resize(count);
    std::vector<int> fill(start_.begin(), start_.end() - 1);
    for (int j = 0; j < count; ++j) colours_[fill[cellOfColour[j]]++] = j;
  }

  // Calls visit(colour) for every colour in the cells that the box centre +- radius overlaps.
  template <typename Visit>
  void ForEachNear(const float centre[3], float radius, Visit&& visit) const {
    int from[3], to[3];
    for (int a = 0; a < 3; ++a) {
      from[a] = std::max(CellOf(a, centre[a] - radius), 0);
      to[a] = std::min(CellOf(a, centre[a] + radius), cells_[a] - 1);
      if (from[a] > to[a]) return;
    }
    for (int i = from[0]; i <= to[0]; ++i) {
      for (int k = from[1]; k <= to[1]; ++k) {
        const int rowStart = Index(i, k, from[2]);
        const int rowEnd = Index(i, k, to[2]) + 1;
        for (int c = start_[rowStart]; c < start_[rowEnd]; ++c) visit(colours_[c]);
      }
    }
  }

 private:
  int CellOf(int axis, float value) const {
    return static_cast<int>(std::floor((value - static_cast<float>(low_[axis])) / side_));
  }
  int Index(int i, int k, int m) const { return (i * cells_[1] + k) * cells_[2] + m; }

  int low_[3] = {0, 0, 0};
  int cells_[3] = {1, 1, 1};
  float side_ = 1;
  std::vector<int> start_;
  std::vector<int> colours_;
};

}  // namespace

// One run's working record; its buffers keep their storage from run to run.
class MeanShiftSegmenter::Impl {
 public:
  // The whole run on `frame` in `mode`; fills the output planes (channel order of the frame) and the boundary
  // map.
  void Run(const cv::Mat& frame, int mode, Random& random, bool marks, const std::stop_token& stop);

  int colourCount() const { return colourCount_; }
  int withheldMarks() const { return withheldMarks_; }
  int clusterCount() const { return n_; }
  const std::vector<std::array<uint8_t, 3>>& output() const { return output_; }
  const std::vector<uint8_t>& boundaries() const { return boundaries_; }

 private:
  // A progress mark on standard error, written at once, when the run shows them.
  void Mark() {
    ThrowIfCancelled(stop_);
    if (!marks_) {
      ++withheldMarks_;
      return;
    }
    std::fputc(':', stderr);
    std::fflush(stderr);
  }
  // The colour table, the conversion to L*u*v* and the radius.
  void BuildColourTable();
  void ConvertToLuv();
  void ComputeSearchRadius();
  // The cluster search.
  int FindClusters();
  bool SampleStartWindow(int k);
  Point3 DrawStartPoint();
  bool ShiftWindow(Point3& point);
  void GrowMembers(int growthNeeds);
  void RemoveMembers();
  // Clean-up, final assignment and output.
  void FindRegions(std::vector<int>* largest);
  void PruneClusters(const std::vector<int>& largest, int limit);
  void AssignPixels();
  void RecomputeCentres();
  void AssignNearest();
  void MergeSmallRegions(int limit);
  void WriteBoundaryMap();

  bool InWindow(float dL, float du, float dv) const {
    return std::fabs(dL) < windowRadius_ && std::fabs(du) < windowRadius_ && std::fabs(dv) < windowRadius_ &&
           dL * dL + du * du + dv * dv < windowRadiusSquared_;
  }
  float SquaredDistance(int pixel, const Point3& centre) const {
    const float dL = static_cast<float>(featureL_[pixel]) - centre.L;
    const float du = static_cast<float>(featureU_[pixel]) - centre.u;
    const float dv = static_cast<float>(featureV_[pixel]) - centre.v;
    return dL * dL + du * du + dv * dv;
  }
  bool InRange(long long index) const { return index >= 0 && index < pixelCount_; }

  const ModeParameters* mode_ = &kModes[0];
  int width_ = 0;
  int height_ = 0;
  int pixelCount_ = 0;
  std::vector<uint8_t> planes_[3];
  int neighbourOffsets_[8];  // up-left, up, up-right, right, down-right, down, down-left, left

  // The colour table: distinct colours in ascending packed-code order, and the pixels sorted by coarse bin
  // to build it.
  std::vector<int> binStart_;
  std::vector<int> binPixels_;
  std::vector<int> binFill_;
  int colourCount_ = 0;
  std::vector<int> colourCode_;
  std::vector<int> colourPixels_;
  std::vector<int> colourL_, colourU_, colourV_;
  std::vector<int> pixelColour_;
  std::vector<int> featureL_, featureU_, featureV_;

  float searchRadius_ = 0;
  float searchRadiusSquared_ = 0;
  float assignRadius_ = 0;
  float windowRadius_ = 0;
  float windowRadiusSquared_ = 0;
  int minClusterSize_ = 0;
  int candidateCount_ = kCandidates;

  // The pool not yet clustered.
  std::vector<int> remainingPixels_;
  std::vector<int> remainingColourWeight_;
  LuvGrid grid_;
  std::vector<uint8_t> labels_;

  // One search's members.
  std::vector<int> members_;
  std::vector<uint8_t> memberMask_;
  std::vector<uint8_t> colourMask_;
  std::vector<int> growthCandidates_;
  std::vector<uint8_t> candidateMark_;

  int n_ = 0;
  Random* random_ = nullptr;  // the generator of the run in progress
  bool marks_ = true;          // whether the run shows its progress marks
  std::stop_token stop_;       // of the run in progress
  int withheldMarks_ = 0;      // ... and how many it did not show
  Point3 centres_[kMaxClusters];
  bool emptyCluster_[kMaxClusters] = {};
  std::array<int, 3> clusterColour_[kMaxClusters];

  std::vector<Region> regions_;
  std::vector<int> regionPixels_;
  std::vector<uint8_t> visited_;
  std::vector<int> stack_;

  std::vector<std::array<uint8_t, 3>> output_;
  std::vector<uint8_t> boundaries_;
};

void MeanShiftSegmenter::Impl::Run(const cv::Mat& frame, int mode, Random& random, bool marks,
                                   const std::stop_token& stop) {
  stop_ = stop;
  random_ = &random;
  marks_ = marks;
  withheldMarks_ = 0;
  mode_ = &kModes[mode];
  width_ = frame.cols;
  height_ = frame.rows;
  pixelCount_ = frame.cols * frame.rows;
  for (auto& plane : planes_) plane.resize(pixelCount_);
  for (int y = 0; y < height_; ++y) {
    const uchar* row = frame.ptr<uchar>(y);
    for (int x = 0; x < width_; ++x) {
      for (int c = 0; c < 3; ++c) planes_[c][y * width_ + x] = row[3 * x + c];
    }
  }
  const int w = width_;
  const int offsets[8] = {-w - 1, -w, -w + 1, 1, w + 1, w, w - 1, -1};
  std::copy_n(offsets, 8, neighbourOffsets_);
  candidateCount_ = kCandidates;
  Mark();
  random_->Seed(kSeed);
  BuildColourTable();
  Mark();
  ConvertToLuv();
  Mark();
  labels_.assign(pixelCount_, kUnclustered);
  remainingPixels_.resize(pixelCount_);
  for (int p = 0; p < pixelCount_; ++p) remainingPixels_[p] = p;
  remainingColourWeight_ = colourPixels_;
  ComputeSearchRadius();
  Mark();
  grid_.Build(colourL_, colourU_, colourV_, searchRadius_);
  n_ = FindClusters();

  output_.assign(pixelCount_, {0, 0, 0});
  for (uint8_t& label : labels_) {
    if (label == kUnclustered) label = static_cast<uint8_t>(n_);
  }
  std::vector<int> largest(n_ + 1, 0);
  FindRegions(&largest);
  PruneClusters(largest, mode_->pruneLimit > 0 ? mode_->pruneLimit : minClusterSize_);
  Mark();
  AssignPixels();
  RecomputeCentres();
  AssignNearest();
  Mark();
  for (int c = 0; c < n_; ++c) clusterColour_[c] = LuvToRgb(centres_[c].L, centres_[c].u, centres_[c].v);
  if (mode_->mergeSmallRegions) {
    for (int limit : {2, 4, 6, 8}) {
      FindRegions(nullptr);
      MergeSmallRegions(limit);
      Mark();
    }
  }
  for (int p = 0; p < pixelCount_; ++p) {
    const int label = labels_[p];
    if (label == n_) continue;
    for (int c = 0; c < 3; ++c) output_[p][c] = static_cast<uint8_t>(clusterColour_[label][c]);
  }
  WriteBoundaryMap();
}

// Distinct colours numbered in ascending packed-code order c0 x 65536 + c1 x 256 + c2, found through 262144
// coarse bins (c0, c1 and the top two bits of c2) of up to 64 colours each.
void MeanShiftSegmenter::Impl::BuildColourTable() {
  std::vector<int>& binStart = binStart_;
  binStart.assign(kCoarseBins + 1, 0);
  auto keyOf = [this](int p) { return planes_[0][p] * 1024 + planes_[1][p] * 4 + (planes_[2][p] >> 6); };
  for (int p = 0; p < pixelCount_; ++p) ++binStart[keyOf(p) + 1];
  for (int key = 0; key < kCoarseBins; ++key) binStart[key + 1] += binStart[key];
  // The pixels bin after bin, so that each bin's colours are numbered and its pixels given their colour in
  // one visit.
  std::vector<int>& binPixels = binPixels_;
  binPixels.resize(pixelCount_);
  std::vector<int>& fill = binFill_;
  fill.assign(binStart.begin(), binStart.end() - 1);
  for (int p = 0; p < pixelCount_; ++p) binPixels[fill[keyOf(p)]++] = p;
  colourCode_.clear();
  colourPixels_.clear();
  pixelColour_.resize(pixelCount_);
  for (int key = 0; key < kCoarseBins; ++key) {
    if (binStart[key] == binStart[key + 1]) continue;
    int counts[64] = {};
    for (int i = binStart[key]; i < binStart[key + 1]; ++i) ++counts[planes_[2][binPixels[i]] & 63];
    int colourOfLow[64];
    for (int low = 0; low < 64; ++low) {
      if (counts[low] == 0) continue;
      colourOfLow[low] = static_cast<int>(colourCode_.size());
      colourCode_.push_back(key * 64 + low);
      colourPixels_.push_back(counts[low]);
    }
    for (int i = binStart[key]; i < binStart[key + 1]; ++i) {
      const int p = binPixels[i];
      pixelColour_[p] = colourOfLow[planes_[2][p] & 63];
    }
  }
  colourCount_ = static_cast<int>(colourCode_.size());
  colourL_.resize(colourCount_);
  colourU_.resize(colourCount_);
  colourV_.resize(colourCount_);
}

void MeanShiftSegmenter::Impl::ConvertToLuv() {
  for (int j = 0; j < colourCount_; ++j) {
    const int code = colourCode_[j];
    const std::array<int, 3> luv = ColourToLuv(code >> 16, (code >> 8) & 0xff, code & 0xff);
    colourL_[j] = luv[0];
    colourU_[j] = luv[1];
    colourV_[j] = luv[2];
  }
  featureL_.resize(pixelCount_);
  featureU_.resize(pixelCount_);
  featureV_.resize(pixelCount_);
  for (int p = 0; p < pixelCount_; ++p) {
    const int j = pixelColour_[p];
    featureL_[p] = colourL_[j];
    featureU_[p] = colourU_[j];
    featureV_[p] = colourV_[j];
  }
  colourCode_.clear();
}

void MeanShiftSegmenter::Impl::ComputeSearchRadius() {
  const std::vector<int>* features[3] = {&colourL_, &colourU_, &colourV_};
  float variance[3] = {0, 0, 0};
  for (int f = 0; f < 3; ++f) {
    const std::vector<int>& value = *features[f];
    long long sum = 0;
    for (int j = 0; j < colourCount_; ++j) sum += static_cast<long long>(colourPixels_[j]) * value[j];
    const long long mean = sum / pixelCount_;
    float squares = 0;
    for (int j = 0; j < colourCount_; ++j) {
      const long long difference = value[j] - mean;
      squares += static_cast<float>(colourPixels_[j]) * static_cast<float>(difference * difference);
    }
    // A frame of one pixel has no spread: variance 0, so radius 0 and no cluster.
    variance[f] = pixelCount_ > 1 ? squares / static_cast<float>(pixelCount_ - 1) : 0.0f;
  }
  const float total = variance[0] + variance[1] + variance[2];
  const float s = static_cast<float>(std::sqrt(total * 0.01));
  searchRadius_ = s * mode_->radiusFactor;
  searchRadiusSquared_ = searchRadius_ * searchRadius_;
  assignRadius_ = static_cast<float>(1.26 * searchRadius_);
  minClusterSize_ = MinClusterSize(pixelCount_, static_cast<int>(mode_ - kModes));
}

// Up to 50 clusters, one search after another over what the earlier ones left; ten failures in all are
// tolerated, the eleventh ends the search.
int MeanShiftSegmenter::Impl::FindClusters() {
  int k = 0;
  int failures = 0;
  memberMask_.assign(pixelCount_, 0);
  colourMask_.assign(colourCount_, 0);
  candidateMark_.assign(pixelCount_, 0);
  auto fail = [&failures] { return failures++ < kMaxFailures; };  // true: try again
  while (k < kMaxClusters) {
    Mark();
    bool accepted = false;
    bool searching = true;
    while (searching && !accepted) {
      if (failures > 0) candidateCount_ = 1;
      if (!SampleStartWindow(k)) {
        searching = fail();
        continue;
      }
      Point3 point = centres_[k];
      windowRadius_ = searchRadius_;
      windowRadiusSquared_ = windowRadius_ * windowRadius_;
      members_.clear();
      for (int step = 0; step < kMaxShifts; ++step) {
        std::fill(colourMask_.begin(), colourMask_.end(), 0);
        if (!ShiftWindow(point)) break;  // an empty window has no mean: no members
        const float dL = centres_[k].L - point.L;
        const float du = centres_[k].u - point.u;
        const float dv = centres_[k].v - point.v;
        if (dL * dL + du * du + dv * dv < 0.1) {
          for (int p : remainingPixels_) {
            if (colourMask_[pixelColour_[p]]) {
              members_.push_back(p);
              memberMask_[p] = 1;
            }
          }
          break;
        }
        centres_[k] = point;
      }
      GrowMembers(mode_->growthNeeds);
      if (static_cast<int>(members_.size()) >= minClusterSize_) {
        accepted = true;
      } else {
        for (int p : members_) memberMask_[p] = 0;
        searching = fail();
      }
    }
    if (!accepted) break;
    RemoveMembers();
    for (int p : members_) {
      labels_[p] = static_cast<uint8_t>(k);
      memberMask_[p] = 0;
    }
    ++k;
  }
  return k;
}

bool MeanShiftSegmenter::Impl::SampleStartWindow(int k) {
  if (remainingPixels_.empty()) return false;
  long long bestDensity = 0;
  bool found = false;
  windowRadius_ = searchRadius_;
  windowRadiusSquared_ = searchRadiusSquared_;
  for (int i = 0; i < candidateCount_; ++i) {
    const Point3 start = DrawStartPoint();
    long long density = 0;
    const float centre[3] = {start.L, start.u, start.v};
    grid_.ForEachNear(centre, windowRadius_, [&](int c) {
      if (remainingColourWeight_[c] > 0 &&
          InWindow(static_cast<float>(colourL_[c]) - start.L, static_cast<float>(colourU_[c]) - start.u,
                   static_cast<float>(colourV_[c]) - start.v)) {
        density += remainingColourWeight_[c];
      }
    });
    if (density > bestDensity) {  // the earliest of equal densities wins
      bestDensity = density;
      centres_[k] = start;
      found = true;
    }
  }
  return found;
}

// The mean colour of a random remaining pixel and its neighbours, up to the first neighbour already clustered.
Point3 MeanShiftSegmenter::Impl::DrawStartPoint() {
  constexpr float kInverseRandomMax = 3.0518509e-5f;
  const long long draw = random_->Next();
  const long long count = static_cast<long long>(remainingPixels_.size());
  const int p = remainingPixels_[static_cast<size_t>(static_cast<double>(draw * count) * kInverseRandomMax)];
  long long sum[3] = {featureL_[p], featureU_[p], featureV_[p]};
  int collected = 1;
  for (int offset : neighbourOffsets_) {
    const long long q = static_cast<long long>(p) + offset;
    if (!InRange(q)) continue;
    if (labels_[q] != kUnclustered) break;
    sum[0] += featureL_[q];
    sum[1] += featureU_[q];
    sum[2] += featureV_[q];
    ++collected;
  }
  return {static_cast<float>(sum[0]) / static_cast<float>(collected),
          static_cast<float>(sum[1]) / static_cast<float>(collected),
          static_cast<float>(sum[2]) / static_cast<float>(collected)};
}

// Moves the point to the weighted mean of the remaining colours in its window and marks those colours.
// Returns false when the window holds no colour.
bool MeanShiftSegmenter::Impl::ShiftWindow(Point3& point) {
  const float r = windowRadius_;
  const float a = static_cast<float>(1.4142 * r);
  const float b = static_cast<float>(1.7321 * r);
  long long sum[3] = {0, 0, 0};
  long long weight = 0;
  const float centre[3] = {point.L, point.u, point.v};
  grid_.ForEachNear(centre, r, [&](int c) {
    const long long w = remainingColourWeight_[c];
    if (w == 0) return;
    const float dL = std::fabs(static_cast<float>(colourL_[c]) - point.L);
    if (!(dL < r)) return;
    const float du = std::fabs(static_cast<float>(colourU_[c]) - point.u);
    if (!(dL + du < a)) return;
    const float dv = std::fabs(static_cast<float>(colourV_[c]) - point.v);
    if (!(dL + du + dv < b)) return;
    if (!(dL * dL + du * du + dv * dv < windowRadiusSquared_)) return;
    sum[0] += w * colourL_[c];
    sum[1] += w * colourU_[c];
    sum[2] += w * colourV_[c];
    weight += w;
    colourMask_[c] = 1;
  });
  if (weight == 0) return false;
  point = {static_cast<float>(sum[0]) / static_cast<float>(weight),
           static_cast<float>(sum[1]) / static_cast<float>(weight),
           static_cast<float>(sum[2]) / static_cast<float>(weight)};
  return true;
}

// One layer of growth: a remaining pixel joins when more than `growthNeeds` of its eight neighbours are
// members (judged on the members before the pass). Only neighbours of members can join, so those are the
// candidates, taken in ascending order as a scan of the remaining pixels would meet them.
void MeanShiftSegmenter::Impl::GrowMembers(int growthNeeds) {
  growthCandidates_.clear();
  for (int m : members_) {
    for (int offset : neighbourOffsets_) {
      const long long q = static_cast<long long>(m) - offset;  // m is q's neighbour by `offset`
      if (!InRange(q) || memberMask_[q] || candidateMark_[q] || labels_[q] != kUnclustered) continue;
      candidateMark_[q] = 1;
      growthCandidates_.push_back(static_cast<int>(q));
    }
  }
  std::sort(growthCandidates_.begin(), growthCandidates_.end());
  const size_t before = members_.size();
  for (int p : growthCandidates_) {
    candidateMark_[p] = 0;
    int memberNeighbours = 0;
    for (int offset : neighbourOffsets_) {
      const long long q = static_cast<long long>(p) + offset;
      if (InRange(q) && memberMask_[q] && labels_[q] == kUnclustered && ++memberNeighbours > growthNeeds) {
        members_.push_back(p);
        break;
      }
    }
  }
  for (size_t i = before; i < members_.size(); ++i) memberMask_[members_[i]] = 1;
}

void MeanShiftSegmenter::Impl::RemoveMembers() {
  size_t kept = 0;
  for (int p : remainingPixels_) {
    if (!memberMask_[p]) remainingPixels_[kept++] = p;
  }
  remainingPixels_.resize(kept);
  // Recounting the weights over the remaining pixels is the same as taking the members' pixels away; a colour
  // whose weight reaches 0 has left the pool.
  for (int p : members_) --remainingColourWeight_[pixelColour_[p]];
}

// 4-connected regions of equal label, in the order of their first pixel; pixels in the order of a depth-first
// fill that looks up, right, down, left. With `largest`, the size of each label's largest region.
void MeanShiftSegmenter::Impl::FindRegions(std::vector<int>* largest) {
  visited_.assign(pixelCount_, 0);
  regions_.clear();
  regionPixels_.clear();
  const int fourOffsets[4] = {neighbourOffsets_[1], neighbourOffsets_[3], neighbourOffsets_[5],
                              neighbourOffsets_[7]};
  for (int i = 0; i < pixelCount_; ++i) {
    if (visited_[i]) continue;
    Region region{labels_[i], static_cast<int>(regionPixels_.size()), 0};
    regionPixels_.push_back(i);
    visited_[i] = 1;
    stack_.clear();
    stack_.push_back(i);
    for (;;) {
      const int current = stack_.back();
      bool pushed = false;
      for (int offset : fourOffsets) {
        const long long q = static_cast<long long>(current) + offset;
        if (!InRange(q) || visited_[q] || labels_[q] != region.label) continue;
        regionPixels_.push_back(static_cast<int>(q));
        visited_[q] = 1;
        stack_.push_back(static_cast<int>(q));
        pushed = true;
      }
      if (pushed) continue;
      if (stack_.size() > 2) {
        stack_.pop_back();
      } else {
        break;
      }
    }
    region.size = static_cast<int>(regionPixels_.size()) - region.first;
    if (largest != nullptr) (*largest)[region.label] = std::max((*largest)[region.label], region.size);
    regions_.push_back(region);
  }
}

void MeanShiftSegmenter::Impl::PruneClusters(const std::vector<int>& largest, int limit) {
  bool survives[kMaxClusters + 1] = {};
  for (int c = 0; c < n_; ++c) survives[c] = largest[c] >= limit;
  for (const Region& region : regions_) {
    if (region.label >= n_ || survives[region.label]) continue;
    for (int i = 0; i < region.size; ++i) labels_[regionPixels_[region.first + i]] = static_cast<uint8_t>(n_);
  }
  uint8_t renumber[kMaxClusters + 1];
  int m = 0;
  for (int c = 0; c < n_; ++c) {
    if (!survives[c]) continue;
    centres_[m] = centres_[c];
    renumber[c] = static_cast<uint8_t>(m++);
  }
  for (int c = 0; c <= n_; ++c) {
    if (c == n_ || !survives[c]) renumber[c] = static_cast<uint8_t>(m);
  }
  for (uint8_t& label : labels_) label = renumber[label];
  n_ = m;
}

// The first pass depends only on a pixel's colour: it is decided once per distinct colour.
void MeanShiftSegmenter::Impl::AssignPixels() {
  windowRadius_ = searchRadius_;
  windowRadiusSquared_ = windowRadius_ * windowRadius_;
  std::vector<uint8_t> colourLabel(colourCount_);
  for (int j = 0; j < colourCount_; ++j) {
    const float L = static_cast<float>(colourL_[j]);
    const float u = static_cast<float>(colourU_[j]);
    const float v = static_cast<float>(colourV_[j]);
    float best = 1e20f;
    int bestLabel = n_;
    for (int c = 0; c < n_; ++c) {
      const Point3& centre = centres_[c];
      const float dL = L - centre.L;
      const float du = u - centre.u;
      const float dv = v - centre.v;
      if (!(std::fabs(dL) < windowRadius_ && std::fabs(du) < windowRadius_ && std::fabs(dv) < windowRadius_)) {
        continue;
      }
      const float d = dL * dL + du * du + dv * dv;
      if (d < best) {
        best = d;
        bestLabel = c;
      }
    }
    colourLabel[j] = static_cast<uint8_t>(best < windowRadiusSquared_ ? bestLabel : n_);
  }
  for (int p = 0; p < pixelCount_; ++p) labels_[p] = colourLabel[pixelColour_[p]];
  windowRadius_ = assignRadius_;
  windowRadiusSquared_ = windowRadius_ * windowRadius_;
  for (int p = 0; p < pixelCount_; ++p) {
    if (labels_[p] != n_) continue;
    for (int offset : neighbourOffsets_) {
      const long long q = static_cast<long long>(p) + offset;
      if (!InRange(q) || labels_[q] == n_) continue;
      const Point3& centre = centres_[labels_[q]];
      if (InWindow(featureL_[p] - centre.L, featureU_[p] - centre.u, featureV_[p] - centre.v)) labels_[p] = labels_[q];
    }
  }
}

// A cluster left without pixels keeps its centre but is marked empty: it attracts no pixel from now on.
void MeanShiftSegmenter::Impl::RecomputeCentres() {
  float sum[kMaxClusters][3] = {};
  int count[kMaxClusters] = {};
  for (int p = 0; p < pixelCount_; ++p) {
    const int label = labels_[p];
    if (label == n_) continue;
    sum[label][0] += static_cast<float>(featureL_[p]);
    sum[label][1] += static_cast<float>(featureU_[p]);
    sum[label][2] += static_cast<float>(featureV_[p]);
    ++count[label];
  }
  for (int c = 0; c < n_; ++c) {
    emptyCluster_[c] = count[c] == 0;
    if (emptyCluster_[c]) continue;
    const float pixels = static_cast<float>(count[c]);
    centres_[c] = {sum[c][0] / pixels, sum[c][1] / pixels, sum[c][2] / pixels};
  }
}

// The nearest centre depends only on a pixel's colour: it is found once per distinct colour.
void MeanShiftSegmenter::Impl::AssignNearest() {
  std::vector<uint8_t> colourLabel(colourCount_);
  for (int j = 0; j < colourCount_; ++j) {
    float best = 1e20f;
    int bestLabel = 0;
    for (int c = 0; c < n_; ++c) {
      if (emptyCluster_[c]) continue;
      const float dL = static_cast<float>(colourL_[j]) - centres_[c].L;
      const float du = static_cast<float>(colourU_[j]) - centres_[c].u;
      const float dv = static_cast<float>(colourV_[j]) - centres_[c].v;
      const float d = dL * dL + du * du + dv * dv;
      if (d < best) {
        best = d;
        bestLabel = c;
      }
    }
    colourLabel[j] = static_cast<uint8_t>(bestLabel);
  }
  for (int p = 0; p < pixelCount_; ++p) labels_[p] = colourLabel[pixelColour_[p]];
}

// Each region below the limit is absorbed from its border inwards, a pixel taking the label of the 4-neighbour
// whose centre is nearest in colour within a radius that grows from sweep to sweep.
void MeanShiftSegmenter::Impl::MergeSmallRegions(int limit) {
  // Past this radius every pair of L*u*v* values is inside the window: a sweep that then places nothing never
  // will, because the region has no neighbour of another label (a frame of fewer than 8 pixels).
  constexpr float kBeyondAnyDistance = 2000;
  const int fourOffsets[4] = {neighbourOffsets_[1], neighbourOffsets_[3], neighbourOffsets_[5],
                              neighbourOffsets_[7]};
  for (const Region& region : regions_) {
    if (region.size >= limit) continue;
    const int* pixels = &regionPixels_[region.first];
    for (int i = 0; i < region.size; ++i) labels_[pixels[i]] = static_cast<uint8_t>(n_);
    windowRadius_ = searchRadius_;
    float step = 4;
    bool unplaced = true;
    while (unplaced) {
      windowRadius_ += step;
      step += 4;
      windowRadiusSquared_ = windowRadius_ * windowRadius_;
      unplaced = false;
      bool placedAny = false;
      for (int i = 0; i < region.size; ++i) {
        const int p = pixels[i];
        if (labels_[p] != n_) continue;
        unplaced = true;
        float best = windowRadiusSquared_;
        int bestLabel = -1;
        for (int offset : fourOffsets) {
          const long long q = static_cast<long long>(p) + offset;
          if (!InRange(q) || labels_[q] == n_) continue;
          const float d = SquaredDistance(p, centres_[labels_[q]]);
          if (d < best) {
            best = d;
            bestLabel = labels_[q];
          }
        }
        if (bestLabel >= 0) {
          labels_[p] = static_cast<uint8_t>(bestLabel);
          placedAny = true;
        }
      }
      if (unplaced && !placedAny && windowRadius_ > kBeyondAnyDistance) {
        for (int i = 0; i < region.size; ++i) labels_[pixels[i]] = static_cast<uint8_t>(region.label);
        break;
      }
    }
  }
}

// 0 on the one-pixel frame border and where a 4-neighbour has a higher label: boundaries lie on the side of
// the lower label.
void MeanShiftSegmenter::Impl::WriteBoundaryMap() {
  boundaries_.assign(pixelCount_, 255);
  const int fourOffsets[4] = {neighbourOffsets_[1], neighbourOffsets_[3], neighbourOffsets_[5],
                              neighbourOffsets_[7]};
  for (int p = 0; p < pixelCount_; ++p) {
    const int x = p % width_;
    if (x == 0 || x == width_ - 1 || p < width_ - 1 || p > pixelCount_ - width_) {
      boundaries_[p] = 0;
      continue;
    }
    for (int offset : fourOffsets) {
      const long long q = static_cast<long long>(p) + offset;
      if (InRange(q) && labels_[q] > labels_[p]) {
        boundaries_[p] = 0;
        break;
      }
    }
  }
}

std::array<int, 3> ColourToLuv(int c0, int c1, int c2) {
  // RGB to XYZ for the D65 white point, scaled by 10000, as integer tables; channel 0 plays red.
  struct Tables {
    int xyz[3][3][256];
    float lightness[256];
  };
  static const Tables tables = [] {
    static constexpr int kMatrix[3][3] = {{4125, 3576, 1804}, {2125, 7154, 721}, {193, 1192, 9502}};
    Tables t;
    for (int row = 0; row < 3; ++row) {
      for (int column = 0; column < 3; ++column) {
        for (int v = 0; v < 256; ++v) t.xyz[row][column][v] = v * kMatrix[row][column];
      }
    }
    for (int i = 0; i < 256; ++i) {
      const double q = i * 0.00392156862745098;
      t.lightness[i] = static_cast<float>(116 * std::pow(q, 0.3333333) - 16);
    }
    return t;
  }();
  int xyz[3];
  for (int row = 0; row < 3; ++row) {
    xyz[row] = tables.xyz[row][0][c0] + tables.xyz[row][1][c1] + tables.xyz[row][2][c2];
  }
  const int X = xyz[0], Y = xyz[1], Z = xyz[2];
  const float y = static_cast<float>(Y * 3.92156862745098e-7);
  const float L = y > 0.008856 ? tables.lightness[static_cast<int>(y * 255 + 0.5)] : static_cast<float>(903.3 * y);
  const int D = X + 15 * Y + 3 * Z;
  float uPrime = 4.0f;
  float vPrime = 0.6f;
  if (D != 0) {
    uPrime = static_cast<float>(4 * X) / static_cast<float>(D);
    vPrime = static_cast<float>(9 * Y) / static_cast<float>(D);
  }
  const float thirteenL = 13 * L;
  const float uStar = static_cast<float>(thirteenL * (uPrime - 0.1978));
  const float vStar = static_cast<float>(thirteenL * (vPrime - 0.4683));
  auto roundAway = [](float value) { return value > 0 ? static_cast<int>(value + 0.5) : static_cast<int>(value - 0.5); };
  return {static_cast<int>(L + 0.5), roundAway(uStar), roundAway(vStar)};
}

std::array<int, 3> LuvToRgb(float L, float u, float v) {
  if (L < 0.1) return {0, 0, 0};
  float Y;
  if (L < 8) {
    Y = static_cast<float>(L * 0.001107052);
  } else {
    const float base = static_cast<float>((L + 16) * 0.008620689655172414);
    Y = base * base * base;
  }
  const float t = 1 / (13 * L);
  const float uPrime = static_cast<float>(t * u + 0.1978);
  const float vPrime = static_cast<float>(t * v + 0.4683);
  const float X = 9 * Y * uPrime / (4 * vPrime);
  const float Z = Y * (12 - 3 * uPrime - 20 * vPrime) / (4 * vPrime);
  const double linear[3] = {3.2405 * X - 1.5371 * Y - 0.4985 * Z, -0.9693 * X + 1.876 * Y + 0.0416 * Z,
                            0.0556 * X - 0.204 * Y + 1.0573 * Z};
  std::array<int, 3> rgb;
  for (int c = 0; c < 3; ++c) rgb[c] = std::clamp(static_cast<int>(255 * linear[c]), 0, 255);
  return rgb;
}

int MinClusterSize(int pixelCount, int mode) {
  const ModeParameters& parameters = kModes[mode];
  const float scaled = std::sqrt(static_cast<float>(pixelCount)) / static_cast<float>(parameters.smallestDivisor);
  return static_cast<int>(std::max(static_cast<float>(parameters.smallestFloor), scaled));
}

MeanShiftSegmenter::MeanShiftSegmenter() : impl_(std::make_unique<Impl>()) {}
MeanShiftSegmenter::~MeanShiftSegmenter() = default;

void MeanShiftSegmenter::Segment(const cv::Mat& frame, cv::Mat& colour, cv::Mat& edges, int mode, Random& random,
                                 std::string* report, int* withheldMarks, const std::stop_token& stop) {
  CV_Assert(frame.type() == CV_8UC3 && mode >= 0 && mode <= 2);
  Impl& run = *impl_;
  run.Run(frame, mode, random, report == nullptr, stop);
  if (withheldMarks != nullptr) *withheldMarks = run.withheldMarks();
  Report(report, "\n\nOriginal Colors: " + std::to_string(run.colourCount()) + "\n");
  Report(report, "Segment. Colors: " + std::to_string(run.clusterCount()) + "\n");
  colour.create(frame.size(), CV_8UC3);
  edges.create(frame.size(), CV_8UC1);
  const auto& output = run.output();
  const auto& boundaries = run.boundaries();
  for (int y = 0; y < frame.rows; ++y) {
    uchar* colourRow = colour.ptr<uchar>(y);
    uchar* edgeRow = edges.ptr<uchar>(y);
    for (int x = 0; x < frame.cols; ++x) {
      const int p = y * frame.cols + x;
      for (int c = 0; c < 3; ++c) colourRow[3 * x + c] = output[p][c];
      edgeRow[x] = boundaries[p];
    }
  }
}

void MeanShiftSegment(const cv::Mat& frame, cv::Mat& colour, cv::Mat& edges, int mode) {
  MeanShiftSegmenter().Segment(frame, colour, edges, mode);
}

}  // namespace labeler
