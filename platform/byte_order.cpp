#include "platform/byte_order.h"

#include <bit>
#include <cstdlib>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "log/log.h"

void u_swap_bytes(void* item, int size) {
  auto* b = static_cast<unsigned char*>(item);
  if (size != 2 && size != 4 && size != 8) {
    u_log("u_swap_bytes: n=%d\n", size);
    std::abort();
  }
  for (int i = 0, j = size - 1; i < j; ++i, --j) std::swap(b[i], b[j]);
}

// On a big-endian host the values are in host order already.
void be16_to_host(std::uint16_t* values, std::size_t n) {
  if constexpr (std::endian::native == std::endian::little) {
    for (std::size_t i = 0; i < n; ++i)
      values[i] = static_cast<std::uint16_t>((values[i] >> 8) | (values[i] << 8));
  }
}

void be32_to_host(std::uint32_t* values, std::size_t n) {
  if constexpr (std::endian::native == std::endian::little) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Four at a time: the bytes of each 16-bit half swapped, then the halves.
    for (; i + 4 <= n; i += 4) {
      auto* p = reinterpret_cast<__m128i*>(values + i);
      __m128i v = _mm_loadu_si128(p);
      v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
      v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1);
      _mm_storeu_si128(p, v);
    }
#endif
    for (; i < n; ++i) {
      const std::uint32_t v = values[i];
      values[i] = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    }
  }
}
