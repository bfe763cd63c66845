// A shard: one of N independent jobs that together process a corpus (GNU parallel on one machine, a job array on
// a cluster). Job K of N takes the items at positions K, K + N, K + 2N, ... of the corpus in its fixed order, so
// the N jobs process every item exactly once and a rerun of one job touches only its own share.
#ifndef LABELER_TOOLS_SHARD_H_
#define LABELER_TOOLS_SHARD_H_

#include <string>

namespace labeler::tool {

struct Shard {
  int index = 0;  // K, from 0
  int count = 1;  // N

  bool Takes(long long position) const { return position % count == index; }
  bool IsWhole() const { return count == 1; }
  std::string Text() const { return std::to_string(index) + "/" + std::to_string(count); }
};

// Parses "K/N" with 0 <= K < N. Throws FatalError with one line naming what is wrong with `text`.
Shard ParseShard(const std::string& text);

}  // namespace labeler::tool

#endif  // LABELER_TOOLS_SHARD_H_
