#include "preseg/pyramid_segmentation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

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

// The nearest of the four candidate fathers above a child: the 2 x 2 block of nodes whose top-left corner is
// `top`, taken in the order top-left, top-right, bottom-left, bottom-right; a later one wins only when strictly
// nearer. Returns the index of the winner and its distance.
inline int NearestCandidate(const float* value, const NodeLayer& parents, int top, float& distance) {
  const float* topLeft = parents.At(top);
  const float* bottomLeft = topLeft + static_cast<size_t>(parents.stride) * kChannels;
  const float d1 = Distance(value, topLeft + kChannels);
  const float d2 = Distance(value, bottomLeft);
  const float d3 = Distance(value, bottomLeft + kChannels);
  // Branch-free: each comparison gives an all-ones or all-zeros mask that picks the offset.
  int offset = 0;
  float best = Distance(value, topLeft);
  int nearer = -static_cast<int>(d1 < best);
  offset = (offset & ~nearer) | (1 & nearer);
  best = std::min(best, d1);
  nearer = -static_cast<int>(d2 < best);
  offset = (offset & ~nearer) | (parents.stride & nearer);
  best = std::min(best, d2);
  nearer = -static_cast<int>(d3 < best);
  offset = (offset & ~nearer) | ((parents.stride + 1) & nearer);
  best = std::min(best, d3);
  distance = best;
  return top + offset;
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
// threshold2 to a colour lies in its cell or in one of the 26 around it. Each cell lists its components in
// list order, each entry with a copy of its colour so that a cell is scanned in one sweep of memory. A bitmap
// of occupied cells answers most lookups, a flat hash table the rest.
class ColourGrid {
 public:
  struct Entry {
    int component;
    float colour[kChannels];
  };
  // The entries still listed in a cell; the caller may compact them and set the new count.
  struct Cell {
    Entry* entries;
    int* live;
  };

  void Build(const std::vector<float>& colours, int count, double cellSide) {
    cellSide_ = cellSide;
    side_ = static_cast<int>(std::floor(255.0 / cellSide)) + 3;  // cells -1 .. floor(255 / side) + 1
    occupied_.assign((static_cast<size_t>(side_) * side_ * side_ + 63) / 64, 0);
    size_t capacity = 16;
    while (capacity < 2 * static_cast<size_t>(count)) capacity *= 2;
    slotKey_.assign(capacity, -1);
    slotCell_.resize(capacity);
    cellOf_.resize(count);
    cellStart_.clear();
    for (int i = 0; i < count; ++i) {
      const long long key = KeyOf(&colours[static_cast<size_t>(i) * kChannels]);
      occupied_[key >> 6] |= 1ull << (key & 63);
      size_t slot = Hash(key);
      while (slotKey_[slot] != -1 && slotKey_[slot] != key) slot = (slot + 1) & (capacity - 1);
      if (slotKey_[slot] == -1) {
        slotKey_[slot] = key;
        slotCell_[slot] = static_cast<int>(cellStart_.size());
        cellStart_.push_back(0);
      }
      cellOf_[i] = slotCell_[slot];
      ++cellStart_[cellOf_[i]];
    }
    live_.assign(cellStart_.begin(), cellStart_.end());
    int start = 0;
    for (int& entry : cellStart_) {
      const int size = entry;
      entry = start;
      start += size;
    }
    fill_.assign(cellStart_.begin(), cellStart_.end());
    entries_.resize(count);
    for (int i = 0; i < count; ++i) {
      Entry& entry = entries_[fill_[cellOf_[i]]++];
      entry.component = i;
      std::copy_n(&colours[static_cast<size_t>(i) * kChannels], kChannels, entry.colour);
    }
  }

  std::array<int, 3> CellCoordinates(const float* colour) const {
    return {static_cast<int>(std::floor(colour[0] / cellSide_)), static_cast<int>(std::floor(colour[1] / cellSide_)),
            static_cast<int>(std::floor(colour[2] / cellSide_))};
  }

  bool Find(int cx, int cy, int cz, Cell& cell) {
    if (std::min({cx, cy, cz}) < -1 || std::max({cx, cy, cz}) + 1 >= side_) return false;
    const long long key = Key(cx, cy, cz);
    if ((occupied_[key >> 6] & (1ull << (key & 63))) == 0) return false;
    size_t slot = Hash(key);
    while (slotKey_[slot] != key) slot = (slot + 1) & (slotKey_.size() - 1);
    const int index = slotCell_[slot];
    cell = {&entries_[cellStart_[index]], &live_[index]};
    return true;
  }

 private:
  long long Key(int cx, int cy, int cz) const {
    return (static_cast<long long>(cx + 1) * side_ + (cy + 1)) * side_ + (cz + 1);
  }
  long long KeyOf(const float* colour) const {
    const auto c = CellCoordinates(colour);
    return Key(c[0], c[1], c[2]);
  }
  size_t Hash(long long key) const {
    return static_cast<size_t>((static_cast<unsigned long long>(key) * 0x9E3779B97F4A7C15ull) >> 20) &
           (slotKey_.size() - 1);
  }

  double cellSide_ = 1;
  int side_ = 0;
  std::vector<unsigned long long> occupied_;
  std::vector<long long> slotKey_;
  std::vector<int> slotCell_;
  std::vector<int> cellOf_;
  std::vector<int> cellStart_;
  std::vector<int> live_;
  std::vector<int> fill_;
  std::vector<Entry> entries_;
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

// Every interior node of layer l picks the nearest of its four candidates one layer up, if near enough.
void PyramidSegmenter::Workspace::ChooseFathers(int l, bool final) {
  NodeLayer& parents = layers[l + 1];
  if (l == 0) {
    const int width = pixels.cols;
    for (int y = 0; y < pixels.rows; ++y) {
      const uchar* row = pixels.ptr<uchar>(y);
      const int rowTop = parents.Index(y / 2, 0);
      int* fathers = &pixelFather[static_cast<size_t>(y) * width];
      for (int x = 0; x < width; ++x) {
        const float value[kChannels] = {static_cast<float>(row[3 * x]), static_cast<float>(row[3 * x + 1]),
                                        static_cast<float>(row[3 * x + 2])};
        float distance;
        const int best = NearestCandidate(value, parents, rowTop + x / 2, distance);
        if (distance < threshold1) {
          fathers[x] = best;
          ++parents.area[best];
        } else {
          fathers[x] = -1;
          if (final) components.push_back({0, y * width + x});
        }
      }
    }
    return;
  }
  NodeLayer& children = layers[l];
  for (int y = 0; y < children.height; ++y) {
    const int rowTop = parents.Index(y / 2, 0);
    for (int x = 0; x < children.width; ++x) {
      const int child = children.Index(y, x);
      float* value = children.At(child);
      float distance;
      const int best = NearestCandidate(value, parents, rowTop + x / 2, distance);
      if (distance < threshold1) {
        children.father[child] = best;
        parents.area[best] += children.area[child];
      } else {
        children.father[child] = -1;
        if (final) components.push_back({l, child});
      }
      std::fill_n(value, kChannels, 0.0f);
    }
  }
  // The extras' values are cleared too.
  for (int y = 0; y < children.rows; ++y) std::fill_n(children.At(children.Index(y, children.width)), kChannels, 0.0f);
  std::fill_n(children.At(children.Index(children.height, 0)), children.stride * kChannels, 0.0f);
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
    const auto centre = grid.CellCoordinates(c0);
    for (int dx = -1; dx <= 1; ++dx) {
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dz = -1; dz <= 1; ++dz) {
          ColourGrid::Cell cell;
          if (!grid.Find(centre[0] + dx, centre[1] + dy, centre[2] + dz, cell)) continue;
          int kept = 0;  // entries clustered by now are dropped while looking; the rest keep their order
          for (int k = 0; k < *cell.live; ++k) {
            const ColourGrid::Entry& entry = cell.entries[k];
            if (clustered[entry.component]) continue;
            if (Distance(entry.colour, c0) < threshold2) {
              members.push_back(entry.component);
              clustered[entry.component] = 1;
            } else {
              cell.entries[kept++] = entry;
            }
          }
          *cell.live = kept;
        }
      }
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
                               double threshold2) {
  CV_Assert(source.type() == CV_8UC3 && !source.empty());
  CV_Assert(level >= 1 && level <= 15);
  const int t1 = RoundThreshold(threshold1);
  const int t2 = RoundThreshold(threshold2);
  Workspace& work = *workspace_;
  work.Prepare(source, level, t1);
  work.Link();
  work.Cluster(t2);
  work.PaintOutput();
  destination.create(source.size(), CV_8UC3);
  work.output(cv::Rect(0, 0, source.cols, source.rows)).copyTo(destination);
}

void PyramidSegment(const cv::Mat& source, cv::Mat& destination, int level, double threshold1, double threshold2) {
  PyramidSegmenter().Segment(source, destination, level, threshold1, threshold2);
}

}  // namespace labeler
