#include "preseg/edge_sort.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "common/run_on_threads.h"

namespace labeler {
namespace {

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

}  // namespace

// The top 12 bits first (the exponent and leading mantissa bits spread the weights well; few enough buckets that
// their write positions stay in cache), then a byte at a time within each bucket. The buckets are independent,
// so two threads sort half of them each.
void SortEdges(PackedEdge* edges, size_t count) {
  constexpr int kTopBits = 12;
  const size_t buckets = size_t{1} << kTopBits;
  std::vector<size_t> start(buckets + 1);
  std::vector<size_t> next(buckets);
  FlagPass(edges, edges + count, 64 - kTopBits, kTopBits, start.data(), next.data());
  auto sortBuckets = [&](size_t first, size_t last) {
    for (size_t b = first; b < last; ++b) {
      if (start[b + 1] - start[b] > 1) SortBucket(edges + start[b], edges + start[b + 1], 64 - kTopBits);
    }
  };
  constexpr size_t kWorthAThread = 1 << 16;
  if (count < kWorthAThread) {
    sortBuckets(0, buckets);
    return;
  }
  const size_t middle = std::upper_bound(start.begin(), start.end() - 1, count / 2) - start.begin();
  RunOnThreads(2, [&](int half) { half == 0 ? sortBuckets(0, middle) : sortBuckets(middle, buckets); });
}

}  // namespace labeler
