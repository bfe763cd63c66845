#include "assist/region_graph.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <opencv2/imgproc.hpp>
#include <unordered_map>

namespace labeler {
namespace {

// Even across the strongest edge two neighbours stay faintly joined: a region walled in by edges on every side
// (a speck of texture, a hole in a label) still takes the label around it rather than none.
constexpr float kWeakestPair = 1e-4f;

// Squared colour differences of each pixel to its right (x) and lower (y) neighbour; the last column of x and
// the last row of y are unused.
struct NeighbourDistances {
  cv::Mat x;
  cv::Mat y;
  double mean = 0;
};

cv::Mat LabColours(const cv::Mat& frame) {
  cv::Mat floating, lab;
  frame.convertTo(floating, CV_32FC3, 1.0 / 255);
  cv::cvtColor(floating, lab, cv::COLOR_BGR2Lab);
  return lab;
}

NeighbourDistances MeasureNeighbours(const cv::Mat& lab) {
  NeighbourDistances d{cv::Mat::zeros(lab.size(), CV_32F), cv::Mat::zeros(lab.size(), CV_32F)};
  double sum = 0;
  for (int y = 0; y < lab.rows; ++y) {
    const cv::Vec3f* row = lab.ptr<cv::Vec3f>(y);
    const cv::Vec3f* below = y + 1 < lab.rows ? lab.ptr<cv::Vec3f>(y + 1) : nullptr;
    float* dx = d.x.ptr<float>(y);
    float* dy = d.y.ptr<float>(y);
    for (int x = 0; x < lab.cols; ++x) {
      if (x + 1 < lab.cols) {
        const cv::Vec3f step = row[x + 1] - row[x];
        dx[x] = step.dot(step);
        sum += dx[x];
      }
      if (below != nullptr) {
        const cv::Vec3f step = below[x] - row[x];
        dy[x] = step.dot(step);
        sum += dy[x];
      }
    }
  }
  const double pairs = static_cast<double>(lab.rows) * (lab.cols - 1) + static_cast<double>(lab.rows - 1) * lab.cols;
  d.mean = pairs > 0 ? sum / pairs : 0;
  return d;
}

float PairWeight(double exponent) { return std::max(kWeakestPair, static_cast<float>(std::exp(exponent))); }

// Pixel pairs joining the same two nodes (PairKey), summed.
struct PairRun {
  uint64_t key;
  float weight;
  int pixelPairs;
};

// Pairs along one boundary come in runs of the same two nodes: a run is summed as it comes, which leaves far
// fewer entries to sort.
void AddPair(std::vector<PairRun>& pairs, uint64_t key, double exponent) {
  if (!pairs.empty() && pairs.back().key == key) {
    pairs.back().weight += PairWeight(exponent);
    ++pairs.back().pixelPairs;
  } else {
    pairs.push_back({key, PairWeight(exponent), 1});
  }
}

uint64_t PairKey(int a, int b) {
  return (static_cast<uint64_t>(std::min(a, b)) << 32) | static_cast<uint32_t>(std::max(a, b));
}

}  // namespace

RegionGraph::RegionGraph(const cv::Mat& frame, const cv::Mat& nodes, int nodeCount)
    : nodes_(nodes), nodeCount_(nodeCount), meanColours_(nodeCount), areas_(nodeCount, 0) {
  const cv::Mat lab = LabColours(frame);
  MeasureNodes(lab);
  const NeighbourDistances d = MeasureNeighbours(lab);
  const double scale = d.mean > 0 ? -4.0 / d.mean : 0;
  std::vector<PairRun> pairs;
  for (int y = 0; y < nodes.rows; ++y) {
    const int* row = nodes.ptr<int>(y);
    const int* below = y + 1 < nodes.rows ? nodes.ptr<int>(y + 1) : nullptr;
    const float* dx = d.x.ptr<float>(y);
    const float* dy = d.y.ptr<float>(y);
    for (int x = 0; x < nodes.cols; ++x) {
      if (x + 1 < nodes.cols && row[x + 1] != row[x]) AddPair(pairs, PairKey(row[x], row[x + 1]), scale * dx[x]);
      if (below != nullptr && below[x] != row[x]) AddPair(pairs, PairKey(row[x], below[x]), scale * dy[x]);
    }
  }
  std::sort(pairs.begin(), pairs.end(), [](const PairRun& l, const PairRun& r) { return l.key < r.key; });
  for (size_t i = 0; i < pairs.size();) {
    GraphEdge edge{static_cast<int>(pairs[i].key >> 32), static_cast<int>(pairs[i].key & 0xffffffffu), 0, 0};
    const uint64_t key = pairs[i].key;
    for (; i < pairs.size() && pairs[i].key == key; ++i) {
      edge.weight += pairs[i].weight;
      edge.pixelPairs += pairs[i].pixelPairs;
    }
    edges_.push_back(edge);
  }
}

void RegionGraph::MeasureNodes(const cv::Mat& lab) {
  std::vector<cv::Vec3d> sums(nodeCount_);
  for (int y = 0; y < lab.rows; ++y) {
    const cv::Vec3f* colour = lab.ptr<cv::Vec3f>(y);
    const int* node = nodes_.ptr<int>(y);
    for (int x = 0; x < lab.cols; ++x) {
      sums[node[x]] += cv::Vec3d(colour[x]);
      ++areas_[node[x]];
    }
  }
  for (int node = 0; node < nodeCount_; ++node) {
    if (areas_[node] > 0) meanColours_[node] = cv::Vec3f(sums[node] / areas_[node]);
  }
}

int OverlayPartitions(const std::vector<cv::Mat>& partitions, cv::Mat& cells) {
  CV_Assert(!partitions.empty());
  partitions.front().copyTo(cells);
  int count = 0;
  for (size_t p = 1; p <= partitions.size(); ++p) {
    // Renumber the pairs (cell so far, number in the next partition); the last round only compacts the numbers.
    std::unordered_map<uint64_t, int> numbers;
    uint64_t lastKey = ~uint64_t{0};  // neighbours mostly share their cell: look up only where it changes
    int lastNumber = 0;
    for (int y = 0; y < cells.rows; ++y) {
      int* cell = cells.ptr<int>(y);
      const int* next = p < partitions.size() ? partitions[p].ptr<int>(y) : nullptr;
      for (int x = 0; x < cells.cols; ++x) {
        const uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(cell[x])) << 32) |
                             static_cast<uint32_t>(next != nullptr ? next[x] : 0);
        if (key != lastKey) {
          lastKey = key;
          lastNumber = numbers.try_emplace(key, static_cast<int>(numbers.size())).first->second;
        }
        cell[x] = lastNumber;
      }
    }
    count = static_cast<int>(numbers.size());
  }
  return count;
}

}  // namespace labeler
