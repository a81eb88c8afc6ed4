#include "sdf/attributes.h"

#include <cstdint>
#include <cstring>

#include "sdf/text_out.h"

namespace {

template <class T>
T load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The longest listing line: a 64-byte name, a 200-byte text with its
// quotes, and the line feed.
constexpr std::size_t kLineSize = 512;

// One listing line for element `element` of `field`, into `line` (room for
// kLineSize bytes); returns its length. Nothing is allocated, and a full
// text array without a NUL is never read past.
std::size_t format_line(char* line, const Header& header, const FieldDesc& field,
                        std::size_t element) {
  char name[64];
  header_attr_name(field, element, name, sizeof name);
  const void* p = header_field_ptr(header, field, element);
  int n = -1;
  switch (field.list_kind) {
    case ListKind::U:
      n = std::snprintf(line, kLineSize, "%s=%u\n", name,
                        static_cast<unsigned>(load<std::uint32_t>(p)));
      break;
    case ListKind::D:
    case ListKind::DNZ:
      n = std::snprintf(line, kLineSize, "%s=%d\n", name,
                        field.elem_size() == 2 ? static_cast<int>(load<std::int16_t>(p))
                                               : static_cast<int>(load<std::int32_t>(p)));
      break;
    case ListKind::G: {
      char text[kFloatTextSize];
      n = std::snprintf(line, kLineSize, "%s=%s\n", name, format_float_g(load<float>(p), text));
      break;
    }
    case ListKind::S: {
      const auto* text = static_cast<const char*>(p);
      n = std::snprintf(line, kLineSize, "%s=\"", name);
      for (std::size_t i = 0; i < field.width() && text[i] != '\0'; ++i)
        line[n++] = listed_char(text[i]);
      line[n++] = '"';
      line[n++] = '\n';
      break;
    }
    case ListKind::NONE:
      break;
  }
  return n < 0 ? 0 : static_cast<std::size_t>(n);
}

}  // namespace

std::string listed_text(const char* text, std::size_t width) {
  std::string out;
  for (std::size_t i = 0; i < width && text[i] != '\0'; ++i) out += listed_char(text[i]);
  return out;
}

std::string header_attributes_text(const Header& header) {
  std::string text;
  char line[kLineSize];
  for (std::size_t n = 1; n <= kListingLines; ++n) {
    const ListedField lf = header_listed_field(header, n);
    text.append(line, format_line(line, header, *lf.field, lf.element));
  }
  return text;
}

int write_header_attributes(std::FILE* stream, const Header* header) {
  int result = 0;
  char line[kLineSize];
  for (std::size_t n = 1; n <= kListingLines; ++n) {
    const ListedField lf = header_listed_field(*header, n);
    const std::size_t length = format_line(line, *header, *lf.field, lf.element);
    result = std::fwrite(line, 1, length, stream) == length ? static_cast<int>(length) : -1;
  }
  return result;
}
