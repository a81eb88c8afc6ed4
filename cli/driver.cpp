#include "cli/driver.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <span>
#include <string>

#include "datafile/reader.h"
#include "errors/errors.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "platform/output_file.h"
#include "platform/threads.h"
#include "sdf/sdf_convert.h"
#include "x3p/x3p_writer.h"

namespace {

void print_usage() {
  std::fputs("\nUsage:  tovrel [options] input output\n", stderr);
  std::fputs("\tinput  = existing Vexa binary data file\n", stderr);
  std::fputs("\toutput = SDF ascii data file to create\n", stderr);
  std::fputs("\n\tOptions:\n", stderr);
  std::fputs("\t\t-f\twrites output even if file already exists\n", stderr);
}

// --help: every form of the command line, what its names mean and every
// option, one row each. An option that scan_arguments learns gets its row in
// kHelpOptions; a row's text may run over several lines ('\n').
constexpr const char* kHelpForms[] = {
    "tovrel [options] input output",
    "tovrel [options] input... directory",
    "tovrel --help | --version",
};

struct HelpRow {
  const char* name;
  const char* text;
};

constexpr HelpRow kHelpNames[] = {
    {"input", "an existing binary data file"},
    {"output", "the SDF file (or x3p file, with -x) to create"},
    {"directory",
     "an existing directory: every input is converted into it,\n"
     "named as the input with the extension .sdf (.x3p with -x)"},
};

constexpr HelpRow kHelpOptions[] = {
    {"-b", "write the binary form of SDF (bBCR-1.0) instead of the ASCII form"},
    {"-f",
     "write the output even if it exists (never over the input itself\n"
     "nor over a binary data file)"},
    {"-x",
     "write an x3p file (ISO 25178-72) instead of SDF: heights as\n"
     "doubles, NaN where there is no measurement (not with -b)"},
    {"--", "end the options: every later argument is a file name"},
    {"--help", "print this text and exit"},
    {"--version", "print the version and exit"},
};

constexpr const char* kHelpTrailer =
    "Options and file names may come in any order. Of a short option only the\n"
    "letter after the hyphen counts (-fq means -f). Messages go to standard error.\n"
    "\n"
    "Exit status: 0 converted, 1 bad command line, 2 the input is not an existing\n"
    "file, 3 the output exists (without -f) or may not be replaced, 4 the input\n"
    "could not be read, 5 the output could not be written.\n";

void print_help_rows(std::FILE* out, std::span<const HelpRow> rows, int width) {
  for (const HelpRow& row : rows) {
    std::fprintf(out, "  %-*s", width, row.name);
    for (const char* line = row.text;;) {
      const char* end = std::strchr(line, '\n');
      std::fprintf(out, "  %.*s\n", static_cast<int>(end ? end - line : std::strlen(line)), line);
      if (!end) break;
      line = end + 1;
      std::fprintf(out, "  %-*s", width, "");
    }
  }
}

void print_help(std::FILE* out) {
  // One column for the names of both tables: the longest name sets it.
  int width = 0;
  for (const HelpRow& row : kHelpNames)
    width = std::max(width, static_cast<int>(std::strlen(row.name)));
  for (const HelpRow& row : kHelpOptions)
    width = std::max(width, static_cast<int>(std::strlen(row.name)));
  for (const char* form : kHelpForms)
    std::fprintf(out, "%s%s\n", form == kHelpForms[0] ? "Usage:  " : "        ", form);
  std::fputs("\nConverts a binary data file into an SDF surface data file.\n\n", out);
  print_help_rows(out, kHelpNames, width);
  std::fputs("\nOptions:\n", out);
  print_help_rows(out, kHelpOptions, width);
  std::fprintf(out, "\n%s", kHelpTrailer);
}

struct Options {
  std::vector<const CommandArg*> names;
  bool force = false;
  bool binary = false;
  bool x3p = false;
  // Threads that convert one file (see convert_data_file): one a processor,
  // or only the file's own when several files are converted side by side,
  // one a thread already.
  int format_threads = 0;
};

// Applies the argument rules; false on a bad command line.
bool scan_arguments(const std::vector<CommandArg>& args, Options& opt) {
  bool options_ended = false;
  for (const CommandArg& arg : args) {
    if (!options_ended && arg.shown == "--") {
      // Everything after "--" is a file name, even "-final.dat".
      options_ended = true;
    } else if (!options_ended && !arg.shown.empty() && arg.shown[0] == '-') {
      // Only the letter after the hyphen counts: -f, -fq and -ff all mean -f.
      if (arg.shown.size() < 2) return false;
      if (arg.shown[1] == 'f') {
        opt.force = true;
      } else if (arg.shown[1] == 'b') {
        opt.binary = true;
      } else if (arg.shown[1] == 'x') {
        opt.x3p = true;
      } else {
        return false;
      }
    } else {
      opt.names.push_back(&arg);
    }
  }
  // An x3p file has no binary SDF form.
  return opt.names.size() >= 2 && !(opt.x3p && opt.binary);
}

// True when the file starts with the magic number of a binary data file.
bool is_binary_data_file(const char* name) {
  File f(u_fopen(name, "rb"));
  std::uint8_t head[4];
  return f && std::fread(head, 1, 4, f.get()) == 4 && header_length_for_magic(load_be32(head)) != 0;
}

// The messages of one conversion: straight to standard error, or kept until
// the conversion is done so that files converted side by side never mix
// their lines.
class Messages {
 public:
  explicit Messages(bool keep) : keep_(keep) {}
  void print(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
  {
    va_list args;
    va_start(args, format);
    if (keep_) {
      va_list copy;
      va_copy(copy, args);
      const int n = std::vsnprintf(nullptr, 0, format, copy);
      va_end(copy);
      if (n > 0) {
        const std::size_t at = text_.size();
        text_.resize(at + static_cast<std::size_t>(n) + 1);
        std::vsnprintf(text_.data() + at, static_cast<std::size_t>(n) + 1, format, args);
        text_.resize(at + static_cast<std::size_t>(n));
      }
    } else {
      std::vfprintf(stderr, format, args);
    }
    va_end(args);
  }
  const std::string& text() const { return text_; }

 private:
  bool keep_;
  std::string text_;
};

// Reads `in` and writes it to `out` as SDF, or x3p with -x. `read_failed` tells which side
// an error came from.
std::int32_t convert_file(const char* in, const char* out, OutputMode mode, const Options& opt,
                          bool& read_failed) {
  // Streamed: constant memory, the values formatted on every processor.
  ConvertStage stage = ConvertStage::kNone;
  const std::int32_t err = opt.x3p
                               ? convert_data_file_to_x3p(in, out, mode, &stage, opt.format_threads)
                               : convert_data_file(in, out, mode, &stage, opt.format_threads,
                                                   opt.binary ? SdfForm::kBinary : SdfForm::kAscii);
  read_failed = stage == ConvertStage::kRead;
  return err;
}

// One conversion with its checks and messages; returns the exit status.
int convert_one(const CommandArg& input, const CommandArg& output, const Options& opt,
                Messages& m) {
  const char* in = input.value.c_str();
  const char* out = output.value.c_str();
  auto unable = [&] {
    m.print("Unable to convert \"%s\" to \"%s\" because...\n", input.shown.c_str(),
            output.shown.c_str());
  };
  if (!file_exists(in)) {
    unable();
    m.print("\t\"%s\" does not exist\n", input.shown.c_str());
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
      unable();
      m.print("\t\"%s\" %s\n", output.shown.c_str(), why);
      return EXIT_OUTPUT_EXISTS;
    }
  }

  m.print("Converting \"%s\" to \"%s\"\n", input.shown.c_str(), output.shown.c_str());
  const OutputMode mode = opt.force ? OutputMode::kReplace : OutputMode::kCreateNew;
  bool read_failed = false;
  if (std::int32_t err = convert_file(in, out, mode, opt, read_failed)) {
    unable();
    if (read_failed) {
      m.print("\tthere was an error reading the file \"%s\"\n", input.shown.c_str());
      m.print("\t%s\n", error_name(err));
      return EXIT_READ_FAILED;
    }
    if (err == ERR_CANT_CREATE_FILE && errno == EEXIST && !opt.force) {
      // Another program made the file while this one was converting.
      m.print("\t\"%s\" already exists\n", output.shown.c_str());
      return EXIT_OUTPUT_EXISTS;
    }
    m.print("\tthere was an error writing to the file \"%s\"\n", output.shown.c_str());
    m.print("\t%s\n", error_name(err));
    return EXIT_WRITE_FAILED;
  }
  m.print("Conversion from \"%s\" to \"%s\" successful\n", input.shown.c_str(),
          output.shown.c_str());
  return EXIT_CONVERTED;
}

// Names compared as the file system compares them: Windows ignores case.
std::string name_key(const std::string& shown) {
  std::string key = shown;
#ifdef _WIN32
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
#endif
  return key;
}

// Every input into the directory, as cp does: one file per worker, each
// file's messages whole, a count at the end. The status of the first failure
// (in the order given), or 0 when every file was converted.
int convert_into_directory(const Options& given) {
  const int workers = static_cast<int>(std::min<std::size_t>(
      given.names.size() - 1, static_cast<std::size_t>(u_working_threads(0))));
  Options opt = given;
  if (workers > 1) opt.format_threads = 1;
  const CommandArg& dir = *opt.names.back();
  const std::size_t n = opt.names.size() - 1;
  std::vector<CommandArg> outputs(n);
  std::map<std::string, std::size_t> taken;
  const char* extension = opt.x3p ? ".x3p" : ".sdf";
  for (std::size_t i = 0; i < n; ++i) {
    const CommandArg& in = *opt.names[i];
    outputs[i].value = u_path_in_directory(dir.value.c_str(), in.value.c_str(), extension);
    outputs[i].shown = u_path_in_directory(dir.shown.c_str(), in.shown.c_str(), extension);
    auto [at, fresh] = taken.emplace(name_key(outputs[i].shown), i);
    if (!fresh) {
      std::fprintf(
          stderr, "\"%s\" and \"%s\" would both be converted to \"%s\"; nothing was written\n",
          opt.names[at->second]->shown.c_str(), in.shown.c_str(), outputs[i].shown.c_str());
      return EXIT_OUTPUT_EXISTS;
    }
  }

  std::vector<int> status(n, EXIT_CONVERTED);
  std::atomic<std::size_t> next{0};
  std::mutex print;
  // A thread that cannot be started leaves more files to the others.
  u_run_threads(workers, [&](int) {
    for (std::size_t i; (i = next.fetch_add(1)) < n;) {
      Messages m(true);
      status[i] = convert_one(*opt.names[i], outputs[i], opt, m);
      std::lock_guard<std::mutex> lock(print);
      std::fputs(m.text().c_str(), stderr);
      std::fflush(stderr);
    }
  });

  const auto converted =
      static_cast<std::size_t>(std::count(status.begin(), status.end(), EXIT_CONVERTED));
  std::fprintf(stderr, "Converted %zu of %zu files into \"%s\"\n", converted, n, dir.shown.c_str());
  for (int s : status)
    if (s != EXIT_CONVERTED) return s;
  return EXIT_CONVERTED;
}

}  // namespace

bool file_exists(const char* name) { return u_is_regular_file(name); }

int run_tovrel(const std::vector<CommandArg>& args) {
  // --help or --version anywhere before "--" answers the request, whatever
  // else the command line holds; the first of the two wins.
  for (const CommandArg& arg : args) {
    if (arg.shown == "--") break;
    if (arg.shown == "--help" || arg.shown == "--version") {
      if (arg.shown == "--help")
        print_help(stdout);
      else
        std::fputs("tovrel " TOVREL_VERSION "\n", stdout);
      return std::fflush(stdout) == 0 && !std::ferror(stdout) ? EXIT_CONVERTED : EXIT_WRITE_FAILED;
    }
  }
  Options opt;
  if (!scan_arguments(args, opt)) {
    print_usage();
    return EXIT_USAGE;
  }
  // INPUT... DIRECTORY, as cp takes it; otherwise exactly one input and one
  // output.
  if (u_is_directory(opt.names.back()->value.c_str())) return convert_into_directory(opt);
  if (opt.names.size() != 2) {
    print_usage();
    return EXIT_USAGE;
  }
  Messages direct(false);
  return convert_one(*opt.names[0], *opt.names[1], opt, direct);
}
