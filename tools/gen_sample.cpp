// tovrel-gen: writes a synthetic measurement as a binary data file.
//
//   tovrel-gen [-3|-2|-1] [-w WIDTH] [-h HEIGHT] [-s SEED] [-n] output.dat
//
// -1, -2, -3 choose the file format (default 1), -n leaves out the intensity
// block.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "datafile/data_writer.h"
#include "errors/errors.h"
#include "tools/synthetic.h"

int main(int argc, char** argv) {
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
    std::fputs("usage: tovrel-gen [-1|-2|-3] [-w WIDTH] [-h HEIGHT] [-s SEED] [-n] output.dat\n",
               stderr);
    return 1;
  }
  Header header;
  IntensityRecord intensity;
  PhaseRecord phase;
  make_synthetic(opt, &header, &intensity, &phase);
  if (std::int32_t err = write_data_file(out, header, &intensity, &phase)) {
    std::fprintf(stderr, "tovrel-gen: cannot write \"%s\": %s\n", out, error_name(err));
    return 1;
  }
  return 0;
}
