// A ZIP archive written entry by entry to a seekable stream: stored
// (uncompressed) entries, each announced with its size, the central
// directory and the end record. An entry of 4 GiB or more, an entry that
// starts at 4 GiB or later, or a central directory past that point get the
// ZIP64 records, so there is no size limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

class ZipWriter {
 public:
  // Writes to `out`, which must be at offset 0 of an empty file opened in
  // binary mode and allow seeking back (a regular file). `zip64_from`: the
  // size or offset from which the ZIP64 records are used (4 GiB less one
  // byte, where the 32-bit fields end; tests take it lower).
  explicit ZipWriter(std::FILE* out, std::uint64_t zip64_from = 0xFFFFFFFF)
      : out_(out), limit_(zip64_from) {}

  // Starts a stored entry of exactly `size` bytes, ending the entry before.
  // Its local header is written now; its CRC-32 when it ends.
  [[nodiscard]] bool begin(std::string_view name, std::uint64_t size);

  // Appends bytes to the entry begun last, adding them to its CRC-32.
  [[nodiscard]] bool write(const void* data, std::size_t size);

  // The same for bytes whose CRC-32 the caller computed (on another thread).
  [[nodiscard]] bool write(const void* data, std::size_t size, std::uint32_t crc);

  // Ends the entry begun last: false when it did not get exactly the size it
  // was begun with, or its CRC-32 could not be written into its header.
  [[nodiscard]] bool end();

  // Replaces the whole content of an ended entry (0 for the first) with as
  // many new bytes, and its CRC-32; the writing goes on at the end.
  [[nodiscard]] bool rewrite(std::size_t entry, const void* data, std::size_t size);

  // Ends the last entry and writes the central directory and the end
  // records. The stream is left for its owner to close.
  [[nodiscard]] bool finish();

  // Bytes written so far (the archive's size after finish()).
  std::uint64_t position() const { return pos_; }

 private:
  struct Entry {
    std::string name;
    std::uint64_t offset;  // of the local header
    std::uint64_t size;
    std::uint32_t crc;
  };
  // 32 bits of a size or offset, or the mark that ZIP64 holds it.
  std::uint64_t field32(std::uint64_t v) const;
  bool put(const void* data, std::size_t size);
  bool patch(std::uint64_t at, const void* data, std::size_t size);

  std::FILE* out_;
  std::uint64_t limit_;
  std::uint64_t pos_ = 0;
  std::vector<Entry> entries_;
  bool open_ = false;          // an entry is being written
  std::uint64_t written_ = 0;  // of the open entry
  std::uint16_t dos_time_ = 0;
  std::uint16_t dos_date_ = 0;
  bool failed_ = false;
};
