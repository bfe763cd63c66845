// The edges of the graph segmentation's pixel graph, packed for sorting, and their sort by weight.
//
// An edge joins pixelA to its right, lower, lower-right or upper-right neighbour, pixelB. It is packed in 64 bits
// so that sorting moves little memory: the weight's bits in the high half (non-negative floats order as their
// bit patterns do), then pixelA and the direction of pixelB. The edges are built in the order of their low 32
// bits, so sorting the packed values orders them by weight and edges of equal weight in the order they were
// built: the segmentation doesn't depend on how the sort is done.
#ifndef LABELER_PRESEG_EDGE_SORT_H_
#define LABELER_PRESEG_EDGE_SORT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace labeler {

using PackedEdge = uint64_t;
enum Direction { kRight = 0, kDown = 1, kDownRight = 2, kUpRight = 3 };

// `weight` is not negative; pixelA is below 2^30.
inline PackedEdge PackEdge(float weight, int pixelA, Direction direction) {
  uint32_t bits;
  std::memcpy(&bits, &weight, sizeof bits);
  return (static_cast<uint64_t>(bits) << 32) | (static_cast<uint32_t>(pixelA) << 2) | direction;
}

inline float EdgeWeight(PackedEdge edge) {
  const uint32_t bits = static_cast<uint32_t>(edge >> 32);
  float weight;
  std::memcpy(&weight, &bits, sizeof weight);
  return weight;
}

inline int EdgePixelA(PackedEdge edge) { return static_cast<int>((edge & 0xffffffffu) >> 2); }

// The neighbour of pixelA, in a frame `width` pixels wide.
inline int EdgePixelB(PackedEdge edge, int width) {
  const int a = EdgePixelA(edge);
  switch (static_cast<Direction>(edge & 3)) {
    case kRight: return a + 1;
    case kDown: return a + width;
    case kDownRight: return a + width + 1;
    default: return a - width + 1;
  }
}

// Sorts the `count` edges from `edges` into ascending order of their packed values, in place. An in-place radix
// sort, on two threads when there are many edges.
void SortEdges(PackedEdge* edges, size_t count);

}  // namespace labeler

#endif  // LABELER_PRESEG_EDGE_SORT_H_
