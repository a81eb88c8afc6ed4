// tovrel-gen: writes a synthetic measurement as a binary data file.
//
//   tovrel-gen [-3|-2|-1] [-w WIDTH] [-h HEIGHT] [-s SEED] [-n] output.dat
//
// -1, -2, -3 choose the file format (default 1), -n leaves out the intensity
// block. The file is written row by row, so any size the format allows
// (32767 x 32767) takes only a few megabytes of memory.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "errors/errors.h"
#include "tools/synthetic.h"

int main(int argc, char** argv) {
  static const char kUsage[] =
      "usage: tovrel-gen [-1|-2|-3] [-w WIDTH] [-h HEIGHT] [-s SEED] [-n] output.dat\n"
      "       tovrel-gen --help | --version\n";
  // --help and --version only as the one argument: -h is the height.
  if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "--version"))) {
    std::fputs(argv[1][2] == 'h' ? kUsage : "tovrel-gen " TOVREL_VERSION "\n", stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  SyntheticOptions opt;
  const char* out = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    auto next_int = [&](int lo, int hi) {
      if (i + 1 >= argc) return -1;
      long v = std::strtol(argv[++i], nullptr, 10);
      return v < lo || v > hi ? -1 : static_cast<int>(v);
    };
    if (!std::strcmp(a, "-1") || !std::strcmp(a, "-2") || !std::strcmp(a, "-3")) {
      opt.format = a[1] - '0';
    } else if (!std::strcmp(a, "-n")) {
      opt.intensity = false;
    } else if (!std::strcmp(a, "-w") || !std::strcmp(a, "-h")) {
      int v = next_int(1, 32767);
      if (v < 0)
        out = nullptr, i = argc;
      else
        (a[1] == 'w' ? opt.width : opt.height) = static_cast<std::int16_t>(v);
    } else if (!std::strcmp(a, "-s")) {
      int v = next_int(0, 1 << 30);
      if (v >= 0) opt.seed = static_cast<std::uint32_t>(v);
    } else if (a[0] != '-' && !out) {
      out = a;
    } else {
      out = nullptr;
      break;
    }
  }
  if (!out) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  if (std::int32_t err = write_synthetic_file(opt, out)) {
    std::fprintf(stderr, "tovrel-gen: cannot write \"%s\": %s\n", out, error_name(err));
    return 1;
  }
  return 0;
}
