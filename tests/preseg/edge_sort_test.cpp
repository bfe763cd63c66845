// The sort of the graph segmentation's edges against the order it promises: by weight, and edges of equal
// weight in the order they were built, as a stable sort by weight of the edges as built gives.
#include "preseg/edge_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace labeler {
namespace {

// `count` edges in the order the segmentation builds them: pixel after pixel, each pixel's directions in
// order. Weights are drawn so that most are shared by many edges, with the extremes a weight can take among them.
std::vector<PackedEdge> BuiltEdges(size_t count, std::mt19937& random) {
  const float kWeights[] = {0.0f,   std::numeric_limits<float>::denorm_min(), FLT_MIN, 0.5f, 1.0f, 1.0000001f,
                            17.25f, 441.67294f,  // the largest distance between two 8-bit colours
                            FLT_MAX, std::numeric_limits<float>::infinity()};
  std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(kWeights)));
  std::uniform_real_distribution<float> any(0.0f, 450.0f);
  std::vector<PackedEdge> edges;
  for (size_t i = 0; i < count; ++i) {
    const size_t choice = static_cast<size_t>(pick(random));
    const float weight = choice < std::size(kWeights) ? kWeights[choice] : any(random);
    edges.push_back(PackEdge(weight, static_cast<int>(i / 4), static_cast<Direction>(i % 4)));
  }
  return edges;
}

TEST(EdgeSort, OrdersByWeightThenAsBuiltOnOneThreadAndOnTwo) {
  std::mt19937 random(7);
  // From nothing, through the sizes where buckets are sorted by insertion, to more than one thread handles.
  for (size_t count : {size_t{0}, size_t{1}, size_t{16}, size_t{17}, size_t{5000}, size_t{300000}}) {
    std::vector<PackedEdge> sorted = BuiltEdges(count, random);
    std::vector<PackedEdge> expected = sorted;
    std::stable_sort(expected.begin(), expected.end(),
                     [](PackedEdge a, PackedEdge b) { return EdgeWeight(a) < EdgeWeight(b); });
    SortEdges(sorted.data(), sorted.size());
    EXPECT_TRUE(sorted == expected) << count << " edges";
  }
}

}  // namespace
}  // namespace labeler
