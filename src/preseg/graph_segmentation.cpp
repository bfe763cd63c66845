#include "preseg/graph_segmentation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

#include "common/random.h"

namespace labeler {
namespace {

// One channel of the frame as floats, row-major without padding.
struct FloatPlane {
  int width = 0;
  int height = 0;
  std::vector<float> pixels;

  FloatPlane(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h) {}
  float* Row(int y) { return &pixels[static_cast<size_t>(y) * width]; }
  const float* Row(int y) const { return &pixels[static_cast<size_t>(y) * width]; }
};

// An edge of the pixel graph, packed in 64 bits so that sorting moves little memory: the weight's bits in the
// high half (non-negative floats order as their bit patterns do), then pixelA and the direction of pixelB.
using PackedEdge = uint64_t;
enum Direction { kRight = 0, kDown = 1, kDownRight = 2, kUpRight = 3 };

PackedEdge PackEdge(float weight, int pixelA, Direction direction) {
  uint32_t bits;
  std::memcpy(&bits, &weight, sizeof bits);
  return (static_cast<uint64_t>(bits) << 32) | (static_cast<uint32_t>(pixelA) << 2) | direction;
}
float EdgeWeight(PackedEdge edge) {
  uint32_t bits = static_cast<uint32_t>(edge >> 32);
  float weight;
  std::memcpy(&weight, &bits, sizeof weight);
  return weight;
}
int EdgePixelA(PackedEdge edge) { return static_cast<int>((edge & 0xffffffffu) >> 2); }
int EdgePixelB(PackedEdge edge, int width) {
  const int a = EdgePixelA(edge);
  switch (static_cast<Direction>(edge & 3)) {
    case kRight: return a + 1;
    case kDown: return a + width;
    case kDownRight: return a + width + 1;
    default: return a - width + 1;
  }
}

// One in-place American-flag pass over [begin, end) on the `bits`-wide digit at `shift`; `start` receives the
// bucket boundaries (2^bits + 1 entries) and `next` is working storage (2^bits entries).
void FlagPass(PackedEdge* begin, PackedEdge* end, int shift, int bits, size_t* start, size_t* next) {
  const size_t buckets = size_t{1} << bits;
  const uint64_t mask = buckets - 1;
  std::fill_n(start, buckets + 1, 0);
  for (PackedEdge* e = begin; e != end; ++e) ++start[((*e >> shift) & mask) + 1];
  for (size_t b = 0; b < buckets; ++b) start[b + 1] += start[b];
  std::copy_n(start, buckets, next);
  for (size_t b = 0; b < buckets; ++b) {
    while (next[b] < start[b + 1]) {
      PackedEdge edge = begin[next[b]];
      size_t digit = (edge >> shift) & mask;
      while (digit != b) {
        std::swap(edge, begin[next[digit]++]);
        digit = (edge >> shift) & mask;
      }
      begin[next[b]++] = edge;
    }
  }
}

// Sorts a bucket on the bits below `shift` + 8, a byte at a time, down to insertion sort for small buckets.
void SortBucket(PackedEdge* begin, PackedEdge* end, int shift) {
  if (end - begin <= 16) {  // insertion sort: cheapest for the many tiny buckets at the bottom
    for (PackedEdge* i = begin + 1; i < end; ++i) {
      const PackedEdge edge = *i;
      PackedEdge* j = i;
      for (; j > begin && *(j - 1) > edge; --j) *j = *(j - 1);
      *j = edge;
    }
    return;
  }
  std::array<size_t, 257> start;
  std::array<size_t, 256> next;
  FlagPass(begin, end, shift, 8, start.data(), next.data());
  if (shift == 0) return;
  for (int b = 0; b < 256; ++b) {
    if (start[b + 1] - start[b] > 1) SortBucket(begin + start[b], begin + start[b + 1], shift - 8);
  }
}

// Sorts the edges by weight, and edges of equal weight in the order they were built, which is the order of
// their low 32 bits: so the picture doesn't depend on how the sort is done. An in-place radix sort over the
// 64-bit edges: the top 16 bits first (the exponent and leading mantissa bits spread the weights well), then
// a byte at a time within each bucket. The buckets are independent, so a second thread sorts the first half of
// them.
void SortEdges(std::vector<PackedEdge>& edges) {
  constexpr int kTopBits = 16;
  const size_t buckets = size_t{1} << kTopBits;
  std::vector<size_t> start(buckets + 1);
  std::vector<size_t> next(buckets);
  PackedEdge* begin = edges.data();
  FlagPass(begin, begin + edges.size(), 64 - kTopBits, kTopBits, start.data(), next.data());
  auto sortBuckets = [&](size_t first, size_t last) {
    for (size_t b = first; b < last; ++b) {
      if (start[b + 1] - start[b] > 1) SortBucket(begin + start[b], begin + start[b + 1], 64 - kTopBits - 8);
    }
  };
  constexpr size_t kWorthAThread = 1 << 16;
  if (edges.size() < kWorthAThread) {
    sortBuckets(0, buckets);
    return;
  }
  const size_t middle = std::upper_bound(start.begin(), start.end() - 1, edges.size() / 2) - start.begin();
  std::thread firstHalf(sortBuckets, 0, middle);
  sortBuckets(middle, buckets);
  firstHalf.join();
}

// The disjoint-set forest of components: union by rank, and FindRoot compresses only the node it starts from.
// The parent links are an array of their own, the one that root searches walk; a root's size sits beside its
// threshold, since the merge reads both together; ranks are small and take a byte.
class ComponentForest {
 public:
  ComponentForest(int n, float threshold) : parent_(n), root_(n, {1, threshold}), rank_(n, 0), count_(n) {
    for (int i = 0; i < n; ++i) parent_[i] = i;
  }

  int FindRoot(int x) {
    int root = x;
    while (parent_[root] != root) root = parent_[root];
    parent_[x] = root;
    return root;
  }

  // a and b are distinct roots; on equal ranks b becomes the root.
  void Unite(int a, int b) {
    if (rank_[a] > rank_[b]) {
      parent_[b] = a;
      root_[a].size += root_[b].size;
    } else {
      parent_[a] = b;
      root_[b].size += root_[a].size;
      if (rank_[a] == rank_[b]) ++rank_[b];
    }
    --count_;
  }

  int size(int root) const { return root_[root].size; }
  // The largest weight a merge with the root's component may have.
  float& threshold(int root) { return root_[root].threshold; }
  int count() const { return count_; }

 private:
  struct RootInfo {
    int size;
    float threshold;
  };
  std::vector<int> parent_;
  std::vector<RootInfo> root_;
  std::vector<uint8_t> rank_;  // at most log2 of the pixel count
  int count_;
};

// Convolves every row of `source` with the symmetric mask, repeating edge pixels, and writes the result
// transposed, so that two passes blur along both axes.
void ConvolveRowsTransposed(const FloatPlane& source, FloatPlane& destination, const std::vector<float>& mask) {
  const int width = source.width;
  const int taps = static_cast<int>(mask.size());
  for (int y = 0; y < source.height; ++y) {
    const float* row = source.Row(y);
    for (int x = 0; x < width; ++x) {
      float sum = mask[0] * row[x];
      for (int i = 1; i < taps; ++i) sum += mask[i] * (row[std::max(x - i, 0)] + row[std::min(x + i, width - 1)]);
      destination.Row(x)[y] = sum;
    }
  }
}

FloatPlane SmoothPlane(const FloatPlane& plane, float sigma) {
  std::vector<float> mask = MakeGaussianMask(sigma);
  NormaliseMask(mask);
  FloatPlane transposed(plane.height, plane.width);
  ConvolveRowsTransposed(plane, transposed, mask);
  FloatPlane smoothed(plane.width, plane.height);
  ConvolveRowsTransposed(transposed, smoothed, mask);
  return smoothed;
}

std::array<FloatPlane, 3> SmoothedChannels(const cv::Mat& frame, float sigma) {
  std::array<FloatPlane, 3> channels = {FloatPlane(frame.cols, frame.rows), FloatPlane(frame.cols, frame.rows),
                                        FloatPlane(frame.cols, frame.rows)};
  for (int y = 0; y < frame.rows; ++y) {
    const uchar* in = frame.ptr<uchar>(y);
    for (int c = 0; c < 3; ++c) {
      float* out = channels[c].Row(y);
      for (int x = 0; x < frame.cols; ++x) out[x] = in[3 * x + c];
    }
  }
  for (FloatPlane& channel : channels) channel = SmoothPlane(channel, sigma);
  return channels;
}

// Each pixel is joined to its right, lower, lower-right and upper-right neighbours: all eight, every pair once.
std::vector<PackedEdge> BuildEdges(const std::array<FloatPlane, 3>& planes) {
  const int w = planes[0].width;
  const int h = planes[0].height;
  std::vector<PackedEdge> edges;
  edges.reserve(static_cast<size_t>(4) * w * h);
  auto weight = [&planes](int a, int b) {
    double sum = 0;
    for (const FloatPlane& plane : planes) {
      double d = static_cast<double>(plane.pixels[a]) - plane.pixels[b];
      sum += d * d;
    }
    return static_cast<float>(std::sqrt(sum));
  };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int a = y * w + x;
      if (x < w - 1) edges.push_back(PackEdge(weight(a, a + 1), a, kRight));
      if (y < h - 1) edges.push_back(PackEdge(weight(a, a + w), a, kDown));
      if (x < w - 1 && y < h - 1) edges.push_back(PackEdge(weight(a, a + w + 1), a, kDownRight));
      if (x < w - 1 && y > 0) edges.push_back(PackEdge(weight(a, a - w + 1), a, kUpRight));
    }
  }
  return edges;
}

ComponentForest MergeByThreshold(int pixelCount, std::vector<PackedEdge>& edges, int width, float k) {
  SortEdges(edges);
  ComponentForest forest(pixelCount, k);  // a single pixel's threshold is k / 1
  for (PackedEdge edge : edges) {
    int a = forest.FindRoot(EdgePixelA(edge));
    int b = forest.FindRoot(EdgePixelB(edge, width));
    const float weight = EdgeWeight(edge);
    if (a != b && weight <= forest.threshold(a) && weight <= forest.threshold(b)) {
      forest.Unite(a, b);
      a = forest.FindRoot(a);
      forest.threshold(a) = weight + k / static_cast<float>(forest.size(a));
    }
  }
  return forest;
}

void MergeSmallComponents(ComponentForest& forest, const std::vector<PackedEdge>& edges, int width, int minSize) {
  for (PackedEdge edge : edges) {
    int a = forest.FindRoot(EdgePixelA(edge));
    int b = forest.FindRoot(EdgePixelB(edge, width));
    if (a != b && (forest.size(a) < minSize || forest.size(b) < minSize)) forest.Unite(a, b);
  }
}

std::array<uchar, 3> RandomColour() {
  std::array<uchar, 3> colour;
  for (uchar& byte : colour) byte = static_cast<uchar>(Random::Shared().Next() * 255 / kRandomMax);
  return colour;
}

// Boundaries are marked on both sides of every component border, and along the whole image border.
void WriteBoundaries(const std::vector<int>& component, int w, int h, cv::Mat& edges) {
  edges.setTo(255);
  for (int x = 0; x < w; ++x) edges.ptr<uchar>(0)[x] = edges.ptr<uchar>(h - 1)[x] = 0;
  for (int y = 0; y < h; ++y) edges.ptr<uchar>(y)[0] = edges.ptr<uchar>(y)[w - 1] = 0;
  for (int y = 1; y < h - 1; ++y) {
    uchar* out = edges.ptr<uchar>(y);
    for (int x = 1; x < w - 1; ++x) {
      const int* above = &component[static_cast<size_t>(y - 1) * w + x];
      const int* here = above + w;
      const int* below = here + w;
      const int c = *here;
      if (above[-1] != c || here[-1] != c || below[-1] != c || above[0] != c || below[0] != c || above[1] != c ||
          here[1] != c || below[1] != c) {
        out[x] = 0;
      }
    }
  }
}

// The core: smoothed planes in, components out; returns the number of components.
int SegmentPlanes(const cv::Mat& frame, cv::Mat& colour, cv::Mat& edges, float sigma, float k, int minSize) {
  const int w = frame.cols;
  const int h = frame.rows;
  const int pixelCount = w * h;
  std::vector<PackedEdge> graph = BuildEdges(SmoothedChannels(frame, sigma));
  ComponentForest forest = MergeByThreshold(pixelCount, graph, w, k);
  MergeSmallComponents(forest, graph, w, minSize);
  graph = {};

  std::vector<std::array<uchar, 3>> colourTable(pixelCount);
  for (auto& entry : colourTable) entry = RandomColour();
  std::vector<int> component(pixelCount);
  for (int y = 0; y < h; ++y) {
    uchar* out = colour.ptr<uchar>(y);
    for (int x = 0; x < w; ++x) {
      const int root = forest.FindRoot(y * w + x);
      component[y * w + x] = root;
      std::copy_n(colourTable[root].data(), 3, out + 3 * x);
    }
  }
  WriteBoundaries(component, w, h, edges);
  return forest.count();
}

}  // namespace

std::vector<float> MakeGaussianMask(float sigma) {
  sigma = std::max(sigma, 0.01f);
  const int length = static_cast<int>(std::ceil(sigma * 4.0)) + 1;
  std::vector<float> mask(length);
  for (int i = 0; i < length; ++i) {
    const float distance = i / sigma;
    mask[i] = static_cast<float>(std::exp(-0.5 * (distance * distance)));
  }
  return mask;
}

void NormaliseMask(std::vector<float>& mask) {
  float sum = 0;
  for (size_t i = 1; i < mask.size(); ++i) sum += std::fabs(mask[i]);
  sum = 2 * sum + std::fabs(mask[0]);
  for (float& tap : mask) tap /= sum;
}

int GraphSegment(const cv::Mat& frame, cv::Mat& colour, cv::Mat& edges, float sigma, float k, int minSize) {
  CV_Assert(frame.type() == CV_8UC3);
  if (sigma == -1.0f) sigma = 0.5f;
  if (k == -1.0f) k = 500.0f;
  if (minSize == -1) minSize = 20;
  colour.create(frame.size(), CV_8UC3);
  edges.create(frame.size(), CV_8UC1);
  std::printf("processing\n");
  int count = SegmentPlanes(frame, colour, edges, sigma, k, minSize);
  std::printf("got %d components\n", count);
  return count;
}

}  // namespace labeler
