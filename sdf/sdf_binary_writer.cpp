// The binary form of SDF: an 81-byte little-endian header, the values as
// 32-bit unsigned numbers, then the same trailer as the ASCII form.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "errors/errors.h"
#include "platform/byte_order.h"
#include "sdf/sdf_output.h"
#include "sdf/sdf_reading.h"
#include "sdf/sdf_writer.h"
#include "sdf/text_out.h"

namespace {

constexpr auto kInvalidOut =
    static_cast<std::uint32_t>(sdf_detail::kDataTypes[sdf_detail::DT_ULONGINT].invalid);

// A text in a fixed field of `width` bytes: cut or padded with NULs.
void put_text(std::string& out, std::string_view text, std::size_t width) {
  std::string field(text.substr(0, width));
  field.resize(width, '\0');
  out += field;
}

void put_double(std::string& out, double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  std::uint8_t b[8];
  store_le32(b, static_cast<std::uint32_t>(bits));
  store_le32(b + 4, static_cast<std::uint32_t>(bits >> 32));
  out.append(reinterpret_cast<const char*>(b), 8);
}

// The header in the order and widths the import reads.
std::string binary_header(const Header& h, const PhaseRecord& phase) {
  const SdfStamps stamps = sdf_stamps(h);
  std::string maker = "KV" + std::to_string(h.swinfo.vers.maj) + "." +
                      std::to_string(h.swinfo.vers.min) + "." + std::to_string(h.swinfo.vers.bug);
  std::string out = "bBCR-1.0";
  put_text(out, maker, 10);
  put_text(out, stamps.created, 12);
  put_text(out, stamps.modified, 12);
  std::uint8_t b[2];
  store_le16(b, static_cast<std::uint16_t>(phase.width));
  out.append(reinterpret_cast<const char*>(b), 2);
  store_le16(b, static_cast<std::uint16_t>(phase.height));
  out.append(reinterpret_cast<const char*>(b), 2);
  const double lateral = sdf_listed_value(h.lateral_res);
  const double height = sdf_phase_unit(h);
  for (double d : {lateral, lateral, height, height}) put_double(out, d);
  out += '\0';                                        // no compression
  out += static_cast<char>(sdf_detail::DT_ULONGINT);  // data type
  out += '\0';                                        // no check sum
  return out;
}

}  // namespace

bool sdf_write_binary_header(std::FILE* stream, const Header& header, const PhaseRecord& phase) {
  const std::string head = binary_header(header, phase);
  return std::fwrite(head.data(), 1, head.size(), stream) == head.size();
}

unsigned char* format_binary_values(unsigned char* out, const std::int32_t* values,
                                    std::size_t count, std::int32_t offset) {
  const std::uint32_t base = static_cast<std::uint32_t>(offset);
  for (std::size_t k = 0; k < count; ++k) {
    const std::int32_t v = values[k];
    // The difference modulo 2^32, as the ASCII form takes it.
    store_le32(out + 4 * k,
               v >= kInvalidPhase ? kInvalidOut : static_cast<std::uint32_t>(v) - base);
  }
  return out + 4 * count;
}

std::int32_t sdf_export_binary(const char* path, const Header* header, const IntensityRecord*,
                               const PhaseRecord* phase, OutputMode mode) {
  if (!phase || !header) return ERR_INVALID_PARAM;
  // The binary header holds the dimensions in 16 bits without a sign.
  if (phase->width < 0 || phase->height < 0) return ERR_INVALID_PARAM;
  const std::int32_t count = std::int32_t{phase->width} * std::int32_t{phase->height};
  if (count > 0 && (!phase->data || phase->count < count)) return ERR_INVALID_PARAM;

  const std::int32_t* values = phase->data.get();
  const std::int32_t offset = count > 0 ? sdf_data_offset(values, count) : 0;
  ConvertStage stage = ConvertStage::kNone;
  return write_sdf_output(path, mode, SdfForm::kBinary, *header, *phase, offset, stage,
                          [&](std::FILE* f, ConvertStage&) -> std::int32_t {
                            constexpr std::int32_t kChunk = 1 << 14;
                            unsigned char buffer[kChunk * 4];
                            for (std::int32_t at = 0; at < count; at += kChunk) {
                              const auto n = static_cast<std::size_t>(std::min(kChunk, count - at));
                              format_binary_values(buffer, values + at, n, offset);
                              if (std::fwrite(buffer, 4, n, f) != n) return ERR_CANT_WRITE_FILE;
                            }
                            return ERR_NONE;
                          });
}
