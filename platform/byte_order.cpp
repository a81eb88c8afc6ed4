#include "platform/byte_order.h"

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

void be16_to_host(std::uint16_t* values, std::size_t n) {
  auto* bytes = reinterpret_cast<const std::uint8_t*>(values);
  for (std::size_t i = 0; i < n; ++i) values[i] = load_be16(bytes + 2 * i);
}

void be32_to_host(std::uint32_t* values, std::size_t n) {
  auto* bytes = reinterpret_cast<const std::uint8_t*>(values);
  for (std::size_t i = 0; i < n; ++i) values[i] = load_be32(bytes + 4 * i);
}
