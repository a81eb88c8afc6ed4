#include "x3p/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>

#include "errors/errors.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "x3p/checksums.h"
#include "x3p/zip_format.h"

namespace {

constexpr std::size_t kPiece = 256 * 1024;

bool read_at(std::FILE* f, void* buffer, std::size_t size, std::uint64_t at) {
  return u_read_at(f, buffer, size, static_cast<std::int64_t>(at));
}

// The ZIP64 extra field of a central directory record: the values that the
// record marks with all bits set, in the order size, compressed size,
// offset. False when one of them is missing.
bool apply_zip64(const std::uint8_t* extra, std::size_t length, ZipEntry& e, bool size_marked,
                 bool compressed_marked, bool offset_marked) {
  if (!size_marked && !compressed_marked && !offset_marked) return true;
  for (std::size_t at = 0; at + 4 <= length;) {
    const std::uint16_t id = load_le16(extra + at);
    const std::size_t n = load_le16(extra + at + 2);
    if (at + 4 + n > length) return false;
    if (id == 1) {
      const std::uint8_t* p = extra + at + 4;
      std::size_t left = n;
      for (auto [marked, field] :
           {std::pair{size_marked, &e.size}, std::pair{compressed_marked, &e.compressed},
            std::pair{offset_marked, &e.header_at}}) {
        if (!marked) continue;
        if (left < 8) return false;
        *field = load_le64(p);
        p += 8;
        left -= 8;
      }
      return true;
    }
    at += 4 + n;
  }
  return false;
}

}  // namespace

std::int32_t ZipReader::open(std::FILE* file) {
  file_ = file;
  entries_.clear();
  const std::int64_t size = u_file_size(file);
  if (size < static_cast<std::int64_t>(kZipEndSize)) return ERR_CORRUPT_DATA_FILE;
  file_size_ = static_cast<std::uint64_t>(size);
  // The end record is the last 22 bytes, unless a comment (at most 65535
  // bytes) follows it: look for its signature from the end backwards.
  const std::size_t tail =
      static_cast<std::size_t>(std::min<std::uint64_t>(file_size_, 65535 + kZipEndSize));
  std::vector<std::uint8_t> buf;
  try {
    buf.resize(tail);
  } catch (const std::bad_alloc&) {
    return ERR_NO_MEM;
  }
  if (!read_at(file, buf.data(), tail, file_size_ - tail)) return ERR_CORRUPT_DATA_FILE;
  std::size_t end = tail - kZipEndSize + 1;
  for (;;) {
    if (end == 0) return ERR_CORRUPT_DATA_FILE;
    --end;
    const std::uint8_t* p = buf.data() + end;
    // The comment's length must reach exactly to the end of the file.
    if (load_le32(p) == kZipEndSignature && end + kZipEndSize + load_le16(p + 20) == tail) break;
  }
  const std::uint8_t* e = buf.data() + end;
  const std::uint64_t end_at = file_size_ - tail + end;
  std::uint64_t count = load_le16(e + 10);
  std::uint64_t dir_size = load_le32(e + 12);
  std::uint64_t dir_at = load_le32(e + 16);
  if (load_le16(e + 4) != 0 || load_le16(e + 6) != 0) return ERR_CORRUPT_DATA_FILE;  // one disk
  std::uint64_t dir_end = end_at;
  if (end_at >= kZip64LocatorSize) {
    std::uint8_t loc[kZip64LocatorSize];
    if (!read_at(file, loc, kZip64LocatorSize, end_at - kZip64LocatorSize))
      return ERR_CORRUPT_DATA_FILE;
    if (load_le32(loc) == kZip64LocatorSignature) {
      const std::uint64_t record_at = load_le64(loc + 8);
      std::uint8_t r[kZip64EndSize];
      if (record_at > end_at - kZip64LocatorSize - kZip64EndSize ||
          !read_at(file, r, kZip64EndSize, record_at) || load_le32(r) != kZip64EndSignature)
        return ERR_CORRUPT_DATA_FILE;
      count = load_le64(r + 32);
      dir_size = load_le64(r + 40);
      dir_at = load_le64(r + 48);
      dir_end = record_at;
    }
  }
  if (dir_at > dir_end || dir_size != dir_end - dir_at || count > dir_size / kZipCentralSize)
    return ERR_CORRUPT_DATA_FILE;
  data_end_ = dir_at;
  return read_directory(dir_at, dir_size, count);
}

std::int32_t ZipReader::read_directory(std::uint64_t at, std::uint64_t size, std::uint64_t count) {
  std::vector<std::uint8_t> dir;
  try {
    dir.resize(static_cast<std::size_t>(size));
    entries_.reserve(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    return ERR_NO_MEM;
  } catch (const std::length_error&) {
    return ERR_NO_MEM;
  }
  if (size > 0 && !read_at(file_, dir.data(), dir.size(), at)) return ERR_CORRUPT_DATA_FILE;
  std::size_t p = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (dir.size() - p < kZipCentralSize) return ERR_CORRUPT_DATA_FILE;
    const std::uint8_t* r = dir.data() + p;
    if (load_le32(r) != kZipCentralSignature) return ERR_CORRUPT_DATA_FILE;
    ZipEntry e;
    e.flags = load_le16(r + 8);
    e.method = load_le16(r + 10);
    e.crc = load_le32(r + 16);
    e.compressed = load_le32(r + 20);
    e.size = load_le32(r + 24);
    const std::size_t name_length = load_le16(r + 28);
    const std::size_t extra_length = load_le16(r + 30);
    const std::size_t comment_length = load_le16(r + 32);
    e.header_at = load_le32(r + 42);
    const std::size_t record = kZipCentralSize + name_length + extra_length + comment_length;
    if (dir.size() - p < record) return ERR_CORRUPT_DATA_FILE;
    e.name.assign(reinterpret_cast<const char*>(r + kZipCentralSize), name_length);
    if (!apply_zip64(r + kZipCentralSize + name_length, extra_length, e, e.size == kZipMarked,
                     e.compressed == kZipMarked, e.header_at == kZipMarked))
      return ERR_CORRUPT_DATA_FILE;
    // The entry's local header and data lie before the directory.
    if (e.header_at > data_end_ || e.compressed > data_end_ - e.header_at)
      return ERR_CORRUPT_DATA_FILE;
    entries_.push_back(std::move(e));
    p += record;
  }
  return ERR_NONE;
}

const ZipEntry* ZipReader::find(std::string_view name) const {
  for (const ZipEntry& e : entries_)
    if (e.name == name) return &e;
  return nullptr;
}

std::int32_t ZipReader::read(const ZipEntry& e, const Sink& sink) const {
  if ((e.flags & 1) != 0) return ERR_CORRUPT_DATA_FILE;  // encrypted
  if (e.method != 0 && e.method != 8) return ERR_CORRUPT_DATA_FILE;
  if (e.method == 0 && e.size != e.compressed) return ERR_CORRUPT_DATA_FILE;
  if (e.method == 8 && e.size / kMaxRatio > e.compressed) return ERR_DATASET_DIM_TOO_LARGE;
  std::uint8_t local[kZipLocalSize];
  if (e.header_at > data_end_ || data_end_ - e.header_at < kZipLocalSize ||
      !read_at(file_, local, kZipLocalSize, e.header_at) || load_le32(local) != kZipLocalSignature)
    return ERR_CORRUPT_DATA_FILE;
  const std::uint64_t data_at =
      e.header_at + kZipLocalSize + load_le16(local + 26) + load_le16(local + 28);
  if (data_at > data_end_ || e.compressed > data_end_ - data_at) return ERR_CORRUPT_DATA_FILE;

  std::unique_ptr<std::uint8_t[]> in(new (std::nothrow) std::uint8_t[kPiece]);
  std::unique_ptr<std::uint8_t[]> out(e.method == 8 ? new (std::nothrow) std::uint8_t[kPiece]
                                                    : nullptr);
  if (!in || (e.method == 8 && !out)) return ERR_NO_MEM;
  std::uint32_t crc = 0;
  std::uint64_t given = 0;  // bytes handed to the sink
  auto hand = [&](const std::uint8_t* data, std::size_t n) -> std::int32_t {
    if (n > e.size - given) return ERR_CORRUPT_DATA_FILE;  // more than it claims
    crc = crc32_update(crc, data, n);
    given += n;
    return sink(data, n);
  };

  if (e.method == 0) {
    for (std::uint64_t done = 0; done < e.size;) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, e.size - done));
      if (!read_at(file_, in.get(), n, data_at + done)) return ERR_CORRUPT_DATA_FILE;
      if (std::int32_t err = hand(in.get(), n)) return err;
      done += n;
    }
  } else {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return ERR_NO_MEM;
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, inflateEnd);
    std::uint64_t taken = 0;  // compressed bytes read
    int status = Z_OK;
    while (status != Z_STREAM_END) {
      if (z.avail_in == 0) {
        if (taken == e.compressed) return ERR_CORRUPT_DATA_FILE;  // ends too soon
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, e.compressed - taken));
        if (!read_at(file_, in.get(), n, data_at + taken)) return ERR_CORRUPT_DATA_FILE;
        taken += n;
        z.next_in = in.get();
        z.avail_in = static_cast<uInt>(n);
      }
      z.next_out = out.get();
      z.avail_out = static_cast<uInt>(kPiece);
      status = inflate(&z, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END) return ERR_CORRUPT_DATA_FILE;
      const std::size_t n = kPiece - z.avail_out;
      if (n > 0) {
        if (std::int32_t err = hand(out.get(), n)) return err;
      }
    }
  }
  if (given != e.size || crc != e.crc) return ERR_CORRUPT_DATA_FILE;
  return ERR_NONE;
}

std::int32_t ZipReader::read_all(const ZipEntry& e, std::string& out, std::uint64_t limit) const {
  if (e.size > limit) return ERR_DATASET_DIM_TOO_LARGE;
  out.clear();
  try {
    out.reserve(static_cast<std::size_t>(e.size));
  } catch (const std::bad_alloc&) {
    return ERR_NO_MEM;
  }
  return read(e, [&out](const unsigned char* data, std::size_t n) {
    out.append(reinterpret_cast<const char*>(data), n);
    return std::int32_t{ERR_NONE};
  });
}
