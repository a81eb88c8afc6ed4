#include "x3p/zip_writer.h"

#include <ctime>

#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "platform/local_time.h"
#include "x3p/checksums.h"
#include "x3p/zip_format.h"

namespace {

constexpr std::uint16_t kVersionPlain = 20;  // stored entries
constexpr std::uint16_t kVersionZip64 = 45;
constexpr std::size_t kCrcAt = 14;  // of a local header

// A record built field by field, little-endian.
class Record {
 public:
  Record& u16(std::uint64_t v) {
    std::uint8_t b[2];
    store_le16(b, static_cast<std::uint16_t>(v));
    bytes_.append(reinterpret_cast<char*>(b), 2);
    return *this;
  }
  Record& u32(std::uint64_t v) {
    std::uint8_t b[4];
    store_le32(b, static_cast<std::uint32_t>(v));
    bytes_.append(reinterpret_cast<char*>(b), 4);
    return *this;
  }
  Record& u64(std::uint64_t v) {
    std::uint8_t b[8];
    store_le64(b, v);
    bytes_.append(reinterpret_cast<char*>(b), 8);
    return *this;
  }
  Record& text(std::string_view s) {
    bytes_.append(s);
    return *this;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace

std::uint64_t ZipWriter::field32(std::uint64_t v) const { return v >= limit_ ? kZipMarked : v; }

bool ZipWriter::put(const void* data, std::size_t size) {
  if (failed_) return false;
  if (size > 0 && std::fwrite(data, 1, size, out_) != size) failed_ = true;
  pos_ += failed_ ? 0 : size;
  return !failed_;
}

bool ZipWriter::patch(std::uint64_t at, const void* data, std::size_t size) {
  if (failed_) return false;
  if (u_fseek(out_, static_cast<std::int64_t>(at)) != 0 ||
      std::fwrite(data, 1, size, out_) != size ||
      u_fseek(out_, static_cast<std::int64_t>(pos_)) != 0)
    failed_ = true;
  return !failed_;
}

bool ZipWriter::begin(std::string_view name, std::uint64_t size) {
  if (open_ && !end()) return false;
  if (entries_.empty()) {
    // Every entry carries the time the archive was begun, in local time as
    // ZIP readers expect it; the earliest DOS date when there is none.
    std::tm t{};
    if (!u_local_time(std::time(nullptr), t) || t.tm_year < 80) {
      t = std::tm{};
      t.tm_mday = 1;
      t.tm_year = 80;
    }
    dos_time_ = static_cast<std::uint16_t>(t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec / 2);
    dos_date_ = static_cast<std::uint16_t>((t.tm_year - 80) << 9 | (t.tm_mon + 1) << 5 | t.tm_mday);
  }
  const bool zip64 = size >= limit_;
  entries_.push_back({std::string(name), pos_, size, 0});
  Record r;
  r.u32(kZipLocalSignature).u16(zip64 ? kVersionZip64 : kVersionPlain).u16(0).u16(0);
  r.u16(dos_time_).u16(dos_date_).u32(0).u32(field32(size)).u32(field32(size));
  r.u16(name.size()).u16(zip64 ? 20 : 0).text(name);
  if (zip64) r.u16(1).u16(16).u64(size).u64(size);
  open_ = true;
  written_ = 0;
  return put(r.bytes().data(), r.bytes().size());
}

bool ZipWriter::write(const void* data, std::size_t size) {
  return write(data, size, crc32_update(0, data, size));
}

bool ZipWriter::write(const void* data, std::size_t size, std::uint32_t crc) {
  if (!open_ || written_ + size > entries_.back().size) return false;
  Entry& e = entries_.back();
  e.crc = written_ == 0 ? crc : crc32_join(e.crc, crc, size);
  written_ += size;
  return put(data, size);
}

bool ZipWriter::end() {
  if (!open_) return false;
  open_ = false;
  const Entry& e = entries_.back();
  if (written_ != e.size) return false;
  std::uint8_t crc[4];
  store_le32(crc, e.crc);
  return patch(e.offset + kCrcAt, crc, sizeof crc);
}

bool ZipWriter::rewrite(std::size_t entry, const void* data, std::size_t size) {
  if (entry >= entries_.size() || entries_[entry].size != size ||
      (open_ && entry + 1 == entries_.size()))
    return false;
  Entry& e = entries_[entry];
  e.crc = crc32_update(0, data, size);
  std::uint8_t crc[4];
  store_le32(crc, e.crc);
  const std::uint64_t data_at =
      e.offset + kZipLocalSize + e.name.size() + (e.size >= limit_ ? 20 : 0);
  return patch(e.offset + kCrcAt, crc, sizeof crc) && patch(data_at, data, size);
}

bool ZipWriter::finish() {
  if (open_ && !end()) return false;
  const std::uint64_t directory_at = pos_;
  for (const Entry& e : entries_) {
    const bool big = e.size >= limit_;
    const bool far = e.offset >= limit_;
    const std::size_t extra = (big ? 16 : 0) + (far ? 8 : 0);
    Record r;
    r.u32(kZipCentralSignature).u16(big || far ? kVersionZip64 : kVersionPlain);
    r.u16(big || far ? kVersionZip64 : kVersionPlain).u16(0).u16(0);
    r.u16(dos_time_).u16(dos_date_).u32(e.crc).u32(field32(e.size)).u32(field32(e.size));
    r.u16(e.name.size()).u16(extra > 0 ? extra + 4 : 0).u16(0).u16(0).u16(0).u32(0);
    r.u32(field32(e.offset)).text(e.name);
    if (extra > 0) {
      r.u16(1).u16(extra);
      if (big) r.u64(e.size).u64(e.size);
      if (far) r.u64(e.offset);
    }
    if (!put(r.bytes().data(), r.bytes().size())) return false;
  }
  const std::uint64_t directory_size = pos_ - directory_at;
  const std::uint64_t count = entries_.size();
  const bool zip64 = directory_at >= limit_ || directory_size >= limit_ || count >= 0xFFFF;
  Record r;
  if (zip64) {
    const std::uint64_t record_at = pos_;
    r.u32(kZip64EndSignature).u64(44).u16(kVersionZip64).u16(kVersionZip64).u32(0).u32(0);
    r.u64(count).u64(count).u64(directory_size).u64(directory_at);
    r.u32(kZip64LocatorSignature).u32(0).u64(record_at).u32(1);
  }
  const std::uint64_t count16 = count >= 0xFFFF ? 0xFFFF : count;
  r.u32(kZipEndSignature).u16(0).u16(0).u16(count16).u16(count16);
  r.u32(field32(directory_size)).u32(field32(directory_at)).u16(0);
  return put(r.bytes().data(), r.bytes().size());
}
