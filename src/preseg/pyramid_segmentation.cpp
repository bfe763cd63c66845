#include "preseg/pyramid_segmentation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "common/cancellation.h"

namespace labeler {
namespace {

constexpr int kIterations = 3;
constexpr int kChannels = 3;

// A layer of nodes above the pixels. It has an extra column and an extra row, so it holds (width + 1) x
// (height + 1) nodes, the extras being candidates for the children of the last two columns and rows below.
struct NodeLayer {
  int width = 0;   // interior
  int height = 0;  // interior
  int stride = 0;  // nodes per row
  int rows = 0;
  std::vector<float> value;       // kChannels per node
  std::vector<int> father;        // index in the layer above, or -1
  std::vector<int> area;          // pixels under the node
  std::vector<cv::Vec3b> colour;  // the output colour of the node's cluster

  void Resize(int interiorWidth, int interiorHeight) {
    width = interiorWidth;
    height = interiorHeight;
    stride = width + 1;
    rows = height + 1;
    const size_t count = static_cast<size_t>(stride) * rows;
    value.resize(count * kChannels);
    father.assign(count, -1);
    area.assign(count, 0);
    colour.resize(count);
  }
  float* At(int index) { return &value[static_cast<size_t>(index) * kChannels]; }
  const float* At(int index) const { return &value[static_cast<size_t>(index) * kChannels]; }
  int Index(int y, int x) const { return y * stride + x; }
};

// A root of the final link forest: a pixel (layer 0) or a node.
struct Component {
  int layer;
  int index;
};

inline float Distance(const float* a, const float* b) {
  float d = std::fabs(a[0] - b[0]);
  d = std::max(d, std::fabs(a[1] - b[1]));
  return std::max(d, std::fabs(a[2] - b[2]));
}

// The reciprocals used to normalise small areas: 1/a written out to 8 decimals, in single precision. Some
// differ from the correctly rounded 1/a by one unit in the last place, and that decides threshold outcomes.
const std::array<float, 33>& ReciprocalTable() {
  static const std::array<float, 33> table = [] {
    std::array<float, 33> t{};
    for (int a = 1; a <= 32; ++a) {
      char text[32];
      std::snprintf(text, sizeof text, "%.8f", 1.0 / a);
      t[a] = std::strtof(text, nullptr);
    }
    return t;
  }();
  return table;
}

int RoundThreshold(double threshold) {
  long rounded = std::lrint(threshold);
  if (rounded < 0) throw std::invalid_argument("pyramid segmentation thresholds must not be negative");
  return static_cast<int>(rounded);
}

// Components indexed by the cell of a colour grid whose cell side is threshold2: everything closer than
// threshold2 to a colour lies in its cell or in one of the 26 around it. Each occupied cell lists its
// components in list order, each entry with a copy of its colour so that a cell is scanned in one sweep of
// memory, and knows its occupied neighbour cells. Everything is built with sorts and sequential merges.
class ColourGrid {
 public:
  struct Entry {
    int component;
    float colour[kChannels];
  };

  void Build(const std::vector<float>& colours, int count, double cellSide) {
    cellSide_ = cellSide;
    side_ = static_cast<int>(std::floor(255.0 / cellSide)) + 3;  // cell coordinates -1 .. floor(255 / side) + 1
    SortByCell(colours, count);
    GroupCells(colours, count);
    LinkNeighbours();
  }

  // The cell of a component, as built.
  int CellOf(int component) const { return cellOf_[component]; }
  // The cells to scan for a seed in `cell`: the cell itself and its occupied neighbours.
  const int* NeighboursBegin(int cell) const { return &neighbours_[neighbourStart_[cell]]; }
  const int* NeighboursEnd(int cell) const { return &neighbours_[neighbourStart_[cell + 1]]; }
  // The entries still listed in a cell; the caller may compact them and set the new count.
  Entry* Entries(int cell) { return &entries_[cellStart_[cell]]; }
  int& Live(int cell) { return live_[cell]; }

 private:
  int Key(const float* colour) const {
    int key = 0;
    for (int c = 0; c < kChannels; ++c) key = key * side_ + static_cast<int>(std::floor(colour[c] / cellSide_)) + 1;
    return key;
  }

  // Component indices ordered by cell key, and by index within a cell: a stable two-pass radix sort.
  void SortByCell(const std::vector<float>& colours, int count) {
    keys_.resize(count);
    for (int i = 0; i < count; ++i) keys_[i] = Key(&colours[static_cast<size_t>(i) * kChannels]);
    order_.resize(count);
    scratch_.resize(count);
    for (int i = 0; i < count; ++i) scratch_[i] = i;
    constexpr int kDigitBits = 13;
    std::vector<int>& histogram = histogram_;
    for (int shift : {0, kDigitBits}) {
      histogram.assign((1 << kDigitBits) + 1, 0);
      for (int i = 0; i < count; ++i) ++histogram[((keys_[i] >> shift) & ((1 << kDigitBits) - 1)) + 1];
      for (size_t b = 1; b < histogram.size(); ++b) histogram[b] += histogram[b - 1];
      for (int k = 0; k < count; ++k) {
        const int i = scratch_[k];
        order_[histogram[(keys_[i] >> shift) & ((1 << kDigitBits) - 1)]++] = i;
      }
      std::swap(order_, scratch_);
    }
    std::swap(order_, scratch_);
  }

  void GroupCells(const std::vector<float>& colours, int count) {
    cellKey_.clear();
    cellStart_.clear();
    cellOf_.resize(count);
    entries_.resize(count);
    for (int k = 0; k < count; ++k) {
      const int i = order_[k];
      if (cellKey_.empty() || cellKey_.back() != keys_[i]) {
        cellKey_.push_back(keys_[i]);
        cellStart_.push_back(k);
      }
      cellOf_[i] = static_cast<int>(cellKey_.size()) - 1;
      entries_[k].component = i;
      std::copy_n(&colours[static_cast<size_t>(i) * kChannels], kChannels, entries_[k].colour);
    }
    cellStart_.push_back(count);
    live_.resize(cellKey_.size());
    for (size_t cell = 0; cell < cellKey_.size(); ++cell) live_[cell] = cellStart_[cell + 1] - cellStart_[cell];
  }

  // For each of the 27 offsets, one merge of the sorted cell keys with themselves shifted by the offset.
  void LinkNeighbours() {
    const int cells = static_cast<int>(cellKey_.size());
    std::vector<int> offsets;
    for (int dx = -1; dx <= 1; ++dx) {
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dz = -1; dz <= 1; ++dz) offsets.push_back((dx * side_ + dy) * side_ + dz);
      }
    }
    neighbourStart_.assign(cells + 1, 0);
    auto merge = [&](int offset, auto&& visit) {
      int b = 0;
      for (int a = 0; a < cells; ++a) {
        const int wanted = cellKey_[a] + offset;
        while (b < cells && cellKey_[b] < wanted) ++b;
        if (b < cells && cellKey_[b] == wanted) visit(a, b);
      }
    };
    for (int offset : offsets) merge(offset, [&](int a, int) { ++neighbourStart_[a + 1]; });
    for (int cell = 0; cell < cells; ++cell) neighbourStart_[cell + 1] += neighbourStart_[cell];
    neighbours_.resize(neighbourStart_[cells]);
    fill_.assign(neighbourStart_.begin(), neighbourStart_.end() - 1);
    for (int offset : offsets) merge(offset, [&](int a, int b) { neighbours_[fill_[a]++] = b; });
  }

  double cellSide_ = 1;
  int side_ = 0;
  std::vector<int> keys_;
  std::vector<int> order_;
  std::vector<int> scratch_;
  std::vector<int> histogram_;
  std::vector<int> cellKey_;
  std::vector<int> cellStart_;
  std::vector<int> cellOf_;
  std::vector<int> live_;
  std::vector<Entry> entries_;
  std::vector<int> neighbourStart_;
  std::vector<int> neighbours_;
  std::vector<int> fill_;
};

}  // namespace

struct PyramidSegmenter::Workspace {
  int level = 0;
  float threshold1 = 0;
  cv::Mat padded;                  // the frame grown to a multiple of 2^level, when it isn't one
  cv::Mat pixels;                  // the frame or `padded`: layer 0, continuous
  cv::Mat output;                  // the segmented picture at the padded size
  std::vector<int> pixelFather;    // layer 0's links
  std::vector<NodeLayer> layers;   // [1..level]; [0] unused
  std::vector<float> filtered;     // rows of the Gaussian reduction, filtered horizontally
  std::vector<int> columns;
  // One row of children for ChooseFathers, and the two parent rows above it, one plane per channel.
  std::array<std::array<std::vector<float>, kChannels>, 2> parentPlane;
  std::array<std::vector<float>, kChannels> childPlane;
  std::vector<float> rowDistance;
  std::vector<int> rowChoice;
  std::vector<Component> components;
  std::vector<float> componentColour;  // kChannels per component
  std::vector<int> componentArea;
  std::vector<cv::Vec3b> clusterColour;
  std::vector<char> clustered;
  std::vector<int> members;
  ColourGrid grid;

  const uchar* Pixel(int index) const { return pixels.ptr<uchar>(0) + static_cast<size_t>(index) * kChannels; }

  void Prepare(const cv::Mat& source, int pyramidLevel, int t1);
  void GaussianReduce(int l);
  void Link();
  void ChooseFathers(int l, bool final);
  void SplitParentRows(const NodeLayer& parents, int parentRow);
  void NearestOfFour(int width);
  void RecomputeValues(int l, bool final);
  void Finalise(int l, bool final);
  void RecordExtras(int l);
  void Cluster(double threshold2);
  void PaintOutput();
};

void PyramidSegmenter::Workspace::Prepare(const cv::Mat& source, int pyramidLevel, int t1) {
  level = pyramidLevel;
  threshold1 = static_cast<float>(t1);
  const int block = 1 << level;
  const int paddedWidth = (source.cols + block - 1) / block * block;
  const int paddedHeight = (source.rows + block - 1) / block * block;
  if (paddedWidth == source.cols && paddedHeight == source.rows && source.isContinuous()) {
    pixels = source;
  } else {
    cv::copyMakeBorder(source, padded, 0, paddedHeight - source.rows, 0, paddedWidth - source.cols,
                       cv::BORDER_REPLICATE);
    pixels = padded;
  }
  output.create(pixels.size(), CV_8UC3);
  for (auto& channels : parentPlane) {
    for (auto& plane : channels) plane.resize(pixels.cols / 2 + 4);  // the vector loop reads one past the extra column
  }
  for (auto& plane : childPlane) plane.resize(pixels.cols);
  rowDistance.resize(pixels.cols);
  rowChoice.resize(pixels.cols);
  pixelFather.assign(pixels.total(), -1);
  layers.resize(level + 1);
  int width = pixels.cols;
  int height = pixels.rows;
  for (int l = 1; l <= level; ++l) {
    width /= 2;
    height /= 2;
    layers[l].Resize(width, height);
    GaussianReduce(l);
  }
  components.clear();
}

// Separable (1 4 6 4 1) / 256 reduction of the interior of layer l-1 into all nodes of layer l, extras
// included, with reflect-101 borders: rows are filtered horizontally first, then combined vertically.
void PyramidSegmenter::Workspace::GaussianReduce(int l) {
  NodeLayer& above = layers[l];
  const int sourceWidth = l == 1 ? pixels.cols : layers[l - 1].width;
  const int sourceHeight = l == 1 ? pixels.rows : layers[l - 1].height;
  const int sourceStride = l == 1 ? pixels.cols : layers[l - 1].stride;
  // Source columns 2x-2 .. 2x+2 for every output x, the extra column included, mirrored into the source.
  columns.resize(2 * above.stride + 3);
  for (int k = 0; k < static_cast<int>(columns.size()); ++k) {
    columns[k] = cv::borderInterpolate(k - 2, sourceWidth, cv::BORDER_REFLECT_101);
  }
  filtered.resize(static_cast<size_t>(sourceHeight) * above.stride * kChannels);
  auto filterRows = [&](auto sourceAt) {
    for (int y = 0; y < sourceHeight; ++y) {
      float* out = &filtered[static_cast<size_t>(y) * above.stride * kChannels];
      const size_t rowStart = static_cast<size_t>(y) * sourceStride;
      for (int x = 0; x < above.stride; ++x) {
        const int* taps = &columns[2 * x];
        for (int c = 0; c < kChannels; ++c) {
          out[x * kChannels + c] = sourceAt(rowStart + taps[0], c) + 4 * sourceAt(rowStart + taps[1], c) +
                                   6 * sourceAt(rowStart + taps[2], c) + 4 * sourceAt(rowStart + taps[3], c) +
                                   sourceAt(rowStart + taps[4], c);
        }
      }
    }
  };
  if (l == 1) {
    const uchar* source = pixels.ptr<uchar>(0);
    filterRows([source](size_t index, int c) { return static_cast<float>(source[index * kChannels + c]); });
  } else {
    const float* source = layers[l - 1].value.data();
    filterRows([source](size_t index, int c) { return source[index * kChannels + c]; });
  }
  for (int y = 0; y < above.rows; ++y) {
    const float* rows[5];
    for (int k = 0; k < 5; ++k) {
      const int sourceRow = cv::borderInterpolate(2 * y + k - 2, sourceHeight, cv::BORDER_REFLECT_101);
      rows[k] = &filtered[static_cast<size_t>(sourceRow) * above.stride * kChannels];
    }
    float* out = above.At(above.Index(y, 0));
    for (int i = 0; i < above.stride * kChannels; ++i) {
      out[i] = (rows[0][i] + 4 * rows[1][i] + 6 * rows[2][i] + 4 * rows[3][i] + rows[4][i]) * (1.0f / 256.0f);
    }
  }
}

// Three iterations of linking, each: choose fathers bottom-up, clear the top layer, recompute values
// bottom-up. The components are recorded during the last one, in the order the clustering takes them.
void PyramidSegmenter::Workspace::Link() {
  for (int iteration = 0; iteration < kIterations; ++iteration) {
    const bool final = iteration == kIterations - 1;
    for (int l = 0; l < level; ++l) ChooseFathers(l, final);
    std::fill(layers[level].value.begin(), layers[level].value.end(), 0.0f);
    for (int l = 0; l < level; ++l) RecomputeValues(l, final);
  }
  const NodeLayer& top = layers[level];
  for (int y = 0; y < top.height; ++y) {
    for (int x = 0; x < top.width; ++x) {
      if (top.area[top.Index(y, x)] != 0) components.push_back({level, top.Index(y, x)});
    }
  }
}

// For each child x of the row in childPlane: the distance to the nearest of its four candidates in
// parentPlane (columns x / 2 and x / 2 + 1 of both rows) and which one it is (0..3, the first of equals), into
// rowDistance and rowChoice.
void PyramidSegmenter::Workspace::NearestOfFour(int width) {
  int x = 0;
#ifdef __SSE2__
  const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  for (; x + 4 <= width; x += 4) {
    const int px = x / 2;  // children x..x+3 have left candidates px, px, px+1, px+1
    __m128 d[4];
    for (int k = 0; k < 4; ++k) d[k] = _mm_setzero_ps();
    for (int c = 0; c < kChannels; ++c) {
      const __m128 child = _mm_loadu_ps(&childPlane[c][x]);
      for (int r = 0; r < 2; ++r) {
        const __m128 three = _mm_loadu_ps(&parentPlane[r][c][px]);  // px .. px+3; px+2 is needed, px+3 not
        const __m128 left = _mm_unpacklo_ps(three, three);          // px, px, px+1, px+1
        const __m128 right = _mm_shuffle_ps(three, three, _MM_SHUFFLE(2, 2, 1, 1));  // px+1, px+1, px+2, px+2
        d[2 * r] = _mm_max_ps(d[2 * r], _mm_and_ps(_mm_sub_ps(child, left), absMask));
        d[2 * r + 1] = _mm_max_ps(d[2 * r + 1], _mm_and_ps(_mm_sub_ps(child, right), absMask));
      }
    }
    __m128 best = d[0];
    __m128i choice = _mm_setzero_si128();
    for (int k = 1; k < 4; ++k) {
      const __m128i nearer = _mm_castps_si128(_mm_cmplt_ps(d[k], best));
      choice = _mm_or_si128(_mm_andnot_si128(nearer, choice), _mm_and_si128(nearer, _mm_set1_epi32(k)));
      best = _mm_min_ps(d[k], best);
    }
    _mm_storeu_ps(&rowDistance[x], best);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&rowChoice[x]), choice);
  }
#endif
  for (; x < width; ++x) {
    const int px = x / 2;
    float d[4] = {0, 0, 0, 0};
    for (int c = 0; c < kChannels; ++c) {
      for (int k = 0; k < 4; ++k) {
        d[k] = std::max(d[k], std::fabs(childPlane[c][x] - parentPlane[k / 2][c][px + k % 2]));
      }
    }
    int choice = 0;
    float best = d[0];
    for (int k = 1; k < 4; ++k) {
      if (d[k] < best) {
        best = d[k];
        choice = k;
      }
    }
    rowDistance[x] = best;
    rowChoice[x] = choice;
  }
}

// Every interior node of layer l (every pixel for l = 0) picks the nearest of its four candidate fathers one
// layer up, if near enough: the 2 x 2 block of nodes above it, taken in the order top-left, top-right,
// bottom-left, bottom-right, a later one winning only when strictly nearer. The work is arranged for the
// vector unit: per pair of child rows the two candidate rows are spread out to one value per child and
// channel, so that the distances of a whole row come from element-wise loops.
void PyramidSegmenter::Workspace::ChooseFathers(int l, bool final) {
  NodeLayer& parents = layers[l + 1];
  const int width = l == 0 ? pixels.cols : layers[l].width;
  const int height = l == 0 ? pixels.rows : layers[l].height;
  const int offsets[4] = {0, 1, parents.stride, parents.stride + 1};
  for (int y = 0; y < height; ++y) {
    if (y % 2 == 0) SplitParentRows(parents, y / 2);
    int firstChild;
    if (l == 0) {
      firstChild = y * width;
      const uchar* row = pixels.ptr<uchar>(y);
      for (int c = 0; c < kChannels; ++c) {
        float* plane = &childPlane[c][0];
        for (int x = 0; x < width; ++x) plane[x] = row[3 * x + c];
      }
    } else {
      firstChild = layers[l].Index(y, 0);
      const float* row = layers[l].At(firstChild);
      for (int c = 0; c < kChannels; ++c) {
        float* plane = &childPlane[c][0];
        for (int x = 0; x < width; ++x) plane[x] = row[3 * x + c];
      }
    }
    NearestOfFour(width);
    const int rowTop = parents.Index(y / 2, 0);
    int* fathers = l == 0 ? &pixelFather[firstChild] : &layers[l].father[firstChild];
    const int* areas = l == 0 ? nullptr : &layers[l].area[firstChild];
    for (int x = 0; x < width; ++x) {
      if (rowDistance[x] < threshold1) {
        const int best = rowTop + x / 2 + offsets[rowChoice[x]];
        fathers[x] = best;
        parents.area[best] += l == 0 ? 1 : areas[x];
      } else {
        fathers[x] = -1;
        if (final) components.push_back({l, firstChild + x});
      }
    }
    if (l > 0) std::fill_n(layers[l].At(firstChild), width * kChannels, 0.0f);  // rebuilt by RecomputeValues
  }
  if (l > 0) {  // the extras' values are cleared too
    NodeLayer& children = layers[l];
    for (int y = 0; y < children.rows; ++y) std::fill_n(children.At(children.Index(y, children.width)), kChannels, 0.0f);
    std::fill_n(children.At(children.Index(children.height, 0)), children.stride * kChannels, 0.0f);
  }
}

// The two parent rows above a pair of child rows, `parentRow` and `parentRow` + 1, one plane per row and
// channel at parent resolution (extra column included).
void PyramidSegmenter::Workspace::SplitParentRows(const NodeLayer& parents, int parentRow) {
  for (int r = 0; r < 2; ++r) {
    const float* row = parents.At(parents.Index(parentRow + r, 0));
    for (int c = 0; c < kChannels; ++c) {
      float* plane = &parentPlane[r][c][0];
      for (int x = 0; x < parents.stride; ++x) plane[x] = row[x * kChannels + c];
    }
  }
}

// Layer l+1 gets, per node, the mean of the pixels under it, or a copied value where none is.
void PyramidSegmenter::Workspace::RecomputeValues(int l, bool final) {
  NodeLayer& parents = layers[l + 1];
  if (l == 0) {
    const int count = static_cast<int>(pixelFather.size());
    for (int child = 0; child < count; ++child) {
      const int father = pixelFather[child];
      if (father < 0) continue;
      const uchar* pixel = Pixel(child);
      float* sum = parents.At(father);
      for (int c = 0; c < kChannels; ++c) sum[c] += pixel[c];
    }
  } else {
    NodeLayer& children = layers[l];
    for (int y = 0; y < children.height; ++y) {
      for (int x = 0; x < children.width; ++x) {
        const int child = children.Index(y, x);
        const int father = children.father[child];
        if (father < 0) continue;
        const float* value = children.At(child);
        const float weight = static_cast<float>(children.area[child]);
        float* sum = parents.At(father);
        for (int c = 0; c < kChannels; ++c) sum[c] += weight * value[c];
      }
    }
    if (!final) std::fill(children.area.begin(), children.area.end(), 0);
  }
  Finalise(l, final);
  if (final) RecordExtras(l + 1);
  if (!final && l + 1 == level) std::fill(parents.area.begin(), parents.area.end(), 0);
}

void PyramidSegmenter::Workspace::Finalise(int l, bool final) {
  NodeLayer& parents = layers[l + 1];
  const int w = parents.width;
  const int h = parents.height;
  const int childWidth = l == 0 ? pixels.cols : layers[l].width;
  // The value a childless node copies: layer l's element (row, column), a pixel for l = 0.
  float pixelValue[kChannels];
  auto childValue = [&](int row, int column) -> const float* {
    if (l > 0) return layers[l].At(layers[l].Index(row, column));
    const uchar* pixel = Pixel(row * childWidth + column);
    for (int c = 0; c < kChannels; ++c) pixelValue[c] = pixel[c];
    return pixelValue;
  };
  const auto& table = ReciprocalTable();
  for (int i = 0; i <= h; ++i) {
    const int sourceRow = (i % 2 == 0 && i >= 2) ? 1 : 0;
    for (int j = 0; j <= w; ++j) {
      const int node = parents.Index(i, j);
      float* value = parents.At(node);
      const int area = parents.area[node];
      const bool extraColumn = j == w;
      if (area != 0) {
        if (!extraColumn || (i == h && final)) {
          const float scale = area <= 32 ? table[area] : 1.0f / static_cast<float>(area);
          for (int c = 0; c < kChannels; ++c) value[c] *= scale;
        } else {
          for (int c = 0; c < kChannels; ++c) value[c] /= static_cast<float>(area);
        }
        continue;
      }
      const float* source;
      if (final && i == h) {
        source = l == 0 ? childValue(sourceRow, std::min(2 * j, childWidth - 1)) : childValue(sourceRow, j);
      } else if (!extraColumn) {
        source = childValue(sourceRow, 2 * j);
      } else {
        source = childValue(sourceRow, l == 0 ? childWidth - 2 : childWidth);
      }
      std::copy_n(source, kChannels, value);
    }
  }
}

void PyramidSegmenter::Workspace::RecordExtras(int l) {
  const NodeLayer& layer = layers[l];
  for (int i = 0; i < layer.height; ++i) {
    const int node = layer.Index(i, layer.width);
    if (layer.area[node] != 0) components.push_back({l, node});
  }
  for (int j = 0; j <= layer.width; ++j) {
    const int node = layer.Index(layer.height, j);
    if (layer.area[node] != 0) components.push_back({l, node});
  }
}

// Greedy clustering around seeds taken in list order, members summed in list order; the colour grid only
// changes how members are found, never the picture.
void PyramidSegmenter::Workspace::Cluster(double threshold2) {
  const int count = static_cast<int>(components.size());
  componentColour.resize(static_cast<size_t>(count) * kChannels);
  componentArea.resize(count);
  for (int i = 0; i < count; ++i) {
    const Component& component = components[i];
    float* colour = &componentColour[static_cast<size_t>(i) * kChannels];
    if (component.layer == 0) {
      const uchar* pixel = Pixel(component.index);
      for (int c = 0; c < kChannels; ++c) colour[c] = pixel[c];
      componentArea[i] = 1;
    } else {
      std::copy_n(layers[component.layer].At(component.index), kChannels, colour);
      componentArea[i] = layers[component.layer].area[component.index];
    }
  }
  auto colourOf = [this](int i) { return &componentColour[static_cast<size_t>(i) * kChannels]; };
  auto round = [](const float* value) {
    cv::Vec3b out;
    for (int c = 0; c < kChannels; ++c) out[c] = cv::saturate_cast<uchar>(std::lrintf(value[c]));
    return out;
  };
  clusterColour.resize(count);
  if (threshold2 < 1) {  // no merging: each component is its own cluster
    for (int i = 0; i < count; ++i) clusterColour[i] = round(colourOf(i));
    return;
  }
  grid.Build(componentColour, count, threshold2);
  clustered.assign(count, 0);
  for (int seed = 0; seed < count; ++seed) {
    if (clustered[seed]) continue;
    clustered[seed] = 1;
    const float* c0 = colourOf(seed);
    members.clear();
    const int home = grid.CellOf(seed);
    for (const int* cell = grid.NeighboursBegin(home); cell != grid.NeighboursEnd(home); ++cell) {
      ColourGrid::Entry* entries = grid.Entries(*cell);
      int& live = grid.Live(*cell);
      int kept = 0;  // entries clustered by now are dropped while looking; the rest keep their order
      for (int k = 0; k < live; ++k) {
        const ColourGrid::Entry& entry = entries[k];
        if (clustered[entry.component]) continue;
        if (Distance(entry.colour, c0) < threshold2) {
          members.push_back(entry.component);
          clustered[entry.component] = 1;
        } else {
          entries[kept++] = entry;
        }
      }
      live = kept;
    }
    std::sort(members.begin(), members.end());
    const float seedArea = static_cast<float>(componentArea[seed]);
    float sum[kChannels];
    for (int c = 0; c < kChannels; ++c) sum[c] = c0[c] * seedArea;
    int totalArea = componentArea[seed];
    for (int member : members) {
      totalArea += componentArea[member];
      const float area = static_cast<float>(componentArea[member]);
      const float* colour = colourOf(member);
      for (int c = 0; c < kChannels; ++c) sum[c] += colour[c] * area;
    }
    cv::Vec3b colour;
    if (totalArea != 0) {
      float mean[kChannels];
      for (int c = 0; c < kChannels; ++c) mean[c] = sum[c] / static_cast<float>(totalArea);
      colour = round(mean);
    } else {
      colour = round(c0);
    }
    clusterColour[seed] = colour;
    for (int member : members) clusterColour[member] = colour;
  }
}

// Colours flow from the roots down the links to the pixels.
void PyramidSegmenter::Workspace::PaintOutput() {
  cv::Vec3b* out = output.ptr<cv::Vec3b>(0);
  for (size_t i = 0; i < components.size(); ++i) {
    const Component& component = components[i];
    if (component.layer == 0) {
      out[component.index] = clusterColour[i];
    } else {
      layers[component.layer].colour[component.index] = clusterColour[i];
    }
  }
  for (int l = level - 1; l >= 1; --l) {
    NodeLayer& layer = layers[l];
    const std::vector<cv::Vec3b>& above = layers[l + 1].colour;
    for (int y = 0; y < layer.height; ++y) {
      for (int x = 0; x < layer.width; ++x) {
        const int node = layer.Index(y, x);
        if (layer.father[node] >= 0) layer.colour[node] = above[layer.father[node]];
      }
    }
  }
  const std::vector<cv::Vec3b>& first = layers[1].colour;
  const int count = static_cast<int>(pixelFather.size());
  for (int pixel = 0; pixel < count; ++pixel) {
    if (pixelFather[pixel] >= 0) out[pixel] = first[pixelFather[pixel]];
  }
}

PyramidSegmenter::PyramidSegmenter() : workspace_(std::make_unique<Workspace>()) {}
PyramidSegmenter::~PyramidSegmenter() = default;

void PyramidSegmenter::Segment(const cv::Mat& source, cv::Mat& destination, int level, double threshold1,
                               double threshold2, const std::stop_token& stop) {
  CV_Assert(source.type() == CV_8UC3 && !source.empty());
  CV_Assert(level >= 1 && level <= 15);
  const int t1 = RoundThreshold(threshold1);
  const int t2 = RoundThreshold(threshold2);
  Workspace& work = *workspace_;
  work.Prepare(source, level, t1);
  ThrowIfCancelled(stop);
  work.Link();
  ThrowIfCancelled(stop);
  work.Cluster(t2);
  ThrowIfCancelled(stop);
  work.PaintOutput();
  destination.create(source.size(), CV_8UC3);
  work.output(cv::Rect(0, 0, source.cols, source.rows)).copyTo(destination);
}

void PyramidSegment(const cv::Mat& source, cv::Mat& destination, int level, double threshold1, double threshold2) {
  PyramidSegmenter().Segment(source, destination, level, threshold1, threshold2);
}

}  // namespace labeler
