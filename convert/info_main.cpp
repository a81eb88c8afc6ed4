// Program entry of tovrel-info.
//
// Windows: the file name is taken as UTF-16 and reaches the library as a
// UTF-16 path behind the byte-order mark. Elsewhere the name's own bytes.
#include <cstdio>
#include <string>
#include <vector>

#include "convert/info.h"
#include "datafile/file_io.h"

#ifdef _WIN32

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string path = "\xFF\xFE";
    for (const wchar_t* p = argv[i]; *p; ++p) {
      auto unit = static_cast<unsigned>(*p);
      path += static_cast<char>(unit & 0xFF);
      path += static_cast<char>(unit >> 8);
    }
    path.append(2, '\0');
    args.push_back(path);
  }
  return run_tovrel_info(args, stdout, stderr);
}

#else

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string value = argv[i];
    // A name whose first two bytes read as a byte-order mark is an ordinary
    // 8-bit name here: "./" keeps it from being taken for a UTF-16 path.
    if (u_path_is_wide(value.c_str())) value.insert(0, "./");
    args.push_back(value);
  }
  return run_tovrel_info(args, stdout, stderr);
}

#endif
