// Program entry of tovrel-info.
//
// Windows: the file name is taken as UTF-16 and reaches the library as a
// UTF-16 path behind the byte-order mark. Elsewhere the name's own bytes.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/info.h"
#include "platform/command_args.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
  std::vector<CommandArg> args;
#ifdef _WIN32
  for (int i = 1; i < argc; ++i)
    args.push_back({u_path_from_arg(argv[i]), u_text_from_arg(argv[i])});
#else
  for (int i = 1; i < argc; ++i) args.push_back({u_path_from_arg(argv[i]), argv[i]});
#endif
  return run_tovrel_info(args, stdout, stderr);
}
