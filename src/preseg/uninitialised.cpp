#include "preseg/uninitialised.h"

#include <sys/mman.h>

#include <algorithm>

namespace labeler {

void* AllocateUninitialised(size_t bytes) {
  constexpr size_t kHugePage = size_t{2} << 20;
  bytes = std::max<size_t>(bytes, 1);
  const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  if (bytes < kHugePage || rounded - bytes > bytes / 8) return std::malloc(bytes);
  void* pointer = std::aligned_alloc(kHugePage, rounded);
  if (pointer != nullptr) madvise(pointer, rounded, MADV_HUGEPAGE);
  return pointer;
}

}  // namespace labeler
