#include "cli/driver.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <span>
#include <string>

#include "cli/batch.h"
#include "cli/convert_one.h"
#include "cli/info.h"
#include "errors/errors.h"
#include "platform/directory.h"
#include "platform/file_io.h"
#include "platform/output_file.h"
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
    "tovrel [options] -r source... directory",
    "tovrel [options] --files-from FILE [name...] directory",
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
     "named as the input with the extension .sdf (.x3p with -x);\n"
     "with -r it is made when it is missing"},
    {"source",
     "a folder: every data file below it (known by its first\n"
     "bytes, not its name) goes to the same place below directory"},
};

constexpr HelpRow kHelpOptions[] = {
    {"-b", "write the binary form of SDF (bBCR-1.0), not the ASCII form"},
    {"-f",
     "write the output even if it exists (never over the input itself\n"
     "nor over a binary data file)"},
    {"-x",
     "write an x3p file (ISO 25178-72) instead of SDF: heights as\n"
     "doubles, NaN where there is no measurement (not with -b)"},
    {"-r",
     "convert folder trees: each source's data files into\n"
     "directory, keeping their folders; other files are skipped\n"
     "and counted; links to folders are not followed"},
    {"-u",
     "skip an input whose output exists and is not older than it;\n"
     "replace an older output (as cp -u and make)"},
    {"-q", "print only failures and the summary"},
    {"-0", "the list's names end with NUL instead of a line break"},
    {"--files-from",
     "read more names from the file FILE, one a line (- for\n"
     "standard input); with -r each keeps its folders below\n"
     "directory"},
    {"--report",
     "append a JSON line for each input to FILE as it ends:\n"
     "input, output, status, error, bytes_in, bytes_out, seconds"},
    {"--", "end the options: every later argument is a file name"},
    {"--help", "print this text and exit"},
    {"--version", "print the version and exit"},
};

constexpr const char* kHelpTrailer =
    "Options and file names may come in any order. Of a short option only the\n"
    "letter after the hyphen counts (-fq means -f; write -r -u, not -ru). Messages\n"
    "go to standard error; on a terminal a progress line shows files done, bytes\n"
    "per second and the time left.\n"
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

// Applies the argument rules; false on a bad command line.
// The long options that take the next argument as their file, whatever it
// looks like.
bool takes_value(const CommandArg& arg) {
  return arg.shown == "--files-from" || arg.shown == "--report";
}

bool scan_arguments(const std::vector<CommandArg>& args, Options& opt) {
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const CommandArg& arg = args[i];
    if (!options_ended && arg.shown == "--") {
      // Everything after "--" is a file name, even "-final.dat".
      options_ended = true;
    } else if (!options_ended && takes_value(arg)) {
      // The next argument is the option's file, whatever it looks like.
      if (++i == args.size()) return false;
      (arg.shown == "--report" ? opt.report : opt.files_from) = &args[i];
    } else if (!options_ended && arg.shown.starts_with("--")) {
      return false;
    } else if (!options_ended && !arg.shown.empty() && arg.shown[0] == '-') {
      // Only the letter after the hyphen counts: -f, -fq and -ff all mean -f.
      if (arg.shown.size() < 2) return false;
      switch (arg.shown[1]) {
        case 'f':
          opt.force = true;
          break;
        case 'b':
          opt.binary = true;
          break;
        case 'x':
          opt.x3p = true;
          break;
        case 'r':
          opt.recursive = true;
          break;
        case 'u':
          opt.update = true;
          break;
        case 'q':
          opt.quiet = true;
          break;
        case '0':
          opt.null_names = true;
          break;
        default:
          return false;
      }
    } else {
      opt.names.push_back(&arg);
    }
  }
  // An x3p file has no binary SDF form.
  return opt.names.size() >= (opt.files_from ? 1u : 2u) && !(opt.x3p && opt.binary);
}

}  // namespace

bool is_binary_data_file(const char* name) {
  MeasurementKind kind = MeasurementKind::kSdfAscii;
  return measurement_kind(name, kind) == ERR_NONE && kind == MeasurementKind::kDataFile;
}

void Console::clear_locked() {
  if (shown_ == 0) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(shown_), "");
  shown_ = 0;
}

void Console::write(const std::string& text) {
  if (text.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  clear_locked();
  std::fputs(text.c_str(), stderr);
  if (!line_.empty()) {
    std::fputs(line_.c_str(), stderr);
    shown_ = line_.size();
  }
  std::fflush(stderr);
}

void Console::status(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The new line written over the old one, padded where it is shorter.
  const std::size_t old = shown_;
  line_ = line;
  if (line.empty()) {
    clear_locked();
  } else {
    std::fprintf(stderr, "\r%s%*s", line.c_str(),
                 static_cast<int>(old > line.size() ? old - line.size() : 0), "");
    if (old > line.size()) std::fprintf(stderr, "\r%s", line.c_str());
    shown_ = line.size();
  }
  std::fflush(stderr);
}

void Messages::print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(n));
  }
  va_end(args);
  if (keep_)
    text_ += text;
  else
    console_.write(text);
}

int convert_one(const CommandArg& input, const CommandArg& output, const Options& opt, Messages& m,
                FileResult& result, std::atomic<std::int64_t>* progress, const EntryInfo* known) {
  const char* in = input.value.c_str();
  const char* out = output.value.c_str();
  auto unable = [&] {
    m.print("Unable to convert \"%s\" to \"%s\" because...\n", input.shown.c_str(),
            output.shown.c_str());
  };
  auto fail = [&](int status, const char* error) {
    result.status = status;
    result.error = error;
    return status;
  };
  const EntryInfo source = known ? *known : u_entry_info(in);
  if (source.kind != EntryKind::kFile) {
    unable();
    m.print("\t\"%s\" does not exist\n", input.shown.c_str());
    return fail(EXIT_NO_INPUT, "does not exist");
  }
  const EntryInfo target = u_entry_info(out);
  const bool exists = target.kind == EntryKind::kFile;
  // -u, as make and cp -u: an output not older than its input is left alone;
  // an older one is replaced.
  if (exists && opt.update && target.mtime >= source.mtime && !u_same_file(in, out)) {
    if (!opt.quiet) m.print("\"%s\" is up to date\n", output.shown.c_str());
    result.up_to_date = true;
    return EXIT_CONVERTED;
  }
  const bool replace = opt.force || opt.update;
  if (exists) {
    // Writing over the input itself would destroy it before it is read
    // through, and -f never replaces a measurement: a stray name from a
    // wildcard must not cost one.
    const char* why = !replace                   ? "already exists"
                      : u_same_file(in, out)     ? "is the input file"
                      : is_binary_data_file(out) ? "is a binary data file, which -f never replaces"
                                                 : nullptr;
    if (why) {
      unable();
      m.print("\t\"%s\" %s\n", output.shown.c_str(), why);
      return fail(EXIT_OUTPUT_EXISTS, why);
    }
  }

  if (!opt.quiet)
    m.print("Converting \"%s\" to \"%s\"\n", input.shown.c_str(), output.shown.c_str());
  // -u replaces only what it found older; a name taken meanwhile is left
  // alone, as without -f.
  const OutputMode mode =
      opt.force || (opt.update && exists) ? OutputMode::kReplace : OutputMode::kCreateNew;
  // Streamed: constant memory, the values formatted on every processor.
  ConvertStage stage = ConvertStage::kNone;
  const std::int32_t err =
      opt.x3p ? convert_data_file_to_x3p(in, out, mode, &stage, opt.format_threads)
              : convert_data_file(in, out, mode, &stage, opt.format_threads,
                                  opt.binary ? SdfForm::kBinary : SdfForm::kAscii, progress);
  if (err != ERR_NONE) {
    if (opt.quiet)
      m.print("Converting \"%s\" to \"%s\"\n", input.shown.c_str(), output.shown.c_str());
    unable();
    if (stage == ConvertStage::kRead) {
      m.print("\tthere was an error reading the file \"%s\"\n", input.shown.c_str());
      m.print("\t%s\n", error_name(err));
      return fail(EXIT_READ_FAILED, error_name(err));
    }
    if (stage == ConvertStage::kTaken) {
      // Another program made the file while this one was converting.
      m.print("\t\"%s\" already exists\n", output.shown.c_str());
      return fail(EXIT_OUTPUT_EXISTS, "already exists");
    }
    m.print("\tthere was an error writing to the file \"%s\"\n", output.shown.c_str());
    m.print("\t%s\n", error_name(err));
    return fail(EXIT_WRITE_FAILED, error_name(err));
  }
  if (!opt.quiet)
    m.print("Conversion from \"%s\" to \"%s\" successful\n", input.shown.c_str(),
            output.shown.c_str());
  if (opt.report) result.bytes_out = u_entry_info(out).size;
  return EXIT_CONVERTED;
}

bool file_exists(const char* name) { return u_is_regular_file(name); }

int run_tovrel(const std::vector<CommandArg>& args, bool terminal) {
  // --help or --version anywhere before "--" answers the request, whatever
  // else the command line holds; the first of the two wins. An option's file
  // is a file name, even "--help".
  for (std::size_t i = 0; i < args.size(); ++i) {
    const CommandArg& arg = args[i];
    if (arg.shown == "--") break;
    if (takes_value(arg)) {
      ++i;
    } else if (arg.shown == "--help" || arg.shown == "--version") {
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
  opt.terminal = terminal && !opt.quiet;
  // SOURCE... DIRECTORY (-r), a list, or INPUT... DIRECTORY, as cp takes
  // them; otherwise exactly one input and one output.
  if (opt.recursive || opt.files_from || u_is_directory(opt.names.back()->value.c_str()))
    return convert_many(opt);
  if (opt.names.size() != 2) {
    print_usage();
    return EXIT_USAGE;
  }
  return convert_single(opt);
}
