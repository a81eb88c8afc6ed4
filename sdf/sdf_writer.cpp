#include "sdf/sdf_writer.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "errors/errors.h"
#include "platform/file_io.h"
#include "platform/local_time.h"
#include "platform/output_file.h"
#include "sdf/attributes.h"
#include "sdf/date_text.h"
#include "sdf/sdf_output.h"
#include "sdf/sdf_reading.h"
#include "sdf/text_out.h"

bool sdf_write_header_section(std::FILE* f, const Header& h, const PhaseRecord& phase) {
  const SdfStamps stamps = sdf_stamps(h);
  const float step = sdf_height_step(h);
  char lateral[kFloatTextSize], height[kFloatTextSize];
  format_float_g(h.lateral_res, lateral);
  format_float_g(step, height);

  bool ok = std::fputs("aBCR-1.0\n", f) >= 0;
  ok &= std::fprintf(f, "ManufacID = KV%d.%d.%d\n", int{h.swinfo.vers.maj}, int{h.swinfo.vers.min},
                     int{h.swinfo.vers.bug}) >= 0;
  ok &= std::fprintf(f, "CreateDate = %s\n", stamps.created.c_str()) >= 0;
  ok &= std::fprintf(f, "ModDate = %s\n", stamps.modified.c_str()) >= 0;
  // Width and height are widened with their sign, then printed unsigned.
  ok &= std::fprintf(f, "NumPoints = %u\n", static_cast<unsigned>(std::int32_t{phase.width})) >= 0;
  ok &=
      std::fprintf(f, "NumProfiles = %u\n", static_cast<unsigned>(std::int32_t{phase.height})) >= 0;
  ok &= std::fprintf(f, "Xscale = %s\n", lateral) >= 0;
  ok &= std::fprintf(f, "Yscale = %s\n", lateral) >= 0;
  ok &= std::fprintf(f, "Zscale = %s\n", height) >= 0;
  ok &= std::fprintf(f, "Zresolution = %s\n", height) >= 0;
  ok &= std::fputs("Compression = 0\nDataType = 2\nCheckType = 0\n*\n", f) >= 0;
  return ok;
}

SdfStamps sdf_stamps(const Header& h) {
  // One clock reading serves both stamps, so that an empty swinfo.date gives
  // a CreateDate equal to ModDate. The date field need not hold a NUL inside
  // its 30 bytes; the stamp reads no further.
  const std::time_t clock = std::time(nullptr);
  SdfStamps stamps;
  stamps.created = sdf_date_stamp(h.swinfo.date, sizeof h.swinfo.date, clock);
  std::tm now{};
  if (!u_local_time(clock, now)) now = std::tm{};
  stamps.modified =
      sdf_format_stamp(now.tm_mday, now.tm_mon + 1, now.tm_year + 1900, now.tm_hour, now.tm_min);
  return stamps;
}

bool sdf_write_trailer(std::FILE* f, const Header& h, std::int32_t offset) {
  if (std::fprintf(f, "Data Offset = %d\n", int{offset}) < 0) return false;
  // Its result tells only of the last line; the stream's error flag
  // remembers a failure of any of them.
  static_cast<void>(write_header_attributes(f, &h));
  return std::fputs("*\n", f) >= 0 && !std::ferror(f);
}

std::string sdf_trailer_text(const Header& h, std::int32_t offset) {
  return "Data Offset = " + std::to_string(offset) + "\n" + header_attributes_text(h) + "*\n";
}

float sdf_height_step(const Header& h) {
  // Separate volatile steps: each product and the quotient are rounded to
  // single precision, whatever the compiler's evaluation method, and nothing
  // is fused.
  volatile float s = h.intf_scale_factor * h.obliquity_factor;
  s = s * h.wavelength_in;
  s = s / (h.phase_res == 0 ? 4096.0f : 32768.0f);
  return s;
}

double sdf_listed_value(float value) {
  char text[kFloatTextSize];
  double d = 0;
  static_cast<void>(sdf_detail::parse_double(sdf_detail::trim(format_float_g(value, text)), d));
  return d;
}

double sdf_phase_unit(const Header& h) { return sdf_listed_value(sdf_height_step(h)); }

std::int32_t sdf_data_offset(const std::int32_t* values, std::int32_t count) {
  std::int32_t offset = 0;
  std::int32_t i = 0;
#if defined(__SSE2__)
  // Four running minima at a time, then the smallest of them.
  if (count >= 4) {
    __m128i low = _mm_setzero_si128();
    for (; i + 4 <= count; i += 4) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i));
      const __m128i smaller = _mm_cmplt_epi32(v, low);
      low = _mm_or_si128(_mm_and_si128(smaller, v), _mm_andnot_si128(smaller, low));
    }
    alignas(16) std::int32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), low);
    for (std::int32_t lane : lanes) offset = std::min(offset, lane);
  }
#endif
  for (; i < count; ++i) {
    if (values[i] < offset) offset = values[i];
  }
  return offset;
}

bool sdf_write_data_section(std::FILE* stream, const std::int32_t* values, std::int32_t count,
                            std::int32_t offset) {
  if (count <= 0) return true;
  NumberWriter out(stream);
  // Ten numbers a line, each followed by one space; a shorter last line
  // gets its line break too. Lines do not follow the profiles.
  constexpr std::int32_t kPerLine = 10;
  for (std::int32_t first = 0; first < count; first += kPerLine) {
    const std::int32_t n = count - first < kPerLine ? count - first : kPerLine;
    char* p = out.reserve(data_text_capacity(kPerLine));
    if (!p) return false;
    out.commit(format_data_lines(p, values + first, static_cast<std::size_t>(n), offset));
  }
  return out.flush();
}

std::int32_t write_output(const char* path, OutputMode mode, bool binary, ConvertStage& stage,
                          const WriteBody& body) {
  stage = ConvertStage::kWrite;
  OutputFile file;
  if (file.open(path, mode, binary) != ERR_NONE) return ERR_CANT_CREATE_FILE;
  // The first failure stops the writing; the OutputFile removes what was
  // written. Every write is checked, and so is the close that flushes the
  // stream's buffer: a full disk must never end in success.
  if (std::int32_t err = body(file.stream(), stage)) return err;
  const std::int32_t err = file.commit();
  stage = err == ERR_NONE               ? ConvertStage::kNone
          : err == ERR_CANT_CREATE_FILE ? ConvertStage::kTaken
                                        : ConvertStage::kWrite;
  return err;
}

std::int32_t write_sdf_output(const char* path, OutputMode mode, SdfForm form, const Header& header,
                              const PhaseRecord& phase, std::int32_t offset, ConvertStage& stage,
                              const WriteBody& data) {
  const bool binary = form == SdfForm::kBinary;
  return write_output(
      path, mode, binary, stage, [&](std::FILE* f, ConvertStage& side) -> std::int32_t {
        const bool head = binary ? sdf_write_binary_header(f, header, phase)
                                 : sdf_write_header_section(f, header, phase);
        if (!head) return ERR_CANT_WRITE_FILE;
        if (std::int32_t err = data(f, side)) return err;
        side = ConvertStage::kWrite;
        // The ASCII data section ends with a '*' line; the binary values end
        // where their count says.
        if ((!binary && std::fputs("*\n", f) < 0) || !sdf_write_trailer(f, header, offset))
          return ERR_CANT_WRITE_FILE;
        return ERR_NONE;
      });
}

std::int32_t sdf_export(const char* path, const Header* header, const IntensityRecord*,
                        const PhaseRecord* phase, OutputMode mode) {
  if (!phase || !header) return ERR_INVALID_PARAM;
  // 16-bit by 16-bit: the product always fits in 32 bits.
  const std::int32_t count = std::int32_t{phase->width} * std::int32_t{phase->height};
  if (count > 0 && (!phase->data || phase->count < count)) return ERR_INVALID_PARAM;
  const std::int32_t* values = phase->data.get();
  const std::int32_t offset = count > 0 ? sdf_data_offset(values, count) : 0;
  ConvertStage stage = ConvertStage::kNone;
  return write_sdf_output(
      path, mode, SdfForm::kAscii, *header, *phase, offset, stage,
      [&](std::FILE* f, ConvertStage&) -> std::int32_t {
        return sdf_write_data_section(f, values, count, offset) ? ERR_NONE : ERR_CANT_WRITE_FILE;
      });
}

std::int32_t write_sdf_file(const char* path, const void* software_info, const void* header_tail,
                            const IntensityRecord* intensity, const PhaseRecord* phase) {
  if (intensity && !intensity->data) intensity = nullptr;
  if (phase && !phase->data) phase = nullptr;
  if (!intensity && !phase) return ERR_INVALID_PARAM;
  // The writer walks width x height values: the array has to hold them.
  if (phase && (phase->width < 0 || phase->height < 0 ||
                std::int64_t{phase->width} * phase->height > phase->count))
    return ERR_INVALID_PARAM;

  Header h{};
  auto* bytes = reinterpret_cast<unsigned char*>(&h);
  if (software_info) std::memcpy(bytes + kSoftwareInfoOffset, software_info, kSoftwareInfoSize);
  if (header_tail) std::memcpy(bytes + kHeaderTailOffset, header_tail, kHeaderTailSize);
  set_header_format(h, sdf_header_format(header_tail));

  if (intensity) {
    std::int64_t n_bytes =
        std::int64_t{intensity->width} * intensity->height * intensity->n_buckets * 2;
    if (n_bytes < 0 || n_bytes > std::numeric_limits<std::int32_t>::max())
      return ERR_DATASET_DIM_TOO_LARGE;
    h.intens_org_x = intensity->org_x;
    h.intens_org_y = intensity->org_y;
    h.intens_width = intensity->width;
    h.intens_height = intensity->height;
    h.intens_n_buckets = intensity->n_buckets;
    h.intens_range = intensity->range;
    h.intens_n_bytes = static_cast<std::int32_t>(n_bytes);
  }
  if (phase) {
    std::int64_t n_bytes = std::int64_t{phase->width} * phase->height * 4;
    if (n_bytes > std::numeric_limits<std::int32_t>::max()) return ERR_DATASET_DIM_TOO_LARGE;
    h.cn_org_x = phase->org_x;
    h.cn_org_y = phase->org_y;
    h.cn_width = phase->width;
    h.cn_height = phase->height;
    h.cn_n_bytes = static_cast<std::int32_t>(n_bytes);
  }
  return sdf_export(path, &h, intensity, phase);
}
