#include "cli/driver.h"

#include <cstdio>

#include "datafile/reader.h"
#include "errors/errors.h"
#include "platform/file_io.h"
#include "sdf/sdf_writer.h"

namespace {

void print_usage() {
  std::fputs("\nUsage:  tovrel [options] input output\n", stderr);
  std::fputs("\tinput  = existing Vexa binary data file\n", stderr);
  std::fputs("\toutput = SDF ascii data file to create\n", stderr);
  std::fputs("\n\tOptions:\n", stderr);
  std::fputs("\t\t-f\twrites output even if file already exists\n", stderr);
}

struct Options {
  const CommandArg* input = nullptr;
  const CommandArg* output = nullptr;
  bool force = false;
};

// Applies the argument rules; false on a bad command line.
bool scan_arguments(const std::vector<CommandArg>& args, Options& opt) {
  if (args.size() < 2) return false;
  for (const CommandArg& arg : args) {
    if (!arg.shown.empty() && arg.shown[0] == '-') {
      // Only the letter after the hyphen counts: -f, -fq and -ff all mean -f.
      if (arg.shown.size() < 2 || arg.shown[1] != 'f') return false;
      opt.force = true;
    } else if (!opt.input) {
      opt.input = &arg;
    } else if (!opt.output) {
      opt.output = &arg;
    } else {
      return false;
    }
  }
  return opt.input && opt.output;
}

void print_unable(const Options& opt) {
  std::fprintf(stderr, "Unable to convert \"%s\" to \"%s\" because...\n", opt.input->shown.c_str(),
               opt.output->shown.c_str());
}

}  // namespace

bool file_exists(const char* name) { return u_is_regular_file(name); }

int run_tovrel(const std::vector<CommandArg>& args) {
  Options opt;
  if (!scan_arguments(args, opt)) {
    print_usage();
    return EXIT_USAGE;
  }
  const char* in = opt.input->value.c_str();
  const char* out = opt.output->value.c_str();
  if (!file_exists(in)) {
    print_unable(opt);
    std::fprintf(stderr, "\t\"%s\" does not exist\n", opt.input->shown.c_str());
    return EXIT_NO_INPUT;
  }
  // Writing over the input itself would destroy it before it is read
  // through, so that counts as an existing output even with -f.
  if (file_exists(out) && (!opt.force || u_same_file(in, out))) {
    print_unable(opt);
    std::fprintf(stderr, "\t\"%s\" already exists\n", opt.output->shown.c_str());
    return EXIT_OUTPUT_EXISTS;
  }

  std::fprintf(stderr, "Converting \"%s\" to \"%s\"\n", opt.input->shown.c_str(),
               opt.output->shown.c_str());
  Header header{};
  IntensityRecord intensity;
  PhaseRecord phase;
  if (std::int32_t err = read_data_file(in, &header, &intensity, &phase)) {
    print_unable(opt);
    std::fprintf(stderr, "\tthere was an error reading the file \"%s\"\n",
                 opt.input->shown.c_str());
    std::fprintf(stderr, "\t%s\n", error_name(err));
    return EXIT_READ_FAILED;
  }
  if (std::int32_t err = sdf_export(out, &header, &intensity, &phase)) {
    print_unable(opt);
    std::fprintf(stderr, "\tthere was an error writing to the file \"%s\"\n",
                 opt.output->shown.c_str());
    std::fprintf(stderr, "\t%s\n", error_name(err));
    return EXIT_WRITE_FAILED;
  }
  std::fprintf(stderr, "Conversion from \"%s\" to \"%s\" successful\n", opt.input->shown.c_str(),
               opt.output->shown.c_str());
  return EXIT_CONVERTED;
}
