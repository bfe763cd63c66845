// Cancellation of long work that another thread may stop wanting: the work checks a std::stop_token at a few
// points and throws Cancelled, so that nothing half made is ever returned. A default token never stops.
#ifndef LABELER_COMMON_CANCELLATION_H_
#define LABELER_COMMON_CANCELLATION_H_

#include <exception>
#include <stop_token>

namespace labeler {

// Not a failure: whoever stopped the work no longer wants its result. Kept apart from std::runtime_error so
// that handlers of failures don't take it for one.
class Cancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "cancelled"; }
};

inline void ThrowIfCancelled(const std::stop_token& stop) {
  if (stop.stop_requested()) throw Cancelled();
}

}  // namespace labeler

#endif  // LABELER_COMMON_CANCELLATION_H_
