#include "preseg/graph_segmentation.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "common/random.h"
#include "common/run_on_threads.h"

namespace labeler {
namespace {

// Frame-sized storage that is written before it is read: not zero-filled first, which for arrays this large
// costs as much as filling them. Large arrays ask for huge pages: a fresh process touching tens of megabytes
// otherwise takes a page fault per 4 KiB, which in a virtual machine costs more than the segmentation's own work.
template <typename T>
class Uninitialised {
 public:
  explicit Uninitialised(size_t size) : data_(Allocate(size)), size_(size) {}
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }
  size_t size() const { return size_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  const T* begin() const { return data_.get(); }
  const T* end() const { return data_.get() + size_; }
  void Release() {
    data_.reset();
    size_ = 0;
  }

 private:
  struct Free {
    void operator()(T* pointer) const { std::free(pointer); }
  };
  static std::unique_ptr<T[], Free> Allocate(size_t size) {
    constexpr size_t kHugePage = size_t{2} << 20;
    const size_t bytes = std::max<size_t>(size * sizeof(T), 1);
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    // Huge pages only where rounding up to them adds at most an eighth: memory per pixel stays what it was.
    if (bytes < kHugePage || rounded - bytes > bytes / 8) {
      return std::unique_ptr<T[], Free>(static_cast<T*>(std::malloc(bytes)));
    }
    void* pointer = std::aligned_alloc(kHugePage, rounded);
    if (pointer != nullptr) madvise(pointer, rounded, MADV_HUGEPAGE);
    return std::unique_ptr<T[], Free>(static_cast<T*>(pointer));
  }

  std::unique_ptr<T[], Free> data_;
  size_t size_;
};

// One channel of the frame as floats, row-major without padding.
struct FloatPlane {
  int width = 0;
  int height = 0;
  float* pixels = nullptr;  // width x height floats in storage the plane doesn't own

  float* Row(int y) { return pixels + static_cast<size_t>(y) * width; }
  const float* Row(int y) const { return pixels + static_cast<size_t>(y) * width; }
};

// The three smoothed channels of the frame, in one block of storage.
struct SmoothedFrame {
  SmoothedFrame(int width, int height) : storage(static_cast<size_t>(3) * width * height) {
    const size_t plane = static_cast<size_t>(width) * height;
    for (int c = 0; c < 3; ++c) channels[c] = FloatPlane{width, height, storage.data() + c * plane};
  }
  Uninitialised<float> storage;
  std::array<FloatPlane, 3> channels;
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

// Sorts a bucket on its bits below `high`, a byte at a time from the top, down to insertion sort for small
// buckets.
void SortBucket(PackedEdge* begin, PackedEdge* end, int high) {
  if (end - begin <= 16) {  // insertion sort: cheapest for the many tiny buckets at the bottom
    for (PackedEdge* i = begin + 1; i < end; ++i) {
      const PackedEdge edge = *i;
      PackedEdge* j = i;
      for (; j > begin && *(j - 1) > edge; --j) *j = *(j - 1);
      *j = edge;
    }
    return;
  }
  const int bits = std::min(8, high);
  const int shift = high - bits;
  std::array<size_t, 257> start;
  std::array<size_t, 256> next;
  FlagPass(begin, end, shift, bits, start.data(), next.data());
  if (shift == 0) return;
  for (size_t b = 0; b < (size_t{1} << bits); ++b) {
    if (start[b + 1] - start[b] > 1) SortBucket(begin + start[b], begin + start[b + 1], shift);
  }
}

// Sorts the edges by weight, and edges of equal weight in the order they were built, which is the order of
// their low 32 bits: so the picture doesn't depend on how the sort is done. An in-place radix sort over the
// 64-bit edges: the top 12 bits first (the exponent and leading mantissa bits spread the weights well; few
// enough buckets that their write positions stay in cache), then a byte at a time within each bucket. The
// buckets are independent, so two threads sort half of them each.
void SortEdges(Uninitialised<PackedEdge>& edges) {
  constexpr int kTopBits = 12;
  const size_t buckets = size_t{1} << kTopBits;
  std::vector<size_t> start(buckets + 1);
  std::vector<size_t> next(buckets);
  PackedEdge* begin = edges.data();
  FlagPass(begin, begin + edges.size(), 64 - kTopBits, kTopBits, start.data(), next.data());
  auto sortBuckets = [&](size_t first, size_t last) {
    for (size_t b = first; b < last; ++b) {
      if (start[b + 1] - start[b] > 1) SortBucket(begin + start[b], begin + start[b + 1], 64 - kTopBits);
    }
  };
  constexpr size_t kWorthAThread = 1 << 16;
  if (edges.size() < kWorthAThread) {
    sortBuckets(0, buckets);
    return;
  }
  const size_t middle = std::upper_bound(start.begin(), start.end() - 1, edges.size() / 2) - start.begin();
  RunOnThreads(2, [&](int half) { half == 0 ? sortBuckets(0, middle) : sortBuckets(middle, buckets); });
}

// The disjoint-set forest of components: union by rank, and FindRoot points every node it passes at the root.
// Which node is a root, and every rank, follow from the order of the unions and the rank rule alone; how paths
// are shortened changes only the parents of nodes that are not roots, so the components are those of any
// other compression.
// The parent links are an array of their own, the one that root searches walk; a root's size sits beside its
// threshold, since the merge reads both together; ranks are small and take a byte.
class ComponentForest {
 public:
  // The three arrays share one block of storage: fewer, larger pages to fault in.
  ComponentForest(int n, float threshold)
      : storage_(static_cast<size_t>(n) * (sizeof(int) + sizeof(RootInfo) + 1)),
        parent_(reinterpret_cast<int*>(storage_.data())),
        root_(reinterpret_cast<RootInfo*>(parent_ + n)),
        rank_(reinterpret_cast<uint8_t*>(root_ + n)),
        pixelCount_(n),
        count_(n) {
    for (int i = 0; i < n; ++i) {
      parent_[i] = i;
      root_[i] = {1, threshold};
      rank_[i] = 0;
    }
  }

  int FindRoot(int x) {
    int root = x;
    while (parent_[root] != root) root = parent_[root];
    while (parent_[x] != root) {
      const int next = parent_[x];
      parent_[x] = root;
      x = next;
    }
    return root;
  }

  // a and b are distinct roots; on equal ranks b becomes the root. Returns the root of the union.
  int Unite(int a, int b) {
    --count_;
    if (Rank(a) > Rank(b)) {
      parent_[b] = a;
      root_[a].size += root_[b].size;
      return a;
    }
    parent_[a] = b;
    root_[b].size += root_[a].size;
    if (Rank(a) == Rank(b)) ++rank_[b];
    return b;
  }

  // Marks every pixel whose component has fewer than `minSize` pixels now; returns whether any has. The mark
  // shares the byte of the rank, which never needs more than five bits.
  bool MarkSmall(int minSize) {
    bool any = false;
    for (int pixel = 0; pixel < pixelCount_; ++pixel) {
      if (size(FindRoot(pixel)) >= minSize) continue;
      rank_[pixel] |= kSmallMark;
      any = true;
    }
    return any;
  }
  bool Marked(int pixel) const { return (rank_[pixel] & kSmallMark) != 0; }
  // The parent of every node: its root, once FindRoot has been called on every node since the last union.
  const int* roots() const { return parent_; }

  int size(int root) const { return root_[root].size; }
  // The largest weight a merge with the root's component may have.
  float& threshold(int root) { return root_[root].threshold; }
  int count() const { return count_; }

 private:
  struct RootInfo {
    int size;
    float threshold;
  };
  static constexpr uint8_t kSmallMark = 0x80;
  int Rank(int root) const { return rank_[root] & ~kSmallMark; }

  Uninitialised<uint8_t> storage_;
  int* parent_;
  RootInfo* root_;
  uint8_t* rank_;  // at most log2 of the pixel count, and the mark of MarkSmall
  int pixelCount_;
  int count_;
};

// Convolves rows [first, last) of `source` with the symmetric mask, repeating edge pixels, and writes the result
// transposed, so that two passes blur along both axes.
void ConvolveRowsTransposed(const FloatPlane& source, FloatPlane& destination, const std::vector<float>& mask,
                            int first, int last) {
  const int width = source.width;
  const int taps = static_cast<int>(mask.size());
  for (int y = first; y < last; ++y) {
    const float* row = source.Row(y);
    for (int x = 0; x < width; ++x) {
      float sum = mask[0] * row[x];
      for (int i = 1; i < taps; ++i) sum += mask[i] * (row[std::max(x - i, 0)] + row[std::min(x + i, width - 1)]);
      destination.Row(x)[y] = sum;
    }
  }
}

// Runs work(first, last) over the rows [0, rows) of a frame of `pixels` pixels in two halves, the two at once
// when the frame is large enough to be worth a second thread: each half writes only its own part of the result,
// which is the same however it is split. An exception of either half reaches the caller once both have ended.
void InTwoHalves(int rows, int pixels, const std::function<void(int, int)>& work) {
  constexpr int kWorthAThread = 1 << 16;
  if (pixels < kWorthAThread) {
    work(0, rows);
    return;
  }
  const int middle = rows / 2;
  RunOnThreads(2, [&](int half) { half == 0 ? work(0, middle) : work(middle, rows); });
}

// Blurs `plane` in place, through `transposed` (of the transposed size), which one call after another reuse:
// every page of a frame-sized array first touched costs a fault, and reusing them saves most of those.
void SmoothPlane(FloatPlane& plane, FloatPlane& transposed, const std::vector<float>& mask) {
  const int pixels = plane.width * plane.height;
  InTwoHalves(plane.height, pixels,
              [&](int first, int last) { ConvolveRowsTransposed(plane, transposed, mask, first, last); });
  InTwoHalves(transposed.height, pixels,
              [&](int first, int last) { ConvolveRowsTransposed(transposed, plane, mask, first, last); });
}

std::unique_ptr<SmoothedFrame> SmoothedChannels(const cv::Mat& frame, float sigma) {
  auto smoothed = std::make_unique<SmoothedFrame>(frame.cols, frame.rows);
  for (int y = 0; y < frame.rows; ++y) {
    const uchar* in = frame.ptr<uchar>(y);
    for (int c = 0; c < 3; ++c) {
      float* out = smoothed->channels[c].Row(y);
      for (int x = 0; x < frame.cols; ++x) out[x] = in[3 * x + c];
    }
  }
  std::vector<float> mask = MakeGaussianMask(sigma);
  NormaliseMask(mask);
  // The transposed plane lives only while smoothing: the edges are built after it is gone.
  Uninitialised<float> transposedStorage(static_cast<size_t>(frame.cols) * frame.rows);
  FloatPlane transposed{frame.rows, frame.cols, transposedStorage.data()};
  for (FloatPlane& channel : smoothed->channels) SmoothPlane(channel, transposed, mask);
  return smoothed;
}

// Each pixel is joined to its right, lower, lower-right and upper-right neighbours: all eight, every pair once.
// Edges are laid out row by row in a fixed order, so the two halves of the rows are built at once.
Uninitialised<PackedEdge> BuildEdges(const std::array<FloatPlane, 3>& planes) {
  const int w = planes[0].width;
  const int h = planes[0].height;
  auto weight = [&planes](int a, int b) {
    double sum = 0;
    for (const FloatPlane& plane : planes) {
      double d = static_cast<double>(plane.pixels[a]) - plane.pixels[b];
      sum += d * d;
    }
    return static_cast<float>(std::sqrt(sum));
  };
  // Edges before row y: every row has w - 1 right edges; all but the last w down edges; all but the last w - 1
  // down-right edges; all but the first w - 1 up-right edges.
  auto firstEdgeOfRow = [w, h](int y) {
    const size_t rows = static_cast<size_t>(y);
    return rows * (w - 1) + std::min(rows, static_cast<size_t>(h - 1)) * (2 * w - 1) + (y > 0 ? rows - 1 : 0) * (w - 1);
  };
  Uninitialised<PackedEdge> edges(firstEdgeOfRow(h));
  InTwoHalves(h, w * h, [&](int first, int last) {
    PackedEdge* out = edges.data() + firstEdgeOfRow(first);
    for (int y = first; y < last; ++y) {
      for (int x = 0; x < w; ++x) {
        const int a = y * w + x;
        if (x < w - 1) *out++ = PackEdge(weight(a, a + 1), a, kRight);
        if (y < h - 1) *out++ = PackEdge(weight(a, a + w), a, kDown);
        if (x < w - 1 && y < h - 1) *out++ = PackEdge(weight(a, a + w + 1), a, kDownRight);
        if (x < w - 1 && y > 0) *out++ = PackEdge(weight(a, a - w + 1), a, kUpRight);
      }
    }
  });
  return edges;
}

// An edge merges two components when it is no heavier than either's threshold. The second root is searched
// only when the first component's threshold lets the edge through: a search changes nothing but shortcuts.
ComponentForest MergeByThreshold(int pixelCount, const Uninitialised<PackedEdge>& edges, int width, float k) {
  ComponentForest forest(pixelCount, k);  // a single pixel's threshold is k / 1
  for (PackedEdge edge : edges) {
    const float weight = EdgeWeight(edge);
    const int a = forest.FindRoot(EdgePixelA(edge));
    if (weight > forest.threshold(a)) continue;
    const int b = forest.FindRoot(EdgePixelB(edge, width));
    if (a != b && weight <= forest.threshold(b)) {
      const int root = forest.Unite(a, b);
      forest.threshold(root) = weight + k / static_cast<float>(forest.size(root));
    }
  }
  return forest;
}

// Components only grow, so an edge between two pixels whose components already have minSize pixels can never
// merge anything: only the edges that touch a component still small when the pass begins are looked at.
void MergeSmallComponents(ComponentForest& forest, const Uninitialised<PackedEdge>& edges, int width,
                          int minSize) {
  if (!forest.MarkSmall(minSize)) return;
  for (PackedEdge edge : edges) {
    const int pixelA = EdgePixelA(edge);
    const int pixelB = EdgePixelB(edge, width);
    if (!forest.Marked(pixelA) && !forest.Marked(pixelB)) continue;
    const int a = forest.FindRoot(pixelA);
    const int b = forest.FindRoot(pixelB);
    if (a != b && (forest.size(a) < minSize || forest.size(b) < minSize)) forest.Unite(a, b);
  }
}

std::array<uchar, 3> RandomColour() {
  std::array<uchar, 3> colour;
  for (uchar& byte : colour) byte = static_cast<uchar>(Random::Shared().Next() * 255 / kRandomMax);
  return colour;
}

// Boundaries are marked on both sides of every component border, and along the whole image border.
void WriteBoundaries(const int* component, int w, int h, cv::Mat& edges) {
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
  Uninitialised<PackedEdge> graph = BuildEdges(SmoothedChannels(frame, sigma)->channels);
  SortEdges(graph);
  ComponentForest forest = MergeByThreshold(pixelCount, graph, w, k);
  MergeSmallComponents(forest, graph, w, minSize);
  graph.Release();

  // Pixel i draws the i-th colour of the sequence, and a component takes its root's: each root keeps its colour
  // in its own pixel of the picture, and the other pixels copy it from there.
  uchar* picture = colour.ptr<uchar>(0);
  CV_Assert(colour.isContinuous());
  for (int pixel = 0; pixel < pixelCount; ++pixel) {
    const std::array<uchar, 3> drawn = RandomColour();
    if (forest.FindRoot(pixel) == pixel) std::copy_n(drawn.data(), 3, picture + 3 * pixel);
  }
  for (int pixel = 0; pixel < pixelCount; ++pixel) {
    std::copy_n(picture + 3 * forest.FindRoot(pixel), 3, picture + 3 * pixel);
  }
  WriteBoundaries(forest.roots(), w, h, edges);  // every path is now compressed: each parent is the root
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
