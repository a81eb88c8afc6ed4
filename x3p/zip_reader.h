// Reading a ZIP archive: its central directory, and any entry stored or
// deflated, streamed in pieces, its size and CRC-32 checked. Every size and
// offset is checked against the archive before it is used, and an entry
// that claims more bytes than its compressed data could ever give (a ZIP
// bomb) is refused before any of it is inflated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct ZipEntry {
  std::string name;
  std::uint16_t method = 0;  // 0 stored, 8 deflated
  std::uint16_t flags = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressed = 0;
  std::uint64_t size = 0;
  std::uint64_t header_at = 0;  // the local header's offset
};

class ZipReader {
 public:
  // Receives the bytes of an entry in order; a code other than 0 stops the
  // reading and is returned.
  using Sink = std::function<std::int32_t(const unsigned char* data, std::size_t size)>;

  // Reads the central directory of the archive open in `file` (binary mode).
  // 0; ERR_CORRUPT_DATA_FILE when it is no ZIP archive or its directory is
  // damaged; ERR_NO_MEM.
  [[nodiscard]] std::int32_t open(std::FILE* file);

  const std::vector<ZipEntry>& entries() const { return entries_; }

  // The entry of that name, or nullptr.
  const ZipEntry* find(std::string_view name) const;

  // Hands the entry's bytes to `sink`, in pieces of at most 256 KiB. 0;
  // ERR_CORRUPT_DATA_FILE (a damaged header or data, a wrong size or CRC-32,
  // an encrypted entry or one compressed another way than deflate);
  // ERR_DATASET_DIM_TOO_LARGE for a ZIP bomb; ERR_NO_MEM; or the sink's code.
  [[nodiscard]] std::int32_t read(const ZipEntry& entry, const Sink& sink) const;

  // The whole entry into `out`; ERR_DATASET_DIM_TOO_LARGE when it is longer
  // than `limit` bytes, else as read().
  [[nodiscard]] std::int32_t read_all(const ZipEntry& entry, std::string& out,
                                      std::uint64_t limit) const;

  // The most bytes one byte of deflated data may stand for: deflate's own
  // limit is about 1032; anything above it is no honest archive.
  static constexpr std::uint64_t kMaxRatio = 1100;

 private:
  std::int32_t read_directory(std::uint64_t at, std::uint64_t size, std::uint64_t count);

  std::FILE* file_ = nullptr;
  std::uint64_t file_size_ = 0;
  std::uint64_t data_end_ = 0;  // where the central directory starts
  std::vector<ZipEntry> entries_;
};
