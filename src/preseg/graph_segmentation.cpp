#include "preseg/graph_segmentation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "common/cancellation.h"
#include "common/random.h"
#include "common/report.h"
#include "preseg/edge_sort.h"
#include "preseg/two_halves.h"
#include "preseg/uninitialised.h"

namespace labeler {
namespace {

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

std::array<uchar, 3> RandomColour(Random& random) {
  std::array<uchar, 3> colour;
  for (uchar& byte : colour) byte = static_cast<uchar>(random.Next() * 255 / kRandomMax);
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
int SegmentPlanes(const cv::Mat& frame, cv::Mat& colour, cv::Mat& edges, float sigma, float k, int minSize,
                  Random& random, const std::stop_token& stop) {
  const int w = frame.cols;
  const int h = frame.rows;
  const int pixelCount = w * h;
  Uninitialised<PackedEdge> graph = BuildEdges(SmoothedChannels(frame, sigma)->channels);
  ThrowIfCancelled(stop);
  SortEdges(graph.data(), graph.size());
  ThrowIfCancelled(stop);
  ComponentForest forest = MergeByThreshold(pixelCount, graph, w, k);
  MergeSmallComponents(forest, graph, w, minSize);
  graph.Release();
  ThrowIfCancelled(stop);

  // Pixel i draws the i-th colour of the sequence, and a component takes its root's: each root keeps its colour
  // in its own pixel of the picture, and the other pixels copy it from there.
  uchar* picture = colour.ptr<uchar>(0);
  CV_Assert(colour.isContinuous());
  for (int pixel = 0; pixel < pixelCount; ++pixel) {
    const std::array<uchar, 3> drawn = RandomColour(random);
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

int GraphSegment(const cv::Mat& frame, cv::Mat& colour, cv::Mat& edges, float sigma, float k, int minSize,
                 Random& random, std::string* report, const std::stop_token& stop) {
  CV_Assert(frame.type() == CV_8UC3);
  if (sigma == -1.0f) sigma = 0.5f;
  if (k == -1.0f) k = 500.0f;
  if (minSize == -1) minSize = 20;
  colour.create(frame.size(), CV_8UC3);
  edges.create(frame.size(), CV_8UC1);
  Report(report, "processing\n");
  const int count = SegmentPlanes(frame, colour, edges, sigma, k, minSize, random, stop);
  Report(report, "got " + std::to_string(count) + " components\n");
  return count;
}

}  // namespace labeler
