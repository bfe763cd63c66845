#include "common/run_on_threads.h"

#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace labeler {
namespace {

// The first exception any worker threw; those thrown after it are dropped.
class FirstException {
 public:
  void Keep(std::exception_ptr exception) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!first_) first_ = std::move(exception);
  }
  void RethrowIfAny() const {
    if (first_) std::rethrow_exception(first_);
  }

 private:
  std::mutex mutex_;
  std::exception_ptr first_;
};

}  // namespace

void RunOnThreads(int count, const std::function<void(int)>& work) {
  FirstException failure;
  auto guarded = [&work, &failure](int index) {
    try {
      work(index);
    } catch (...) {
      failure.Keep(std::current_exception());
    }
  };
  std::vector<std::thread> threads;
  std::vector<int> notStarted;
  if (count > 1) {
    // Reserved before any thread starts, so that keeping a thread or a failed start never throws while threads
    // are running unjoined.
    threads.reserve(static_cast<size_t>(count) - 1);
    notStarted.reserve(static_cast<size_t>(count) - 1);
  }
  for (int index = 1; index < count; ++index) {
    try {
      threads.emplace_back(guarded, index);
    } catch (const std::system_error&) {
      notStarted.push_back(index);
    }
  }
  if (count > 0) guarded(0);
  for (int index : notStarted) guarded(index);
  for (std::thread& thread : threads) thread.join();
  failure.RethrowIfAny();
}

}  // namespace labeler
