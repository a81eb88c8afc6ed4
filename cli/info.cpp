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
  if (x3p_magic(head, n)) {
    kind = MeasurementKind::kX3p;
    return ERR_NONE;
  }
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
  if (kind == MeasurementKind::kX3p) return ERR_NOT_A_DATA_FILE;
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

namespace {

const char* axis_text(const X3pAxis& a, char* text, std::size_t size) {
  std::snprintf(text, size, "%s %s, increment %s, offset %s", a.axis_type.c_str(),
                a.data_type.empty() ? "-" : a.data_type.c_str(), float_text(a.increment).c_str(),
                float_text(a.offset).c_str());
  return text;
}

// Warnings for sums that disagree: the data is listed all the same.
void warn_sums(std::FILE* err, const std::string& name, const X3pContent& x) {
  auto warn = [&](SumCheck check, const char* what) {
    if (check == SumCheck::kDiffers)
      std::fprintf(err, "tovrel-info: \"%s\": warning: %s\n", name.c_str(), what);
  };
  warn(x.sums.main_xml, "the MD5 sum in md5checksum.hex is not the sum of main.xml");
  warn(x.sums.point_data, "MD5ChecksumPointData in main.xml is not the sum of the point data");
  warn(x.sums.valid_points,
       "MD5ChecksumValidPoints in main.xml is not the sum of the validity array");
}

}  // namespace

bool write_x3p_info(std::FILE* out, const X3pContent& x) {
  const X3pRecords& r = x.records;
  char text[256];
  auto line = [out](const char* name, const std::string& value) {
    std::fprintf(out, "  %-17s %s\n", name, value.c_str());
  };
  std::fprintf(out, "x3p records\n");
  line("Revision:", r.revision);
  line("FeatureType:", r.feature_type);
  line("CX:", axis_text(r.x, text, sizeof text));
  line("CY:", axis_text(r.y, text, sizeof text));
  line("CZ:", axis_text(r.z, text, sizeof text));
  if (r.has_record2) {
    line("Date:", r.date);
    line("Creator:", r.creator);
    line("Manufacturer:", r.manufacturer);
    line("Model:", r.model);
    line("Serial:", r.serial);
    line("Version:", r.version);
    line("CalibrationDate:", r.calibration_date);
    line("ProbingSystem:", r.probing_type + (r.probing_id.empty() ? "" : ", " + r.probing_id));
    line("Comment:", r.comment);
  }
  std::snprintf(text, sizeof text, "%llu x %llu x %llu", static_cast<unsigned long long>(r.size_x),
                static_cast<unsigned long long>(r.size_y),
                static_cast<unsigned long long>(r.size_z));
  line("MatrixDimension:", text);
  line("PointDataLink:", r.inline_data ? "(DataList in main.xml)" : r.point_data_link);
  if (!r.valid_points_link.empty()) line("ValidPointsLink:", r.valid_points_link);
  line("ChecksumFile:", r.checksum_file);
  for (const std::string& id : r.vendor_ids) line("VendorSpecificID:", id);
  std::fputs("\n", out);
  if (x.has_attributes) return write_measurement_info(out, x.header, x.phase);
  const HeightSummary& h = x.heights;
  std::fprintf(out, "height data\n");
  std::fprintf(out, "  width:        %llu\n", static_cast<unsigned long long>(r.size_x));
  std::fprintf(out, "  height:       %llu\n", static_cast<unsigned long long>(r.size_y));
  std::fprintf(out, "  valid points: %llu\n", static_cast<unsigned long long>(h.valid));
  if (h.valid == 0) {
    std::fprintf(out, "  smallest:     none\n  largest:      none\n");
  } else {
    std::fprintf(out, "  smallest:     %s m\n", float_text(h.smallest).c_str());
    std::fprintf(out, "  largest:      %s m\n", float_text(h.largest).c_str());
  }
  return std::fflush(out) == 0 && !std::ferror(out);
}

int run_tovrel_info(const std::vector<CommandArg>& args, std::FILE* out, std::FILE* err) {
  static const char kUsage[] =
      "Usage:  tovrel-info [--json] file\n"
      "\tfile   = binary data file, SDF file (ASCII or binary) or x3p file\n"
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
  std::int32_t code = load_measurement(file->value.c_str(), &header, &phase, &kind);
  X3pContent x3p;
  if (kind == MeasurementKind::kX3p) {
    errno = 0;
    code = read_x3p_file(file->value.c_str(), x3p);
  }
  if (code) {
    const int reason = errno;
    std::fprintf(err, "tovrel-info: \"%s\": %s", file->shown.c_str(), error_name(code));
    if (code == ERR_CANT_OPEN_FILE && reason != 0)
      std::fprintf(err, " (%s)", std::strerror(reason));
    std::fputs("\n", err);
    return INFO_READ_FAILED;
  }
  if (kind == MeasurementKind::kX3p) {
    warn_sums(err, file->shown, x3p);
    const bool written = json ? write_x3p_json(out, file->shown, x3p) : write_x3p_info(out, x3p);
    return written ? INFO_OK : INFO_WRITE_FAILED;
  }
  const bool written = json ? write_measurement_json(out, file->shown, kind, header, phase)
                            : write_measurement_info(out, header, phase);
  return written ? INFO_OK : INFO_WRITE_FAILED;
}
