// Work on several threads at once: every worker runs, and an exception of any worker reaches the caller.
#include "common/run_on_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace labeler {
namespace {

TEST(RunOnThreads, EveryWorkerRunsOnceAndWorkerZeroOnTheCallingThread) {
  std::vector<std::atomic<int>> runs(5);
  std::vector<std::thread::id> threads(5);
  RunOnThreads(5, [&](int worker) {
    ++runs[worker];
    threads[worker] = std::this_thread::get_id();
  });
  for (const std::atomic<int>& run : runs) EXPECT_EQ(run, 1);
  EXPECT_EQ(threads[0], std::this_thread::get_id());
  EXPECT_EQ(std::set<std::thread::id>(threads.begin(), threads.end()).size(), 5u);
  RunOnThreads(0, [](int) { FAIL() << "no work, yet a worker ran"; });
}

// An exception left on a worker thread would end the process; it is rethrown to the caller instead, and only once
// the other workers have finished, since they work on the caller's data.
TEST(RunOnThreads, AnExceptionOfAnyWorkerReachesTheCallerAfterTheOthersEnd) {
  for (int thrower : {0, 2}) {
    std::atomic<int> finished{0};
    try {
      RunOnThreads(4, [&](int worker) {
        if (worker == thrower) throw std::runtime_error("worker " + std::to_string(worker));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ++finished;
      });
      ADD_FAILURE() << "nothing thrown by worker " << thrower;
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(error.what(), "worker " + std::to_string(thrower));
      EXPECT_EQ(finished, 3) << "thrower " << thrower;
    }
  }
  // When every worker throws, one exception comes back and the rest are dropped.
  EXPECT_THROW(RunOnThreads(3, [](int worker) { throw worker; }), int);
}

}  // namespace
}  // namespace labeler
