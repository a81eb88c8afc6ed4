#include "platform/memory.h"

#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

// Data arrays of many megabytes are filled once, front to back. Where the
// system offers it, they are asked to be backed by large pages: a fault per
// 2 MiB instead of per 4 KiB, which is most of the cost of filling a fresh
// array on a virtual machine. The advice is only a hint; nothing depends on
// it being taken.
void advise_large_pages([[maybe_unused]] void* block, [[maybe_unused]] std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::size_t kLarge = std::size_t{4} << 20;
  constexpr std::uintptr_t kPage = 4096;
  if (!block || size < kLarge) return;
  const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
  const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(block) + size) & ~(kPage - 1);
  (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

void* c_malloc(std::size_t size) {
  void* block = std::malloc(size);
  advise_large_pages(block, size);
  return block;
}
void* c_realloc(void* block, std::size_t size) { return std::realloc(block, size); }
void* c_calloc(std::size_t count, std::size_t size) { return std::calloc(count, size); }
void c_free(void* block) { std::free(block); }
}  // namespace

const AllocHooks u_default_alloc_hooks = {c_malloc, c_realloc, c_calloc, c_free};
AllocHooks u_alloc_hooks = u_default_alloc_hooks;
