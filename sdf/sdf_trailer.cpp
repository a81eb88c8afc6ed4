// The trailer: the header attribute listing, read back through the field table.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "errors/errors.h"
#include "log/log.h"
#include "sdf/sdf_reading.h"

namespace sdf_detail {
namespace {

struct TrailerKey {
  char name[64];
  std::size_t length;
  const FieldDesc* field;  // nullptr for "Data Offset"
  std::size_t element;
  int required_bit;  // -1 when not a required field
};

constexpr std::array<const char*, 8> kRequiredFields = {
    "intf_scale_factor", "obliquity_factor", "wavelength_in", "num_aperture",
    "lateral_res",       "camera_width",     "camera_height", "phase_res"};
constexpr unsigned kAllRequired = (1u << kRequiredFields.size()) - 1;

std::vector<TrailerKey> make_trailer_keys() {
  std::vector<TrailerKey> keys;
  TrailerKey offset{};
  std::snprintf(offset.name, sizeof offset.name, "Data Offset");
  offset.length = std::strlen(offset.name);
  offset.required_bit = -1;
  keys.push_back(offset);
  for (const FieldDesc& f : kHeaderFields) {
    if (f.list_kind == ListKind::NONE) continue;
    for (std::size_t e = 0; e < f.elements(); ++e) {
      TrailerKey k{};
      header_attr_name(f, e, k.name, sizeof k.name);
      k.length = std::strlen(k.name);
      k.field = &f;
      k.element = e;
      k.required_bit = -1;
      for (std::size_t r = 0; r < kRequiredFields.size(); ++r)
        if (std::strcmp(f.name, kRequiredFields[r]) == 0) k.required_bit = static_cast<int>(r);
      keys.push_back(k);
    }
  }
  return keys;
}

const std::vector<TrailerKey>& trailer_keys() {
  static const std::vector<TrailerKey> keys = make_trailer_keys();
  return keys;
}

bool is_key_separator(char c) { return c == ' ' || c == '\t' || c == '='; }

// Stores the leading decimal integer of `value` in a field of type T, or 0
// when there is none or it does not fit; true when it was stored.
template <class T>
bool store_integer(void* dst, std::string_view value) {
  constexpr auto min = std::numeric_limits<T>::min();
  constexpr auto max = std::numeric_limits<T>::max();
  T x = 0;
  bool ok = false;
  if constexpr (std::is_signed_v<T>) {
    std::int64_t v = 0;
    ok = parse_signed(value, min, max, v);
    if (ok) x = static_cast<T>(v);
  } else {
    std::uint64_t v = 0;
    ok = parse_unsigned(value, max, v);
    if (ok) x = static_cast<T>(v);
  }
  std::memcpy(dst, &x, sizeof x);
  return ok;
}

// Stores one trailer value in its field, read as leniently as the standard
// conversions read it: the leading number of the text, and 0 when there is
// none (or it does not fit the field). `counts` tells whether the value was a
// number of its field (a NaN is not), since only such a value satisfies a
// required field.
void store_trailer_value(Header& h, const TrailerKey& key, std::string_view value, bool& counts) {
  const FieldDesc& f = *key.field;
  void* dst = header_field_ptr(h, f, key.element);
  switch (f.type) {
    case FieldType::TEXT: {
      if (!value.empty() && value.front() == '"') value.remove_prefix(1);
      if (auto q = value.find('"'); q != std::string_view::npos) value = value.substr(0, q);
      auto* text = static_cast<char*>(dst);
      std::memset(text, 0, f.width());
      std::memcpy(text, value.data(), std::min<std::size_t>(f.width(), value.size()));
      counts = true;
      return;
    }
    case FieldType::F32: {
      float v = 0;
      if (value.find("#QNAN") != std::string_view::npos ||
          value.find("#NAN") != std::string_view::npos) {
        const bool negative = !value.empty() && value.front() == '-';
        v = std::copysign(std::numeric_limits<float>::quiet_NaN(), negative ? -1.0f : 1.0f);
        counts = false;
      } else {
        double d = 0;
        counts = parse_double(value, d);
        v = narrow_to_float(d);
        counts = counts && !std::isnan(v);
      }
      std::memcpy(dst, &v, 4);
      return;
    }
    case FieldType::I16:
      counts = store_integer<std::int16_t>(dst, value);
      return;
    case FieldType::I32:
      counts = store_integer<std::int32_t>(dst, value);
      return;
    case FieldType::U32:
      counts = store_integer<std::uint32_t>(dst, value);
      return;
    case FieldType::RAW:
      counts = true;
      return;
  }
}

}  // namespace

// Reads the trailer into `h` and the data offset. Returns ERR_CORRUPT_DATA_FILE
// (after the message) when a required field is missing, unless `facts` are
// asked for.
std::int32_t read_trailer(LineReader& lines, Header& h, std::int64_t& data_offset,
                          TrailerFacts* facts) {
  const std::vector<TrailerKey>& keys = trailer_keys();
  unsigned seen = 0;
  std::string line;
  for (;;) {
    int r = lines.next(line);
    if (r < 0) return ERR_PREMATURE_EOF;
    if (r == 0 || (!line.empty() && line[0] == '*')) break;
    for (const TrailerKey& key : keys) {
      if (line.size() <= key.length || line.compare(0, key.length, key.name) != 0 ||
          !is_key_separator(line[key.length]))
        continue;
      std::string_view value(line);
      value.remove_prefix(key.length);
      while (!value.empty() && is_key_separator(value.front())) value.remove_prefix(1);
      if (!key.field) {
        // No number: an offset of 0, as the standard conversion reads it.
        if (!parse_signed(value, INT32_MIN, INT32_MAX, data_offset)) data_offset = 0;
        break;
      }
      bool counts = false;
      store_trailer_value(h, key, value, counts);
      if (key.required_bit >= 0) {
        if (counts)
          seen |= 1u << key.required_bit;
        else
          seen &= ~(1u << key.required_bit);
      }
      break;
    }
  }
  if (facts) {
    facts->complete = seen == kAllRequired;
    return ERR_NONE;
  }
  if (seen != kAllRequired) {
    u_notice("Missing required fields.\n");
    return ERR_CORRUPT_DATA_FILE;
  }
  return ERR_NONE;
}

}  // namespace sdf_detail
