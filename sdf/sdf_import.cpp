// The import entry points: the form is told by the version text, the header
// record is built from what the file holds, and the caller's records are only
// touched once everything has been read.
#include "sdf/sdf_import.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "errors/errors.h"
#include "platform/file_io.h"
#include "sdf/sdf_reading.h"

using namespace sdf_detail;

namespace {

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The create stamp DDMMYYYYHHMM as "Mon DD HH:MM:SS YYYY" (C locale), padded
// with spaces to the field's 30 characters; all spaces when the stamp is not
// 12 digits of a month 1 to 12.
void set_create_date(const SdfHeader& s, Header& h) {
  char text[64] = {};
  bool digits = s.create_date_complete;
  for (int i = 0; i < 12 && digits; ++i)
    digits = s.create_date[i] >= '0' && s.create_date[i] <= '9';
  if (digits) {
    auto num = [&](int at, int n) {
      int v = 0;
      for (int i = 0; i < n; ++i) v = v * 10 + (s.create_date[at + i] - '0');
      return v;
    };
    int day = num(0, 2), month = num(2, 2), year = num(4, 4), hour = num(8, 2), minute = num(10, 2);
    if (month >= 1 && month <= 12)
      std::snprintf(text, sizeof text, "%s %02d %02d:%02d:00 %d", kMonths[month - 1], day, hour,
                    minute, year);
  }
  constexpr std::size_t size = sizeof h.swinfo.date;
  std::size_t n = std::min(size, std::strlen(text));
  std::memcpy(h.swinfo.date, text, n);
  std::memset(h.swinfo.date + n, ' ', size - n);
}

}  // namespace

namespace sdf_detail {

void build_header(const SdfHeader& s, Header& h) {
  h = Header{};
  set_header_format(
      h, sdf_header_format(reinterpret_cast<const unsigned char*>(&h) + kHeaderTailOffset));
  h.intf_scale_factor = 0.5f;
  h.obliquity_factor = 1.0f;
  h.phase_res = 0;
  h.wavelength_in = narrow_to_float(8192.0 * s.z_resolution);
  h.lateral_res = narrow_to_float(s.x_scale);
  h.pixel_width = s.points > 0 ? narrow_to_float(s.x_scale / static_cast<double>(s.points))
                               : narrow_to_float(s.x_scale);
  h.pixel_height = h.pixel_width;
  h.camera_width = 0;
  h.camera_height = 0;
  h.cn_width = static_cast<std::int16_t>(s.points);
  h.cn_height = static_cast<std::int16_t>(s.profiles);
  h.cn_n_bytes = static_cast<std::int32_t>(point_count(s) * 4);
  h.cn_org_x = 0;
  h.cn_org_y = 0;
  set_create_date(s, h);
}

}  // namespace sdf_detail

namespace {

// Checks the geometry and makes the phase record (no array when either
// dimension is 0). `available` is the number of bytes the file has left for
// the data (negative when unknown); the values need at least
// n x `bytes_per_value` - `slack` of them.
std::int32_t make_phase(const SdfHeader& s, std::int64_t available, std::uint64_t bytes_per_value,
                        std::uint64_t slack, PhaseRecord& phase) {
  if (s.x_scale != s.y_scale) return ERR_BAD_PARAM;  // also when either is NaN
  if (s.points > 32767 || s.profiles > 32767) return ERR_DATASET_DIM_TOO_LARGE;
  std::size_t n = point_count(s);
  // The header's block length cn_n_bytes has to hold n x 4.
  if (n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() / 4))
    return ERR_DATASET_DIM_TOO_LARGE;
  phase.width = static_cast<std::int16_t>(s.points);
  phase.height = static_cast<std::int16_t>(s.profiles);
  if (n == 0) return ERR_NONE;
  // A file too short for its dimensions is refused before allocating.
  if (available >= 0 && n * bytes_per_value - slack > static_cast<std::uint64_t>(available))
    return ERR_PREMATURE_EOF;
  return phase_record_alloc(&phase);
}

std::int64_t remaining_bytes(std::int64_t file_size, std::uint64_t position) {
  if (file_size < 0) return -1;
  return file_size - static_cast<std::int64_t>(position);
}

// The whole import into local records; the caller's are only touched once it
// has succeeded.
std::int32_t import_sdf_file(const char* path, Header& h, PhaseRecord& phase) {
  File f(u_fopen(path, "rb"));
  if (!f) return errno == ENOMEM ? ERR_NO_MEM : ERR_CANT_OPEN_FILE;
  SdfHeader s;
  if (std::fread(s.version, 1, 8, f.get()) != 8) return ERR_PREMATURE_EOF;
  const std::int64_t file_size = u_file_size(f.get());

  if (s.version[0] != 'a' && s.version[0] != 'A') {
    if (std::int32_t err = read_binary_header(f.get(), s)) return err;
    if (std::int32_t err = make_phase(s, remaining_bytes(file_size, kBinaryHeaderSize),
                                      kDataTypes[s.data_type].width, 0, phase))
      return err;
    build_header(s, h);
    // A trailer may follow the values (tovrel writes one); it brings the
    // whole header and the data offset, and is read before the values so
    // that they are restored in its counts. Anything else after the values
    // is ignored, as it always was.
    std::int64_t data_offset = 0;
    const std::uint64_t data_end =
        kBinaryHeaderSize + point_count(s) * kDataTypes[s.data_type].width;
    if (point_count(s) > 0 && u_fseek(f.get(), static_cast<std::int64_t>(data_end)) == 0) {
      static constexpr char kTrailerStart[] = "Data Offset";
      char start[sizeof kTrailerStart - 1];
      if (std::fread(start, 1, sizeof start, f.get()) == sizeof start &&
          std::memcmp(start, kTrailerStart, sizeof start) == 0) {
        if (u_fseek(f.get(), static_cast<std::int64_t>(data_end)) != 0) return ERR_PREMATURE_EOF;
        LineReader lines(f.get());
        if (std::int32_t err = read_trailer(lines, h, data_offset)) return err;
        phase.org_x = h.cn_org_x;
        phase.org_y = h.cn_org_y;
      }
    }
    if (u_fseek(f.get(), static_cast<std::int64_t>(kBinaryHeaderSize)) != 0)
      return ERR_PREMATURE_EOF;
    return read_binary_data(f.get(), s, h, data_offset, phase);
  }

  // The ASCII form is read again from its start. The stream stays binary:
  // lines end in LF or CR LF either way, and a text-mode read would stop at
  // a Ctrl-Z byte that a header text may hold.
  if (u_fseek(f.get(), 0) != 0) return ERR_CANT_OPEN_FILE;
  LineReader lines(f.get());
  if (std::int32_t err = read_ascii_header(lines, s)) return err;
  // Each value takes at least a digit and a separator.
  if (std::int32_t err = make_phase(s, remaining_bytes(file_size, lines.consumed()), 2, 1, phase))
    return err;
  build_header(s, h);
  HookArray<double> doubles;
  if (std::int32_t err = read_ascii_data(lines, s, phase, doubles)) return err;
  std::int64_t data_offset = 0;
  if (std::int32_t err = read_trailer(lines, h, data_offset)) return err;
  phase.org_x = h.cn_org_x;
  phase.org_y = h.cn_org_y;
  return rescale_ascii(s, h, data_offset, phase, doubles);
}

// Lines are as long as the file makes them; running out of memory for one is
// reported like any other allocation failure.
std::int32_t import_sdf(const char* path, Header& h, PhaseRecord& phase) {
  try {
    return import_sdf_file(path, h, phase);
  } catch (const std::bad_alloc&) {
    return ERR_NO_MEM;
  }
}

}  // namespace

std::int32_t read_sdf_header(const char* path, Header* header_out, PhaseRecord* phase_out) {
  if (!header_out || !phase_out) return ERR_INVALID_PARAM;
  Header h{};
  PhaseRecord phase;
  if (std::int32_t err = import_sdf(path, h, phase)) return err;
  *header_out = h;
  *phase_out = std::move(phase);
  return ERR_NONE;
}

std::int32_t read_sdf_file(const char* path, void* software_info_out, void* header_tail_out,
                           IntensityRecord* intensity_out, PhaseRecord* phase_out) {
  if (!software_info_out || !header_tail_out || !phase_out) return ERR_INVALID_PARAM;
  Header h{};
  PhaseRecord phase;
  if (std::int32_t err = import_sdf(path, h, phase)) return err;
  const auto* bytes = reinterpret_cast<const unsigned char*>(&h);
  std::memcpy(software_info_out, bytes + kSoftwareInfoOffset, kSoftwareInfoSize);
  std::memcpy(header_tail_out, bytes + kHeaderTailOffset, kHeaderTailSize);
  if (intensity_out) {
    intensity_record_free(intensity_out);
    *intensity_out = IntensityRecord{};
  }
  *phase_out = std::move(phase);
  return ERR_NONE;
}
