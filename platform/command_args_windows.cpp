#include "platform/command_args.h"
#include "platform/file_io.h"
#include "platform/windows_api.h"

std::string u_path_from_arg(const wchar_t* arg) {
  std::string out = "\xFF\xFE";
  for (const wchar_t* p = arg; *p; ++p) {
    auto unit = static_cast<unsigned>(*p);
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  out.append(2, '\0');
  return out;
}

std::string u_text_from_arg(const wchar_t* arg) {
  int n = WideCharToMultiByte(CP_UTF8, 0, arg, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, arg, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

std::string u_path_from_text(const std::string& text) { return u_wide_path_from_utf8(text); }
