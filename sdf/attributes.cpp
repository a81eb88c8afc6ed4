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

// One listing line for element `element` of `field`.
int write_line(std::FILE* stream, const Header& header, const FieldDesc& field,
               std::size_t element) {
  char name[64];
  header_attr_name(field, element, name, sizeof name);
  const void* p = header_field_ptr(header, field, element);
  switch (field.list_kind) {
    case ListKind::U:
      return std::fprintf(stream, "%s=%u\n", name, static_cast<unsigned>(load<std::uint32_t>(p)));
    case ListKind::D:
    case ListKind::DNZ:
      if (field.elem_size() == 2) {
        return std::fprintf(stream, "%s=%d\n", name, static_cast<int>(load<std::int16_t>(p)));
      }
      return std::fprintf(stream, "%s=%d\n", name, static_cast<int>(load<std::int32_t>(p)));
    case ListKind::G: {
      char text[kFloatTextSize];
      return std::fprintf(stream, "%s=%s\n", name, format_float_g(load<float>(p), text));
    }
    case ListKind::S: {
      // Written a character at a time, without taking memory; a full array
      // without a NUL is never read past.
      const auto* text = static_cast<const char*>(p);
      if (std::fprintf(stream, "%s=\"", name) < 0) return -1;
      for (std::size_t i = 0; i < field.width() && text[i] != '\0'; ++i)
        if (std::fputc(listed_char(text[i]), stream) == EOF) return -1;
      return std::fputs("\"\n", stream) < 0 ? -1 : 1;
    }
    case ListKind::NONE:
      break;
  }
  return -1;
}

}  // namespace

std::string listed_text(const char* text, std::size_t width) {
  std::string out;
  for (std::size_t i = 0; i < width && text[i] != '\0'; ++i) out += listed_char(text[i]);
  return out;
}

int write_header_attributes(std::FILE* stream, const Header* header) {
  int result = 0;
  for (std::size_t line = 1; line <= kListingLines; ++line) {
    ListedField lf = header_listed_field(*header, line);
    result = write_line(stream, *header, *lf.field, lf.element);
  }
  return result;
}
