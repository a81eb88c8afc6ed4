#include "cli/info.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include "datafile/reader.h"
#include "errors/errors.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "sdf/attributes.h"
#include "sdf/sdf_import.h"
#include "sdf/sdf_writer.h"
#include "sdf/text_out.h"

namespace {

// Tells the kind of file from its first bytes: a data file's magic number, or
// an SDF version text, whose first letter is 'a' in the ASCII form.
std::int32_t file_kind(const char* path, MeasurementKind& kind) {
  File f(u_fopen(path, "rb"));
  if (!f) return ERR_CANT_OPEN_FILE;
  std::uint8_t head[4] = {};
  std::size_t n = std::fread(head, 1, sizeof head, f.get());
  if (n == 4) {
    if (header_length_for_magic(load_be32(head)) != 0) {
      kind = MeasurementKind::kDataFile;
      return ERR_NONE;
    }
  }
  if (n == 0) return ERR_PREMATURE_EOF;
  char c = static_cast<char>(head[0]);
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
    kind = c == 'a' || c == 'A' ? MeasurementKind::kSdfAscii : MeasurementKind::kSdfBinary;
    return ERR_NONE;
  }
  return ERR_NOT_A_DATA_FILE;
}

// A floating value with ten significant digits ("%.10g" in the C locale,
// whatever the process locale).
std::string float_text(double value) {
  char text[64];
  auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 10);
  return std::string(text, r.ptr);
}

}  // namespace

std::int32_t load_measurement(const char* path, Header* header, PhaseRecord* phase,
                              MeasurementKind* kind_out) {
  MeasurementKind kind = MeasurementKind::kDataFile;
  if (std::int32_t err = file_kind(path, kind)) return err;
  if (kind_out) *kind_out = kind;
  if (kind != MeasurementKind::kDataFile) return read_sdf_header(path, header, phase);
  // The intensity block is read (and dropped) so that a data file passes
  // exactly the checks a conversion makes.
  Header h{};
  IntensityRecord intensity;
  PhaseRecord p;
  if (std::int32_t err = read_data_file(path, &h, &intensity, &p)) return err;
  *header = h;
  *phase = std::move(p);
  return ERR_NONE;
}

PhaseSummary summarize_phase(const Header& header, const PhaseRecord& phase) {
  PhaseSummary s;
  s.width = phase.width;
  s.height = phase.height;
  s.step = sdf_height_step(header);
  for (std::int32_t i = 0; phase.data && i < phase.count; ++i) {
    std::int32_t v = phase.data[i];
    if (v >= kInvalidPhase) continue;
    if (s.valid == 0 || v < s.smallest) s.smallest = v;
    if (s.valid == 0 || v > s.largest) s.largest = v;
    ++s.valid;
  }
  return s;
}

bool write_measurement_info(std::FILE* out, const Header& header, const PhaseRecord& phase) {
  // Every write below is judged by the stream's error flag at the end.
  static_cast<void>(write_header_attributes(out, &header));
  PhaseSummary s = summarize_phase(header, phase);
  std::fprintf(out, "\nphase data\n");
  std::fprintf(out, "  width:        %d\n", int{s.width});
  std::fprintf(out, "  height:       %d\n", int{s.height});
  std::fprintf(out, "  valid points: %lld\n", static_cast<long long>(s.valid));
  if (s.valid == 0) {
    std::fprintf(out, "  smallest:     none\n  largest:      none\n");
  } else {
    std::fprintf(out, "  smallest:     %d counts = %s m\n", int{s.smallest},
                 float_text(s.smallest * s.step).c_str());
    std::fprintf(out, "  largest:      %d counts = %s m\n", int{s.largest},
                 float_text(s.largest * s.step).c_str());
  }
  return std::fflush(out) == 0 && !std::ferror(out);
}

int run_tovrel_info(const std::vector<CommandArg>& args, std::FILE* out, std::FILE* err) {
  static const char kUsage[] =
      "Usage:  tovrel-info [--json] file\n"
      "\tfile   = binary data file or SDF file (ASCII or binary)\n"
      "\t--json   writes the same content as one JSON document\n";
  if (args.size() == 1 && (args[0].shown == "--help" || args[0].shown == "--version")) {
    std::fputs(args[0].shown == "--help" ? kUsage : "tovrel-info " TOVREL_VERSION "\n", out);
    return std::fflush(out) == 0 && !std::ferror(out) ? INFO_OK : INFO_WRITE_FAILED;
  }
  // --json FILE: the same content as one JSON document.
  const bool json = args.size() == 2 && args[0].shown == "--json";
  const CommandArg* file = json ? &args[1] : args.size() == 1 ? &args[0] : nullptr;
  if (!file || file->value.empty()) {
    std::fputs(kUsage, err);
    return INFO_USAGE;
  }
  Header header{};
  PhaseRecord phase;
  MeasurementKind kind = MeasurementKind::kDataFile;
  errno = 0;
  if (std::int32_t code = load_measurement(file->value.c_str(), &header, &phase, &kind)) {
    const int reason = errno;
    std::fprintf(err, "tovrel-info: \"%s\": %s", file->shown.c_str(), error_name(code));
    if (code == ERR_CANT_OPEN_FILE && reason != 0)
      std::fprintf(err, " (%s)", std::strerror(reason));
    std::fputs("\n", err);
    return INFO_READ_FAILED;
  }
  const bool written = json ? write_measurement_json(out, file->shown, kind, header, phase)
                            : write_measurement_info(out, header, phase);
  return written ? INFO_OK : INFO_WRITE_FAILED;
}
