// Uninitialised: frame-sized storage for the graph segmentation that is written before it is read.
//
// Not zero-filled first: for arrays this large that costs as much as filling them. Large arrays ask for huge
// pages: a fresh process touching tens of megabytes otherwise takes a page fault per 4 KiB, which in a virtual
// machine costs more than the segmentation's own work. The array owns its storage; Release gives it back early.
#ifndef LABELER_PRESEG_UNINITIALISED_H_
#define LABELER_PRESEG_UNINITIALISED_H_

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace labeler {

// At least `bytes` bytes (at least one) to be given back with std::free, on huge pages where rounding up to them
// adds at most an eighth, so that memory per pixel stays what it would be without them. Null when there is no
// memory for them.
void* AllocateUninitialised(size_t bytes);

template <typename T>
class Uninitialised {
 public:
  // Throws std::bad_alloc when there is no memory for `size` elements: the segmentation fails, not the process.
  explicit Uninitialised(size_t size)
      : data_(static_cast<T*>(AllocateUninitialised(size * sizeof(T)))), size_(size) {
    if (data_ == nullptr) throw std::bad_alloc();
  }
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }
  size_t size() const { return size_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  const T* begin() const { return data_.get(); }
  const T* end() const { return data_.get() + size_; }
  void Release() {
    data_.reset();
    size_ = 0;
  }

 private:
  struct Free {
    void operator()(T* pointer) const { std::free(pointer); }
  };

  std::unique_ptr<T[], Free> data_;
  size_t size_;
};

}  // namespace labeler

#endif  // LABELER_PRESEG_UNINITIALISED_H_
