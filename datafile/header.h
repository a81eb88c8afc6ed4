// The header record of a binary data file and the table that describes it.
//
// Every field is declared once, in header_fields.def. The record below, the
// field table, the reader, the writer, the SDF attribute listing and the SDF
// trailer import are all expanded from or walk that one list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

enum class FieldType : std::uint8_t { U32, I32, I16, F32, TEXT, RAW };
enum class ByteOrder : std::uint8_t { BE, LE, NA };
// How a field is written in the attribute listing: U "%u", D "%d", S quoted
// text, G "%12.10g"; DNZ is D, listed instead of the other field on its line
// when its value is not 0; NONE is not listed.
enum class ListKind : std::uint8_t { NONE, U, D, S, G, DNZ };

namespace header_detail {
template <FieldType T>
struct Elem;
template <>
struct Elem<FieldType::U32> {
  using type = std::uint32_t;
};
template <>
struct Elem<FieldType::I32> {
  using type = std::int32_t;
};
template <>
struct Elem<FieldType::I16> {
  using type = std::int16_t;
};
template <>
struct Elem<FieldType::F32> {
  using type = float;
};
template <>
struct Elem<FieldType::TEXT> {
  using type = char;
};
template <>
struct Elem<FieldType::RAW> {
  using type = std::uint8_t;
};

template <FieldType T, std::size_t N>
struct Member {
  using type = typename Elem<T>::type[N];
};
// A single number is a plain scalar; texts and byte areas stay arrays.
template <FieldType T>
struct Member<T, 1> {
  using type = typename Elem<T>::type;
};
}  // namespace header_detail

// The header record: every field in file order, each aligned to its natural
// boundary (the file itself is packed). Fields that only the 4096-byte header
// has are 0 after reading an 834-byte header.
struct Header {
#define GROUP_BEGIN(name) struct {
#define GROUP_END(name) \
  }                     \
  name;
#define FIELD(path, member, offset, ftype, count, order, list_pos, list_kind) \
  header_detail::Member<FieldType::ftype, count>::type member;
#include "datafile/header_fields.def"
#undef FIELD
#undef GROUP_BEGIN
#undef GROUP_END
};

// The software-information block (swinfo.type up to the version numbers) and
// the header tail (time_stamp to the end of the record) are handed around as
// byte blocks by the SDF import and export entry points.
inline constexpr std::size_t kHeaderRecordSize = 4116;
inline constexpr std::size_t kSoftwareInfoOffset = 12;
inline constexpr std::size_t kSoftwareInfoSize = 38;
inline constexpr std::size_t kHeaderTailOffset = 80;
inline constexpr std::size_t kHeaderTailSize = 4036;
static_assert(sizeof(Header) == kHeaderRecordSize);
static_assert(offsetof(Header, swinfo) == kSoftwareInfoOffset);
static_assert(offsetof(Header, time_stamp) == kHeaderTailOffset);
static_assert(kHeaderTailOffset + kHeaderTailSize == kHeaderRecordSize);

// File header lengths and magic numbers.
inline constexpr std::size_t kHeaderSizeShort = 834;  // formats 1 and 2
inline constexpr std::size_t kHeaderSizeLong = 4096;  // format 3
inline constexpr std::uint32_t kMagicFormat1 = 0x881B036F;
inline constexpr std::uint32_t kMagicFormat2 = 0x881B0370;
inline constexpr std::uint32_t kMagicFormat3 = 0x881B0371;

// The header length a magic number announces: 834 or 4096 bytes, 0 for a
// value that is no binary data file magic.
constexpr std::size_t header_length_for_magic(std::uint32_t magic) {
  switch (magic) {
    case kMagicFormat1:
    case kMagicFormat2:
      return kHeaderSizeShort;
    case kMagicFormat3:
      return kHeaderSizeLong;
    default:
      return 0;
  }
}

// The file format (1, 2 or 3) that a header with this tail (kHeaderTailSize
// bytes, or nullptr) takes: 3 when any byte from the format-3-only fields on
// is set, else 2 when phase_res is above 1, else 1.
int sdf_header_format(const void* header_tail);

// Sets magic_number, header_format and header_size for `format` (1, 2 or 3).
void set_header_format(Header& header, int format);

struct FieldDesc {
  const char* name;      // attribute name ("swinfo.vers.maj")
  std::uint16_t offset;  // in the file
  FieldType type;
  std::uint16_t count;  // elements, or bytes for TEXT and RAW
  ByteOrder order;
  std::uint16_t list_pos;  // first listing line, 0 when not listed
  ListKind list_kind;
  std::size_t mem_offset;  // in the Header record

  constexpr std::size_t elem_size() const {
    switch (type) {
      case FieldType::U32:
      case FieldType::I32:
      case FieldType::F32:
        return 4;
      case FieldType::I16:
        return 2;
      default:
        return 1;
    }
  }
  constexpr bool is_number() const { return type != FieldType::TEXT && type != FieldType::RAW; }
  // Elements as the listing sees them: numbers one by one, a text as one.
  constexpr std::size_t elements() const { return is_number() ? count : 1; }
  constexpr std::size_t width() const { return elem_size() * count; }
};

inline constexpr FieldDesc kHeaderFields[] = {
#define GROUP_BEGIN(name)
#define GROUP_END(name)
#define FIELD(path, member, offset, ftype, count, order, list_pos, list_kind) \
  {#path,                                                                     \
   offset,                                                                    \
   FieldType::ftype,                                                          \
   count,                                                                     \
   ByteOrder::order,                                                          \
   list_pos,                                                                  \
   ListKind::list_kind,                                                       \
   offsetof(Header, path)},
#include "datafile/header_fields.def"
#undef FIELD
#undef GROUP_BEGIN
#undef GROUP_END
};

inline constexpr std::size_t kHeaderFieldCount = std::size(kHeaderFields);
inline constexpr std::size_t kListingLines = 95;

// Writes the attribute name of element `element` of `field` into `out`
// (at least 64 bytes): the plain name, or "name[ 3]" for array elements.
void header_attr_name(const FieldDesc& field, std::size_t element, char* out, std::size_t size);

// Decodes a packed file header of `length` bytes (834 or 4096) into `header`,
// which the caller has zeroed. Fields beyond `length` are left untouched.
void header_decode(const std::uint8_t* bytes, std::size_t length, Header& header);

// Encodes `header` into a packed file header of `length` bytes.
void header_encode(const Header& header, std::uint8_t* bytes, std::size_t length);

// Address of element `element` of `field` inside `header`.
inline void* header_field_ptr(Header& header, const FieldDesc& field, std::size_t element = 0) {
  return reinterpret_cast<unsigned char*>(&header) + field.mem_offset + element * field.elem_size();
}
inline const void* header_field_ptr(const Header& header, const FieldDesc& field,
                                    std::size_t element = 0) {
  return reinterpret_cast<const unsigned char*>(&header) + field.mem_offset +
         element * field.elem_size();
}

// The field that header line `line` (1..kListingLines) of the attribute
// listing shows for `header`, and which element of it.
struct ListedField {
  const FieldDesc* field;
  std::size_t element;
};
ListedField header_listed_field(const Header& header, std::size_t line);
