#include "platform/memory.h"

#include <cstdlib>

namespace {

void* c_malloc(std::size_t size) { return std::malloc(size); }
void* c_realloc(void* block, std::size_t size) { return std::realloc(block, size); }
void* c_calloc(std::size_t count, std::size_t size) { return std::calloc(count, size); }
void c_free(void* block) { std::free(block); }
}  // namespace

const AllocHooks u_default_alloc_hooks = {c_malloc, c_realloc, c_calloc, c_free};
AllocHooks u_alloc_hooks = u_default_alloc_hooks;
