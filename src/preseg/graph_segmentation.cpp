#include "preseg/graph_segmentation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

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

// Sorts by weight (the high 32 bits) in place: an American-flag radix sort, one byte at a time from the top.
// The order among equal weights is left as it falls.
void SortByWeight(PackedEdge* begin, PackedEdge* end, int shift = 56) {
  const size_t count = static_cast<size_t>(end - begin);
  if (count < 64) {
    std::sort(begin, end, [](PackedEdge a, PackedEdge b) { return (a >> 32) < (b >> 32); });
    return;
  }
  std::array<size_t, 257> start{};
  for (PackedEdge* e = begin; e != end; ++e) ++start[((*e >> shift) & 0xff) + 1];
  for (int b = 0; b < 256; ++b) start[b + 1] += start[b];
  std::array<size_t, 256> next;
  std::copy_n(start.begin(), 256, next.begin());
  for (int b = 0; b < 256; ++b) {
    while (next[b] < start[b + 1]) {
      PackedEdge edge = begin[next[b]];
      int digit = static_cast<int>((edge >> shift) & 0xff);
      while (digit != b) {
        std::swap(edge, begin[next[digit]++]);
        digit = static_cast<int>((edge >> shift) & 0xff);
      }
      begin[next[b]++] = edge;
    }
  }
  if (shift == 32) return;
  for (int b = 0; b < 256; ++b) {
    if (start[b + 1] - start[b] > 1) SortByWeight(begin + start[b], begin + start[b + 1], shift - 8);
  }
}

// The disjoint-set forest of components: union by rank, and FindRoot compresses only the node it starts from.
class ComponentForest {
 public:
  explicit ComponentForest(int n) : rank_(n, 0), parent_(n), size_(n, 1), count_(n) {
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
      size_[a] += size_[b];
    } else {
      parent_[a] = b;
      size_[b] += size_[a];
      if (rank_[a] == rank_[b]) ++rank_[b];
    }
    --count_;
  }

  int size(int root) const { return size_[root]; }
  int count() const { return count_; }

 private:
  std::vector<int> rank_;
  std::vector<int> parent_;
  std::vector<int> size_;
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
  SortByWeight(edges.data(), edges.data() + edges.size());
  ComponentForest forest(pixelCount);
  std::vector<float> threshold(pixelCount, k);
  for (PackedEdge edge : edges) {
    int a = forest.FindRoot(EdgePixelA(edge));
    int b = forest.FindRoot(EdgePixelB(edge, width));
    const float weight = EdgeWeight(edge);
    if (a != b && weight <= threshold[a] && weight <= threshold[b]) {
      forest.Unite(a, b);
      a = forest.FindRoot(a);
      threshold[a] = weight + k / static_cast<float>(forest.size(a));
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
