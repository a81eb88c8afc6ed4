#include "cli/driver.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "datafile/reader.h"
#include "errors/errors.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "platform/output_file.h"
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
  bool options_ended = false;
  for (const CommandArg& arg : args) {
    if (!options_ended && arg.shown == "--") {
      // Everything after "--" is a file name, even "-final.dat".
      options_ended = true;
    } else if (!options_ended && !arg.shown.empty() && arg.shown[0] == '-') {
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

// True when the file starts with the magic number of a binary data file.
bool is_binary_data_file(const char* name) {
  File f(u_fopen(name, "rb"));
  std::uint8_t head[4];
  return f && std::fread(head, 1, 4, f.get()) == 4 && header_length_for_magic(load_be32(head)) != 0;
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
  if (file_exists(out)) {
    // Writing over the input itself would destroy it before it is read
    // through, and -f never replaces a measurement: a stray name from a
    // wildcard must not cost one.
    const char* why = !opt.force                 ? "already exists"
                      : u_same_file(in, out)     ? "is the input file"
                      : is_binary_data_file(out) ? "is a binary data file, which -f never replaces"
                                                 : nullptr;
    if (why) {
      print_unable(opt);
      std::fprintf(stderr, "\t\"%s\" %s\n", opt.output->shown.c_str(), why);
      return EXIT_OUTPUT_EXISTS;
    }
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
  const OutputMode mode = opt.force ? OutputMode::kReplace : OutputMode::kCreateNew;
  if (std::int32_t err = sdf_export(out, &header, &intensity, &phase, mode)) {
    print_unable(opt);
    if (err == ERR_CANT_CREATE_FILE && errno == EEXIST && !opt.force) {
      // Another program made the file while this one was converting.
      std::fprintf(stderr, "\t\"%s\" already exists\n", opt.output->shown.c_str());
      return EXIT_OUTPUT_EXISTS;
    }
    std::fprintf(stderr, "\tthere was an error writing to the file \"%s\"\n",
                 opt.output->shown.c_str());
    std::fprintf(stderr, "\t%s\n", error_name(err));
    return EXIT_WRITE_FAILED;
  }
  std::fprintf(stderr, "Conversion from \"%s\" to \"%s\" successful\n", opt.input->shown.c_str(),
               opt.output->shown.c_str());
  return EXIT_CONVERTED;
}
