#include "preseg/pyramid_segmentation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <opencv2/core.hpp>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace labeler {
namespace {

constexpr int kIterations = 3;
constexpr int kChannels = 3;

// One layer of the pyramid. Layer 0 holds the pixels (width x height); a node layer has an extra column and an
// extra row, so it holds (width + 1) x (height + 1) nodes, the extras being candidates for the children of the
// last two columns and rows of the layer below.
struct Layer {
  int width = 0;   // interior
  int height = 0;  // interior
  int stride = 0;  // nodes per row
  int rows = 0;
  std::vector<float> value;  // kChannels per node
  std::vector<int> father;   // index in the layer above, or -1
  std::vector<int> area;     // pixels under the node (node layers only)

  float* At(int index) { return &value[static_cast<size_t>(index) * kChannels]; }
  const float* At(int index) const { return &value[static_cast<size_t>(index) * kChannels]; }
  int Index(int y, int x) const { return y * stride + x; }
};

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

// Separable (1 4 6 4 1) / 256 reduction of the interior of `below` into all nodes of `above`, extras included,
// with reflect-101 borders: rows are filtered horizontally first, then combined vertically.
void GaussianReduce(const Layer& below, Layer& above) {
  const int sourceWidth = below.width;
  const int sourceHeight = below.height;
  std::vector<float> filtered(static_cast<size_t>(sourceHeight) * above.stride * kChannels);
  // Source columns 2x-2 .. 2x+2 for every output x, the extra column included, mirrored into the source.
  std::vector<int> columns(2 * above.stride + 3);
  for (int k = 0; k < static_cast<int>(columns.size()); ++k) {
    columns[k] = cv::borderInterpolate(k - 2, sourceWidth, cv::BORDER_REFLECT_101);
  }
  for (int y = 0; y < sourceHeight; ++y) {
    const float* row = below.At(below.Index(y, 0));
    float* out = &filtered[static_cast<size_t>(y) * above.stride * kChannels];
    for (int x = 0; x < above.stride; ++x) {
      const int* taps = &columns[2 * x];
      for (int c = 0; c < kChannels; ++c) {
        out[x * kChannels + c] = row[taps[0] * kChannels + c] + 4 * row[taps[1] * kChannels + c] +
                                 6 * row[taps[2] * kChannels + c] + 4 * row[taps[3] * kChannels + c] +
                                 row[taps[4] * kChannels + c];
      }
    }
  }
  for (int y = 0; y < above.rows; ++y) {
    int sourceRows[5];
    for (int k = 0; k < 5; ++k) {
      sourceRows[k] = cv::borderInterpolate(2 * y + k - 2, sourceHeight, cv::BORDER_REFLECT_101);
    }
    for (int x = 0; x < above.stride; ++x) {
      float* out = above.At(above.Index(y, x));
      for (int c = 0; c < kChannels; ++c) {
        auto row = [&](int k) {
          return filtered[(static_cast<size_t>(sourceRows[k]) * above.stride + x) * kChannels + c];
        };
        out[c] = (row(0) + 4 * row(1) + 6 * row(2) + 4 * row(3) + row(4)) * (1.0f / 256.0f);
      }
    }
  }
}

class PyramidLinker {
 public:
  PyramidLinker(const cv::Mat& image, int level, float threshold1) : level_(level), threshold1_(threshold1) {
    layers_.resize(level + 1);
    Layer& pixels = layers_[0];
    pixels.width = pixels.stride = image.cols;
    pixels.height = pixels.rows = image.rows;
    pixels.value.resize(static_cast<size_t>(image.total()) * kChannels);
    pixels.father.assign(image.total(), -1);
    for (int y = 0; y < image.rows; ++y) {
      const uchar* row = image.ptr<uchar>(y);
      float* out = pixels.At(pixels.Index(y, 0));
      for (int i = 0; i < image.cols * kChannels; ++i) out[i] = row[i];
    }
    for (int l = 1; l <= level; ++l) {
      Layer& layer = layers_[l];
      layer.width = layers_[l - 1].width / 2;
      layer.height = layers_[l - 1].height / 2;
      layer.stride = layer.width + 1;
      layer.rows = layer.height + 1;
      size_t count = static_cast<size_t>(layer.stride) * layer.rows;
      layer.value.resize(count * kChannels);
      layer.father.assign(count, -1);
      layer.area.assign(count, 0);
      GaussianReduce(layers_[l - 1], layer);
    }
  }

  // Runs the linking iterations and returns the components in the order the clustering takes them.
  std::vector<Component> Link() {
    std::vector<Component> components;
    for (int iteration = 0; iteration < kIterations; ++iteration) {
      const bool final = iteration == kIterations - 1;
      for (int l = 0; l < level_; ++l) ChooseFathers(l, final, components);
      std::fill(layers_[level_].value.begin(), layers_[level_].value.end(), 0.0f);
      for (int l = 0; l < level_; ++l) RecomputeValues(l, final, components);
    }
    const Layer& top = layers_[level_];
    for (int y = 0; y < top.height; ++y) {
      for (int x = 0; x < top.width; ++x) {
        if (top.area[top.Index(y, x)] != 0) components.push_back({level_, top.Index(y, x)});
      }
    }
    return components;
  }

  std::vector<Layer>& layers() { return layers_; }

 private:
  // Every interior node of layer l picks the nearest of its four candidates one layer up, if near enough.
  void ChooseFathers(int l, bool final, std::vector<Component>& components) {
    Layer& children = layers_[l];
    Layer& parents = layers_[l + 1];
    for (int y = 0; y < children.height; ++y) {
      for (int x = 0; x < children.width; ++x) {
        const int child = children.Index(y, x);
        const float* value = children.At(child);
        const int top = parents.Index(y / 2, x / 2);
        const int candidates[4] = {top, top + 1, top + parents.stride, top + parents.stride + 1};
        int best = candidates[0];
        float bestDistance = Distance(value, parents.At(best));
        for (int k = 1; k < 4; ++k) {
          float d = Distance(value, parents.At(candidates[k]));
          if (d < bestDistance) {
            bestDistance = d;
            best = candidates[k];
          }
        }
        if (bestDistance < threshold1_) {
          children.father[child] = best;
          parents.area[best] += l == 0 ? 1 : children.area[child];
        } else {
          children.father[child] = -1;
          if (final) components.push_back({l, child});
        }
        if (l > 0) std::fill_n(children.At(child), kChannels, 0.0f);
      }
    }
    if (l > 0) ClearExtraValues(children);
  }

  static void ClearExtraValues(Layer& layer) {
    for (int y = 0; y < layer.rows; ++y) std::fill_n(layer.At(layer.Index(y, layer.width)), kChannels, 0.0f);
    std::fill_n(layer.At(layer.Index(layer.height, 0)), layer.stride * kChannels, 0.0f);
  }

  // Layer l+1 gets, per node, the mean of the pixels under it, or a copied value where none is.
  void RecomputeValues(int l, bool final, std::vector<Component>& components) {
    Layer& children = layers_[l];
    Layer& parents = layers_[l + 1];
    for (int y = 0; y < children.height; ++y) {
      for (int x = 0; x < children.width; ++x) {
        const int child = children.Index(y, x);
        const int father = children.father[child];
        if (father < 0) continue;
        const float* value = children.At(child);
        float* sum = parents.At(father);
        if (l == 0) {
          for (int c = 0; c < kChannels; ++c) sum[c] += value[c];
        } else {
          const float weight = static_cast<float>(children.area[child]);
          for (int c = 0; c < kChannels; ++c) sum[c] += weight * value[c];
        }
      }
    }
    if (!final && l > 0) std::fill(children.area.begin(), children.area.end(), 0);
    Finalise(l, final);
    if (final) RecordExtras(l + 1, components);
    if (!final && l + 1 == level_) std::fill(parents.area.begin(), parents.area.end(), 0);
  }

  void Finalise(int l, bool final) {
    const Layer& children = layers_[l];
    Layer& parents = layers_[l + 1];
    const int w = parents.width;
    const int h = parents.height;
    const auto& table = ReciprocalTable();
    for (int i = 0; i <= h; ++i) {
      const int sourceRow = (i % 2 == 0 && i >= 2) ? 1 : 0;
      for (int j = 0; j <= w; ++j) {
        const int node = parents.Index(i, j);
        float* value = parents.At(node);
        const int area = parents.area[node];
        const bool extraColumn = j == w;
        const bool corner = extraColumn && i == h;
        if (area != 0) {
          if (!extraColumn || (corner && final)) {
            const float scale = area <= 32 ? table[area] : 1.0f / static_cast<float>(area);
            for (int c = 0; c < kChannels; ++c) value[c] *= scale;
          } else {
            for (int c = 0; c < kChannels; ++c) value[c] /= static_cast<float>(area);
          }
          continue;
        }
        const float* source;
        if (final && i == h) {
          source = l == 0 ? children.At(children.Index(sourceRow, std::min(2 * j, children.width - 1)))
                          : children.At(children.Index(sourceRow, j));
        } else if (!extraColumn) {
          source = children.At(children.Index(sourceRow, 2 * j));
        } else {
          source = l == 0 ? children.At(children.Index(sourceRow, children.width - 2))
                          : children.At(children.Index(sourceRow, children.width));
        }
        std::copy_n(source, kChannels, value);
      }
    }
  }

  void RecordExtras(int l, std::vector<Component>& components) {
    const Layer& layer = layers_[l];
    for (int i = 0; i < layer.height; ++i) {
      int node = layer.Index(i, layer.width);
      if (layer.area[node] != 0) components.push_back({l, node});
    }
    for (int j = 0; j <= layer.width; ++j) {
      int node = layer.Index(layer.height, j);
      if (layer.area[node] != 0) components.push_back({l, node});
    }
  }

  int level_;
  float threshold1_;
  std::vector<Layer> layers_;
};

// Components indexed by the cell of a colour grid whose cell side is threshold2: everything closer than
// threshold2 to a colour lies in its cell or in one of the 26 around it.
class ColourGrid {
 public:
  explicit ColourGrid(double cellSide) : cellSide_(cellSide) {}

  static constexpr int kBits = 10;  // cell coordinates of colours 0..255 with a cell side of at least 1

  long long Key(int cx, int cy, int cz) const {
    return (static_cast<long long>(cx + 1) << (2 * kBits)) | (static_cast<long long>(cy + 1) << kBits) | (cz + 1);
  }
  std::array<int, 3> Cell(const float* colour) const {
    return {static_cast<int>(std::floor(colour[0] / cellSide_)), static_cast<int>(std::floor(colour[1] / cellSide_)),
            static_cast<int>(std::floor(colour[2] / cellSide_))};
  }
  void Add(const float* colour, int component) {
    auto cell = Cell(colour);
    cells_[Key(cell[0], cell[1], cell[2])].push_back(component);
  }
  std::vector<int>* Find(int cx, int cy, int cz) {
    auto it = cells_.find(Key(cx, cy, cz));
    return it == cells_.end() ? nullptr : &it->second;
  }

 private:
  double cellSide_;
  std::unordered_map<long long, std::vector<int>> cells_;
};

struct ComponentView {
  const float* colour;
  int area;
};

// Greedy clustering around seeds taken in list order; members are summed in list order, so the grid changes
// how members are found, never the picture.
std::vector<std::array<uchar, 3>> Cluster(const std::vector<ComponentView>& components, double threshold2) {
  const int count = static_cast<int>(components.size());
  std::vector<std::array<uchar, 3>> colours(count);
  auto roundColour = [](const float* value, std::array<uchar, 3>& out) {
    for (int c = 0; c < kChannels; ++c) out[c] = cv::saturate_cast<uchar>(std::lrintf(value[c]));
  };
  if (threshold2 < 1) {  // no merging: each component is its own cluster
    for (int i = 0; i < count; ++i) roundColour(components[i].colour, colours[i]);
    return colours;
  }
  ColourGrid grid(threshold2);
  for (int i = 0; i < count; ++i) grid.Add(components[i].colour, i);
  std::vector<char> clustered(count, 0);
  std::vector<int> members;
  for (int seed = 0; seed < count; ++seed) {
    if (clustered[seed]) continue;
    clustered[seed] = 1;
    const float* c0 = components[seed].colour;
    members.clear();
    auto cell = grid.Cell(c0);
    for (int dx = -1; dx <= 1; ++dx) {
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dz = -1; dz <= 1; ++dz) {
          std::vector<int>* entries = grid.Find(cell[0] + dx, cell[1] + dy, cell[2] + dz);
          if (entries == nullptr) continue;
          // Drop entries clustered earlier while looking; the rest keep their list order.
          size_t kept = 0;
          for (int candidate : *entries) {
            if (clustered[candidate]) continue;
            if (Distance(components[candidate].colour, c0) < threshold2) {
              members.push_back(candidate);
              clustered[candidate] = 1;
            } else {
              (*entries)[kept++] = candidate;
            }
          }
          entries->resize(kept);
        }
      }
    }
    std::sort(members.begin(), members.end());
    float area = static_cast<float>(components[seed].area);
    float sum[kChannels];
    for (int c = 0; c < kChannels; ++c) sum[c] = c0[c] * area;
    int totalArea = components[seed].area;
    for (int member : members) {
      const ComponentView& m = components[member];
      totalArea += m.area;
      for (int c = 0; c < kChannels; ++c) sum[c] += m.colour[c] * static_cast<float>(m.area);
    }
    std::array<uchar, 3> colour;
    if (totalArea != 0) {
      float mean[kChannels];
      for (int c = 0; c < kChannels; ++c) mean[c] = sum[c] / static_cast<float>(totalArea);
      roundColour(mean, colour);
    } else {
      roundColour(c0, colour);
    }
    colours[seed] = colour;
    for (int member : members) colours[member] = colour;
  }
  return colours;
}

int RoundThreshold(double threshold) {
  long rounded = std::lrint(threshold);
  if (rounded < 0) throw std::invalid_argument("pyramid segmentation thresholds must not be negative");
  return static_cast<int>(rounded);
}

}  // namespace

void PyramidSegment(const cv::Mat& source, cv::Mat& destination, int level, double threshold1, double threshold2) {
  CV_Assert(source.type() == CV_8UC3 && !source.empty());
  CV_Assert(level >= 1 && level <= 15);
  const int t1 = RoundThreshold(threshold1);
  const int t2 = RoundThreshold(threshold2);
  const int block = 1 << level;
  const int paddedWidth = (source.cols + block - 1) / block * block;
  const int paddedHeight = (source.rows + block - 1) / block * block;
  cv::Mat padded;
  cv::copyMakeBorder(source, padded, 0, paddedHeight - source.rows, 0, paddedWidth - source.cols,
                     cv::BORDER_REPLICATE);

  PyramidLinker linker(padded, level, static_cast<float>(t1));
  std::vector<Component> components = linker.Link();
  std::vector<Layer>& layers = linker.layers();

  std::vector<ComponentView> views(components.size());
  for (size_t i = 0; i < components.size(); ++i) {
    const Component& c = components[i];
    const Layer& layer = layers[c.layer];
    views[i] = {layer.At(c.index), c.layer == 0 ? 1 : layer.area[c.index]};
  }
  std::vector<std::array<uchar, 3>> clusterColours = Cluster(views, t2);

  // Colours flow from the roots down the links to the pixels.
  std::vector<std::vector<std::array<uchar, 3>>> colours(level + 1);
  for (int l = 0; l <= level; ++l) colours[l].assign(layers[l].father.size(), {0, 0, 0});
  for (size_t i = 0; i < components.size(); ++i) colours[components[i].layer][components[i].index] = clusterColours[i];
  for (int l = level - 1; l >= 0; --l) {
    const std::vector<int>& fathers = layers[l].father;
    for (size_t node = 0; node < fathers.size(); ++node) {
      if (fathers[node] >= 0) colours[l][node] = colours[l + 1][fathers[node]];
    }
  }

  destination.create(source.size(), CV_8UC3);
  const Layer& pixels = layers[0];
  for (int y = 0; y < source.rows; ++y) {
    uchar* out = destination.ptr<uchar>(y);
    for (int x = 0; x < source.cols; ++x) {
      const std::array<uchar, 3>& colour = colours[0][pixels.Index(y, x)];
      out[3 * x] = colour[0];
      out[3 * x + 1] = colour[1];
      out[3 * x + 2] = colour[2];
    }
  }
}

}  // namespace labeler
