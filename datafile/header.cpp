#include "datafile/header.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "platform/byte_order.h"

namespace {

// The table must cover the file header without gaps or overlaps, end the
// short header exactly at 834 bytes, and keep text and byte areas out of the
// byte-order conversion.
constexpr bool fields_are_contiguous() {
  std::size_t next = 0;
  bool short_end_seen = false;
  std::size_t mem = 0;
  for (const FieldDesc& f : kHeaderFields) {
    if (f.offset != next) return false;
    if (f.mem_offset < mem) return false;
    if (f.is_number() == (f.order == ByteOrder::NA)) return false;
    if (f.count == 0) return false;
    next = f.offset + f.width();
    mem = f.mem_offset + f.width();
    if (next == kHeaderSizeShort) short_end_seen = true;
  }
  return next == kHeaderSizeLong && short_end_seen;
}
static_assert(fields_are_contiguous(), "header_fields.def must cover 0..4096 in order");

struct ListSlot {
  std::int16_t field = -1;  // the field shown on this line
  std::int16_t element = 0;
  std::int16_t override = -1;  // a DNZ field shown instead when not 0
};

constexpr std::array<ListSlot, kListingLines + 1> build_listing() {
  std::array<ListSlot, kListingLines + 1> slots{};
  for (std::size_t i = 0; i < kHeaderFieldCount; ++i) {
    const FieldDesc& f = kHeaderFields[i];
    if (f.list_kind == ListKind::NONE) continue;
    for (std::size_t e = 0; e < f.elements(); ++e) {
      ListSlot& s = slots[f.list_pos + e];
      if (f.list_kind == ListKind::DNZ) {
        s.override = static_cast<std::int16_t>(i);
      } else {
        s.field = static_cast<std::int16_t>(i);
        s.element = static_cast<std::int16_t>(e);
      }
    }
  }
  return slots;
}
constexpr auto kListing = build_listing();

constexpr bool listing_is_complete() {
  for (std::size_t line = 1; line <= kListingLines; ++line) {
    if (kListing[line].field < 0) return false;
  }
  std::size_t lines = 0;
  for (const FieldDesc& f : kHeaderFields) {
    if (f.list_kind != ListKind::NONE && f.list_kind != ListKind::DNZ) {
      if (f.list_pos < 1 || f.list_pos + f.elements() - 1 > kListingLines) return false;
      lines += f.elements();
    }
  }
  return lines == kListingLines;
}
static_assert(listing_is_complete(), "every listing line must show exactly one field");

}  // namespace

void header_attr_name(const FieldDesc& field, std::size_t element, char* out, std::size_t size) {
  if (field.is_number() && field.count > 1) {
    std::snprintf(out, size, "%s[%2zu]", field.name, element);
  } else {
    std::snprintf(out, size, "%s", field.name);
  }
}

void header_decode(const std::uint8_t* bytes, std::size_t length, Header& header) {
  for (const FieldDesc& f : kHeaderFields) {
    if (f.offset + f.width() > length) break;
    const std::uint8_t* src = bytes + f.offset;
    unsigned char* dst = static_cast<unsigned char*>(header_field_ptr(header, f));
    if (!f.is_number() ||
        (f.order == ByteOrder::LE && std::endian::native == std::endian::little)) {
      std::memcpy(dst, src, f.width());
      continue;
    }
    for (std::size_t e = 0; e < f.count; ++e, src += f.elem_size(), dst += f.elem_size()) {
      if (f.elem_size() == 2) {
        std::uint16_t v = f.order == ByteOrder::BE ? load_be16(src) : load_le16(src);
        std::memcpy(dst, &v, 2);
      } else {
        std::uint32_t v = f.order == ByteOrder::BE ? load_be32(src) : load_le32(src);
        std::memcpy(dst, &v, 4);
      }
    }
  }
}

void header_encode(const Header& header, std::uint8_t* bytes, std::size_t length) {
  for (const FieldDesc& f : kHeaderFields) {
    if (f.offset + f.width() > length) break;
    std::uint8_t* dst = bytes + f.offset;
    const unsigned char* src = static_cast<const unsigned char*>(header_field_ptr(header, f));
    if (!f.is_number()) {
      std::memcpy(dst, src, f.width());
      continue;
    }
    for (std::size_t e = 0; e < f.count; ++e, src += f.elem_size(), dst += f.elem_size()) {
      if (f.elem_size() == 2) {
        std::uint16_t v;
        std::memcpy(&v, src, 2);
        f.order == ByteOrder::BE ? store_be16(dst, v) : store_le16(dst, v);
      } else {
        std::uint32_t v;
        std::memcpy(&v, src, 4);
        f.order == ByteOrder::BE ? store_be32(dst, v) : store_le32(dst, v);
      }
    }
  }
}

ListedField header_listed_field(const Header& header, std::size_t line) {
  const ListSlot& slot = kListing[line];
  if (slot.override >= 0) {
    const FieldDesc& alt = kHeaderFields[slot.override];
    std::uint32_t bits = 0;
    std::memcpy(&bits, header_field_ptr(header, alt), alt.elem_size());
    if (bits != 0) return {&alt, 0};
  }
  return {&kHeaderFields[slot.field], static_cast<std::size_t>(slot.element)};
}

int sdf_header_format(const void* header_tail) {
  if (!header_tail) return 1;
  const auto* tail = static_cast<const unsigned char*>(header_tail);
  constexpr std::size_t kExtendedFrom = offsetof(Header, ext_838) - kHeaderTailOffset;
  static_assert(kExtendedFrom == 776);
  for (std::size_t i = kExtendedFrom; i < kHeaderTailSize; ++i)
    if (tail[i] != 0) return 3;
  std::int16_t phase_res = 0;
  std::memcpy(&phase_res, tail + (offsetof(Header, phase_res) - kHeaderTailOffset), 2);
  return phase_res > 1 ? 2 : 1;
}

void set_header_format(Header& header, int format) {
  header.magic_number = format == 3 ? kMagicFormat3 : format == 2 ? kMagicFormat2 : kMagicFormat1;
  header.header_format = static_cast<std::int16_t>(format == 3 ? 3 : format == 2 ? 2 : 1);
  header.header_size = format == 3 ? static_cast<std::int32_t>(kHeaderSizeLong)
                                   : static_cast<std::int32_t>(kHeaderSizeShort);
}
