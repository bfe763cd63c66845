// The process-wide pseudo-random generator.
//
// One linear congruential sequence is shared by the whole process by design: the graph segmentation draws its
// region colours from it and every mean-shift run re-seeds it, so the colours a segmentation shows depend on
// where the sequence stands. state <- state x 214013 + 2531011 (mod 2^32); a draw is (state >> 16) & 32767.
#ifndef LABELER_COMMON_RANDOM_H_
#define LABELER_COMMON_RANDOM_H_

#include <cstdint>

namespace labeler {

inline constexpr int kRandomMax = 32767;

class Random {
 public:
  // The one generator of the process, starting from state 1.
  static Random& Shared() {
    static Random shared;
    return shared;
  }

  void Seed(uint32_t seed) { state_ = seed; }
  // Where the sequence stands: a generator seeded with it draws what this one draws next.
  uint32_t state() const { return state_; }
  int Next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 32767u);
  }

 private:
  uint32_t state_ = 1;
};

}  // namespace labeler

#endif  // LABELER_COMMON_RANDOM_H_
