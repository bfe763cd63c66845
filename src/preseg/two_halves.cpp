#include "preseg/two_halves.h"

#include "common/run_on_threads.h"

namespace labeler {

void InTwoHalves(int rows, int pixels, const std::function<void(int, int)>& work) {
  constexpr int kWorthAThread = 1 << 16;
  if (pixels < kWorthAThread) {
    work(0, rows);
    return;
  }
  const int middle = rows / 2;
  RunOnThreads(2, [&](int half) { half == 0 ? work(0, middle) : work(middle, rows); });
}

}  // namespace labeler
