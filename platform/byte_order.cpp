#include "platform/byte_order.h"

#include <bit>
#include <cstdlib>
#include <utility>

#include "log/log.h"

void u_swap_bytes(void* item, int size) {
  auto* b = static_cast<unsigned char*>(item);
  if (size != 2 && size != 4 && size != 8) {
    u_log("u_swap_bytes: n=%d\n", size);
    std::abort();
  }
  for (int i = 0, j = size - 1; i < j; ++i, --j) std::swap(b[i], b[j]);
}

// On a big-endian host the values are in host order already. The loops
// work on whole words (no byte access into the array they write), so the
// compiler turns them into vector byte shuffles.
void be16_to_host(std::uint16_t* values, std::size_t n) {
  if constexpr (std::endian::native == std::endian::little) {
    for (std::size_t i = 0; i < n; ++i)
      values[i] = static_cast<std::uint16_t>((values[i] >> 8) | (values[i] << 8));
  }
}

void be32_to_host(std::uint32_t* values, std::size_t n) {
  if constexpr (std::endian::native == std::endian::little) {
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t v = values[i];
      values[i] = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    }
  }
}
