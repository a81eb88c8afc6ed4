#include "x3p/checksums.h"

#include <gcrypt.h>
#include <zlib.h>

#include <algorithm>
#include <limits>

namespace {

// libgcrypt wants its version checked once before first use; the check also
// finishes its initialisation. Thread-safe: a function-local static.
bool gcrypt_ready() {
  static const bool ready = [] {
    if (!gcry_check_version(nullptr)) return false;
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  return ready;
}

}  // namespace

std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* p = static_cast<const Bytef*>(data);
  uLong c = crc;
  // zlib takes the length as uInt: feed it in pieces that fit.
  while (size > 0) {
    const std::size_t n = std::min<std::size_t>(size, std::numeric_limits<uInt>::max() / 2);
    c = ::crc32(c, p, static_cast<uInt>(n));
    p += n;
    size -= n;
  }
  return static_cast<std::uint32_t>(c);
}

std::uint32_t crc32_join(std::uint32_t first, std::uint32_t second, std::size_t second_size) {
  return static_cast<std::uint32_t>(
      ::crc32_combine(first, second, static_cast<z_off_t>(second_size)));
}

Md5::Md5() {
  gcry_md_hd_t h = nullptr;
  if (gcrypt_ready() && gcry_md_open(&h, GCRY_MD_MD5, 0) == 0) handle_ = h;
}

Md5::~Md5() {
  if (handle_) gcry_md_close(static_cast<gcry_md_hd_t>(handle_));
}

void Md5::add(const void* data, std::size_t size) {
  if (handle_) gcry_md_write(static_cast<gcry_md_hd_t>(handle_), data, size);
}

std::string Md5::hex() {
  if (!handle_) return {};
  const unsigned char* digest = gcry_md_read(static_cast<gcry_md_hd_t>(handle_), GCRY_MD_MD5);
  if (!digest) return {};
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(32, '0');
  for (int i = 0; i < 16; ++i) {
    text[2 * i] = kDigits[digest[i] >> 4];
    text[2 * i + 1] = kDigits[digest[i] & 15];
  }
  return text;
}

std::string md5_hex(const void* data, std::size_t size) {
  Md5 sum;
  sum.add(data, size);
  return sum.hex();
}
