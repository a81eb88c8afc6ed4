// The checksums of an x3p archive: CRC-32 of every ZIP entry (zlib) and the
// MD5 sums that main.xml and md5checksum.hex carry (libgcrypt).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// CRC-32 of `size` bytes, continuing from `crc` (0 to start).
std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t size);

// The CRC-32 of two pieces one after the other, from the CRC-32 of each and
// the length of the second (below 2 GiB).
std::uint32_t crc32_join(std::uint32_t first, std::uint32_t second, std::size_t second_size);

// An MD5 sum computed piece by piece. A sum that could not be started (the
// library refused) reports ok() false and gives no digest.
class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  bool ok() const { return handle_ != nullptr; }
  void add(const void* data, std::size_t size);
  // The 32 lower-case hexadecimal digits of the sum of everything added;
  // empty when !ok().
  std::string hex();

 private:
  void* handle_ = nullptr;
};

// The MD5 sum of one block, as 32 lower-case hexadecimal digits.
std::string md5_hex(const void* data, std::size_t size);
