#include "platform/file_io.h"

#include <cerrno>
#include <new>
#include <string_view>

#include "platform/file_io_native.h"

std::u16string u_wide_units(const char* path) {
  const auto* b = reinterpret_cast<const unsigned char*>(path);
  bool big_endian = b[0] == 0xFE;  // mark 0xFFFE: units stored high byte first
  std::u16string units;
  for (const unsigned char* p = b + 2;; p += 2) {
    char16_t u = big_endian ? static_cast<char16_t>((p[0] << 8) | p[1])
                            : static_cast<char16_t>(p[0] | (p[1] << 8));
    if (u == 0) break;
    units.push_back(u);
  }
  return units;
}

bool u_path_is_wide(const char* path) {
  if (!path || path[0] == '\0') return false;
  const auto* b = reinterpret_cast<const unsigned char*>(path);
  unsigned unit = b[0] | (b[1] << 8);
  return unit == 0xFEFF || unit == 0xFFFE;
}

std::string u_path_copy(const char* path) {
  if (!path) return {};
  if (!u_path_is_wide(path)) return path;
  std::size_t n = 2;
  while (path[n] != '\0' || path[n + 1] != '\0') n += 2;
  return std::string(path, n + 2);
}

bool u_path_is_empty(const char* path) {
  return !path || path[0] == '\0' || (u_path_is_wide(path) && path[2] == '\0' && path[3] == '\0');
}

void u_append_utf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string u_wide_path_from_utf8(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  auto put = [&out](std::uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  std::size_t n = utf8.size();
  for (std::size_t i = 0; i < n;) {
    std::uint32_t c = s[i];
    std::size_t len = c < 0x80           ? 1
                      : (c >> 5) == 0x6  ? 2
                      : (c >> 4) == 0xE  ? 3
                      : (c >> 3) == 0x1E ? 4
                                         : 0;
    if (len == 0 || i + len > n) return {};
    if (len > 1) {
      c &= 0x7F >> len;
      for (std::size_t k = 1; k < len; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) return {};
        c = (c << 6) | (s[i + k] & 0x3F);
      }
      static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
      if (c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {};
    }
    if (c == 0) return {};
    if (c >= 0x10000) {
      c -= 0x10000;
      put(0xD800 + (c >> 10));
      put(0xDC00 + (c & 0x3FF));
    } else {
      put(c);
    }
    i += len;
  }
  out += std::string(2, '\0');
  return out;
}

std::FILE* u_fopen(const char* path, const char* mode) {
  if (u_path_is_empty(path)) {
    errno = ENOENT;
    return nullptr;
  }
  // Converting the name takes memory; running out of it is a failure to
  // open (errno ENOMEM), never an exception out of the library.
  try {
    return u_native_fopen(path, mode);
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
}

bool u_is_regular_file(const char* path) {
  // Out of memory for the converted name: not known to be a file.
  if (u_path_is_empty(path)) return false;
  try {
    return u_native_is_regular_file(path);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool u_is_directory(const char* path) {
  if (u_path_is_empty(path)) return false;
  try {
    return u_native_is_directory(path);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

namespace {

#ifdef _WIN32
constexpr std::u16string_view kSeparators = u"/\\:";
#else
constexpr std::u16string_view kSeparators = u"/";
#endif

// A path as 16-bit units: a wide path's own, an 8-bit path's bytes widened.
std::u16string path_units(const char* path) {
  if (u_path_is_wide(path)) return u_wide_units(path);
  std::u16string units;
  for (const char* p = path; *p; ++p)
    units += static_cast<char16_t>(static_cast<unsigned char>(*p));
  return units;
}

}  // namespace

std::string u_path_in_directory(const char* dir, const char* file, const char* extension) {
  std::u16string d = path_units(dir), f = path_units(file), name;
  const std::size_t cut = f.find_last_of(kSeparators);
  name = cut == std::u16string::npos ? f : f.substr(cut + 1);
  const std::size_t dot = name.rfind(u'.');
  if (dot != std::u16string::npos && dot > 0) name.resize(dot);
  for (const char* p = extension; *p; ++p) name += static_cast<char16_t>(*p);
  if (!d.empty() && kSeparators.find(d.back()) == std::u16string_view::npos) d += u'/';
  const std::u16string joined = d + name;
  std::string out;
  const bool wide = u_path_is_wide(dir) || u_path_is_wide(file);
  if (wide) out = "\xFF\xFE";
  for (char16_t u : joined) {
    out += static_cast<char>(u & 0xFF);
    if (wide) out += static_cast<char>(u >> 8);
  }
  if (wide) out.append(2, '\0');
  return out;
}

bool u_same_file(const char* a, const char* b) {
  // Out of memory for the converted names: not known to be the same file.
  if (u_path_is_empty(a) || u_path_is_empty(b)) return false;
  try {
    return u_native_same_file(a, b);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::string u_path_join(const char* dir, const std::string& name) {
  if (!u_path_is_wide(dir)) {
    std::string out = dir;
    if (!out.empty() &&
        kSeparators.find(static_cast<unsigned char>(out.back())) == std::u16string_view::npos)
      out += '/';
    return out + name;
  }
  const std::string tail = u_wide_path_from_utf8(name);
  if (tail.empty()) return {};
  std::u16string d = u_wide_units(dir);
  if (!d.empty() && kSeparators.find(d.back()) == std::u16string_view::npos) d += u'/';
  std::string out = "\xFF\xFE";
  for (char16_t u : d) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out + tail.substr(2);  // the name's units and the ending 0
}
