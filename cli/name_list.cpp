#include "cli/name_list.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "platform/file_io.h"

int read_name_list(const CommandArg& file, bool nul, const std::function<void(std::string)>& take) {
  const bool standard_input = file.shown == "-";
  File owned(standard_input ? nullptr : u_fopen(file.value.c_str(), "rb"));
  std::FILE* f = standard_input ? stdin : owned.get();
  if (!f) return errno ? errno : ENOENT;
#ifdef _WIN32
  if (standard_input) _setmode(_fileno(stdin), _O_BINARY);  // CR LF as it is
#endif
  const char end = nul ? '\0' : '\n';
  std::string name;
  auto finish = [&] {
    if (!nul && !name.empty() && name.back() == '\r') name.pop_back();
    if (!name.empty()) take(std::move(name));
    name.clear();
  };
  int first = std::getc(f), second = first == EOF ? EOF : std::getc(f);
  if ((first == 0xFF && second == 0xFE) || (first == 0xFE && second == 0xFF)) {
    // UTF-16, each unit turned into UTF-8 (a lone surrogate as U+FFFD).
    const bool big = first == 0xFE;
    std::uint32_t high = 0;
    for (;;) {
      const int a = std::getc(f), b = a == EOF ? EOF : std::getc(f);
      if (b == EOF) break;
      std::uint32_t u = big ? (static_cast<unsigned>(a) << 8 | static_cast<unsigned>(b))
                            : (static_cast<unsigned>(b) << 8 | static_cast<unsigned>(a));
      if (u >= 0xD800 && u <= 0xDBFF) {
        if (high) u_append_utf8(name, 0xFFFD);
        high = u;
        continue;
      }
      if (u >= 0xDC00 && u <= 0xDFFF) {
        u = high ? 0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00) : 0xFFFD;
      } else if (high) {
        u_append_utf8(name, 0xFFFD);
      }
      high = 0;
      if (u == static_cast<unsigned char>(end))
        finish();
      else
        u_append_utf8(name, u);
    }
  } else {
    int c = first;
    if (first == 0xEF && second == 0xBB) {
      const int third = std::getc(f);
      if (third != 0xBF) {
        name += '\xEF';
        name += '\xBB';
        c = third;
      } else {
        c = std::getc(f);
      }
    } else if (first != EOF) {
      if (first == end)
        finish();
      else
        name += static_cast<char>(first);
      c = second;
    }
    for (; c != EOF; c = std::getc(f)) {
      if (c == end)
        finish();
      else
        name += static_cast<char>(c);
    }
  }
  if (std::ferror(f)) return EIO;
  finish();
  return 0;
}
