// The process-wide allocation hooks for data arrays, and the owning array
// type that the records hold.
#pragma once

#include <cstddef>
#include <utility>

// Every data array is taken from and given back to these functions. They
// start as the C runtime's malloc, realloc, calloc and free; tests replace
// them to make an allocation fail.
struct AllocHooks {
  void* (*allocate)(std::size_t size);
  void* (*reallocate)(void* block, std::size_t size);
  void* (*zero_allocate)(std::size_t count, std::size_t size);
  void (*release)(void* block);
};
extern AllocHooks u_alloc_hooks;

// The C runtime's own functions, for restoring the hooks.
extern const AllocHooks u_default_alloc_hooks;

// A heap array taken through the allocation hooks and released through them
// when its owner goes away. It reads like the plain pointer it replaces
// (data[i], data.get(), if (data)) but cannot leak or be released twice.
template <class T>
class HookArray {
 public:
  HookArray() = default;
  HookArray(const HookArray&) = delete;
  HookArray& operator=(const HookArray&) = delete;
  HookArray(HookArray&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  HookArray& operator=(HookArray&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ~HookArray() { reset(); }

  // Takes `n` elements from the hooks; false when they are refused.
  [[nodiscard]] bool allocate(std::size_t n) {
    reset();
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) return false;
    p_ = static_cast<T*>(u_alloc_hooks.allocate(n * sizeof(T)));
    return p_ != nullptr;
  }
  void reset() {
    if (p_) u_alloc_hooks.release(p_);
    p_ = nullptr;
  }

  T* get() const { return p_; }
  T& operator[](std::size_t i) const { return p_[i]; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};
