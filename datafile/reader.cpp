#include "datafile/reader.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include "errors/errors.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"

namespace {

// A negative byte count announces no block, the same as 0.
std::int64_t block_bytes(std::int32_t n_bytes) { return n_bytes > 0 ? n_bytes : 0; }

// The checks of an announced intensity block that need no reading. The
// array holds n_buckets x width x height values; a block that claims more, or
// a product beyond 32 bits, is a damaged header.
std::int32_t check_intensity(std::int64_t file_size, const Header& h, std::size_t header_length,
                             const IntensityRecord& rec) {
  std::int64_t capacity = std::int64_t{rec.n_buckets} * rec.width * rec.height;
  std::int64_t values = h.intens_n_bytes / 2;
  if (capacity < 0 || capacity > std::numeric_limits<std::int32_t>::max())
    return ERR_CORRUPT_DATA_FILE;
  if (capacity == 0) return ERR_PARAM_OUT_OF_RANGE;
  if (values > capacity) return ERR_CORRUPT_DATA_FILE;
  // Values the block does not supply are zero-filled, so the array may be
  // larger than the block; but not larger than the whole rest of the file
  // could hold, or a few damaged header bytes in a tiny file would ask for
  // gigabytes. Checked before allocating.
  if (file_size >= 0 && capacity * 2 > file_size - static_cast<std::int64_t>(header_length))
    return ERR_CORRUPT_DATA_FILE;
  return ERR_NONE;
}

std::int32_t read_intensity(std::FILE* f, std::int64_t file_size, const Header& h,
                            std::size_t header_length, IntensityRecord* rec) {
  if (std::int32_t err = check_intensity(file_size, h, header_length, *rec)) return err;
  if (std::int32_t err = intensity_record_alloc(rec)) return err;
  if (u_fseek(f, static_cast<std::int64_t>(header_length)) != 0) return ERR_CORRUPT_DATA_FILE;
  auto n = static_cast<std::size_t>(h.intens_n_bytes / 2);
  if (std::fread(rec->data.get(), 2, n, f) != n) return ERR_CORRUPT_DATA_FILE;
  be16_to_host(rec->data.get(), n);
  // Values the block does not supply stay 0 rather than uninitialised.
  std::memset(rec->data.get() + n, 0, (static_cast<std::size_t>(rec->count) - n) * 2);
  return ERR_NONE;
}

std::int64_t phase_start(const Header& h, std::size_t header_length) {
  return static_cast<std::int64_t>(header_length) + block_bytes(h.intens_n_bytes);
}

// The checks of an announced phase block that need no reading: it must hold
// width x height values, and that must not be 0.
std::int32_t check_phase(std::int64_t file_size, const Header& h, std::size_t header_length,
                         const PhaseRecord& rec) {
  std::int64_t values = std::int64_t{rec.width} * rec.height;
  if (values > 0 && file_size >= 0 && values * 4 > file_size - phase_start(h, header_length))
    return ERR_CORRUPT_DATA_FILE;  // shorter than announced: no need to allocate
  if (values == 0) return ERR_PARAM_OUT_OF_RANGE;
  return ERR_NONE;
}

std::int32_t read_phase(std::FILE* f, std::int64_t file_size, const Header& h,
                        std::size_t header_length, PhaseRecord* rec) {
  if (std::int32_t err = check_phase(file_size, h, header_length, *rec)) return err;
  if (std::int32_t err = phase_record_alloc(rec)) return err;
  if (u_fseek(f, phase_start(h, header_length)) != 0) return ERR_CORRUPT_DATA_FILE;
  auto n = static_cast<std::size_t>(rec->count);
  if (std::fread(rec->data.get(), 4, n, f) != n || std::ferror(f)) return ERR_CORRUPT_DATA_FILE;
  be32_to_host(reinterpret_cast<std::uint32_t*>(rec->data.get()), n);
  return ERR_NONE;
}

// Steps shared by every reading: the magic number, the header, the blocks'
// dimensions. Fills the given records' geometry and `header`.
std::int32_t read_checked_header(std::FILE* f, Header* header, IntensityRecord* intensity,
                                 PhaseRecord* phase, std::size_t* header_length) {
  std::uint8_t bytes[kHeaderSizeLong];
  if (std::fread(bytes, 1, 4, f) != 4) return ERR_PREMATURE_EOF;
  *header_length = header_length_for_magic(load_be32(bytes));
  if (*header_length == 0) return ERR_NOT_A_DATA_FILE;
  // The rest of the header follows on (no seek back: that would read the
  // file's start a second time).
  if (std::fread(bytes + 4, 1, *header_length - 4, f) != *header_length - 4)
    return ERR_PREMATURE_EOF;

  Header h{};
  header_decode(bytes, *header_length, h);

  // Dimensions are 0..32767; a negative 16-bit field is out of range.
  if (intensity && h.intens_n_bytes > 0) {
    if (h.intens_width < 0 || h.intens_height < 0) return ERR_DATASET_DIM_TOO_LARGE;
    intensity->width = h.intens_width;
    intensity->height = h.intens_height;
    intensity->org_x = h.intens_org_x;
    intensity->org_y = h.intens_org_y;
    intensity->n_buckets = h.intens_n_buckets;
    intensity->range = h.intens_range;
  }
  if (phase && h.cn_n_bytes > 0) {
    if (h.cn_width < 0 || h.cn_height < 0) return ERR_DATASET_DIM_TOO_LARGE;
    phase->width = h.cn_width;
    phase->height = h.cn_height;
    phase->org_x = h.cn_org_x;
    phase->org_y = h.cn_org_y;
  }
  *header = h;
  return ERR_NONE;
}

std::int32_t read_open_file(std::FILE* f, Header* header, IntensityRecord* intensity,
                            PhaseRecord* phase) {
  std::size_t header_length = 0;
  if (std::int32_t err = read_checked_header(f, header, intensity, phase, &header_length))
    return err;
  const Header& h = *header;
  std::int64_t file_size = u_file_size(f);
  if (intensity && h.intens_n_bytes > 0) {
    if (std::int32_t err = read_intensity(f, file_size, h, header_length, intensity)) return err;
  }
  if (phase && h.cn_n_bytes > 0) {
    if (std::int32_t err = read_phase(f, file_size, h, header_length, phase)) return err;
  }
  return ERR_NONE;
}

}  // namespace

std::int32_t read_data_file(const char* path, Header* header, IntensityRecord* intensity,
                            PhaseRecord* phase) {
  if (intensity) {
    intensity_record_free(intensity);
    *intensity = IntensityRecord{};
  }
  if (phase) {
    phase_record_free(phase);
    *phase = PhaseRecord{};
  }
  if (!header) return ERR_INVALID_PARAM;
  File f(u_fopen(path, "rb"));
  if (!f) return errno == ENOMEM ? ERR_NO_MEM : ERR_CANT_OPEN_FILE;
  std::int32_t err = read_open_file(f.get(), header, intensity, phase);
  if (err != ERR_NONE) {
    if (intensity) intensity_record_free(intensity);
    if (phase) phase_record_free(phase);
  }
  return err;
}

std::int32_t open_data_file(const char* path, Header* header, PhaseRecord* phase,
                            std::int64_t* phase_offset, File* file) {
  if (phase) {
    phase_record_free(phase);
    *phase = PhaseRecord{};
  }
  *phase_offset = 0;
  if (!header || !phase) return ERR_INVALID_PARAM;
  File f(u_fopen(path, "rb"));
  if (!f) return errno == ENOMEM ? ERR_NO_MEM : ERR_CANT_OPEN_FILE;
  IntensityRecord intensity;
  std::size_t header_length = 0;
  std::int32_t err = read_checked_header(f.get(), header, &intensity, phase, &header_length);
  const Header& h = *header;
  const std::int64_t file_size = err ? -1 : u_file_size(f.get());
  if (!err && h.intens_n_bytes > 0) {
    // Where the size tells whether the block is complete, nothing need be
    // read; where it cannot be told, the block is read as read_data_file
    // reads it.
    err = file_size >= 0 ? check_intensity(file_size, h, header_length, intensity)
                         : read_intensity(f.get(), file_size, h, header_length, &intensity);
  }
  if (!err && h.cn_n_bytes > 0) err = check_phase(file_size, h, header_length, *phase);
  if (err) {
    phase_record_free(phase);
    return err;
  }
  *phase_offset = h.cn_n_bytes > 0 ? phase_start(h, header_length) : 0;
  *file = std::move(f);
  return ERR_NONE;
}
