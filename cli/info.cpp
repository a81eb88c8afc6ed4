#include "cli/info.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

#include "datafile/reader.h"
#include "errors/errors.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "sdf/attributes.h"
#include "sdf/sdf_import.h"
#include "sdf/sdf_writer.h"
#include "sdf/text_out.h"

// Tells the kind of file from its first bytes: a data file's magic number, or
// an SDF version text, whose first letter is 'a' in the ASCII form.
std::int32_t measurement_kind(const char* path, MeasurementKind& kind) {
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

namespace {

// A floating value with ten significant digits ("%.10g" in the C locale,
// whatever the process locale).
std::string float_text(double value) {
  char text[64];
  auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 10);
  return std::string(text, r.ptr);
}

// The phase summary's lines.
void write_summary(std::FILE* out, const PhaseSummary& s) {
  std::fprintf(out, "\nphase data\n");
  std::fprintf(out, "  width:        %lld\n", static_cast<long long>(s.width));
  std::fprintf(out, "  height:       %lld\n", static_cast<long long>(s.height));
  std::fprintf(out, "  valid points: %lld\n", static_cast<long long>(s.valid));
  if (s.valid == 0) {
    std::fprintf(out, "  smallest:     none\n  largest:      none\n");
  } else if (!s.counted) {
    std::fprintf(out, "  smallest:     %s m\n", float_text(s.smallest_m).c_str());
    std::fprintf(out, "  largest:      %s m\n", float_text(s.largest_m).c_str());
  } else {
    std::fprintf(out, "  smallest:     %d counts = %s m\n", int{s.smallest},
                 float_text(s.smallest_m).c_str());
    std::fprintf(out, "  largest:      %d counts = %s m\n", int{s.largest},
                 float_text(s.largest_m).c_str());
  }
}

void write_parameters(std::FILE* out, const surface::HeightParameters& p) {
  std::fprintf(out,
               "\nheight parameters (ISO 25178-2; least-squares plane removed; %llu valid "
               "points)\n",
               static_cast<unsigned long long>(p.valid));
  auto line = [out](const char* name, bool defined, double value, const char* unit) {
    if (defined)
      std::fprintf(out, "  %-13s %s%s\n", name, float_text(value).c_str(), unit);
    else
      std::fprintf(out, "  %-13s undefined\n", name);
  };
  line("Sa:", p.defined, p.sa, " m");
  line("Sq:", p.defined, p.sq, " m");
  line("Ssk:", p.shape_defined, p.ssk, "");
  line("Sku:", p.shape_defined, p.sku, "");
  line("Sp:", p.defined, p.sp, " m");
  line("Sv:", p.defined, p.sv, " m");
  line("Sz:", p.defined, p.sz, " m");
  if (!p.defined)
    std::fprintf(out, p.valid < 3 ? "  (fewer than three valid points)\n"
                                  : "  (heights or their unit beyond what a double holds)\n");
}

const char* trailer_text(SdfTrailer t) {
  switch (t) {
    case SdfTrailer::kComplete:
      return "tovrel's, complete";
    case SdfTrailer::kIncomplete:
      return "tovrel's, missing required fields";
    case SdfTrailer::kNone:
      break;
  }
  return "no trailer";
}

void write_section(std::FILE* out, const SdfSection& s, SdfTrailer trailer) {
  static const char* const kTypes[] = {"UCHAR", "UINTEGER", "ULONGINT", "FLOAT",
                                       "CHAR",  "INTEGER",  "LONGINT",  "DOUBLE"};
  std::fprintf(out, "\nsdf header section\n");
  auto text = [out](const char* key, const std::string& value) {
    std::fprintf(out, "  %-13s %s\n", key, value.c_str());
  };
  text("version:", s.version);
  text("ManufacID:", s.manufacturer);
  text("CreateDate:", s.create_date);
  text("ModDate:", s.modify_date);
  text("NumPoints:", std::to_string(s.points));
  text("NumProfiles:", std::to_string(s.profiles));
  text("Xscale:", float_text(s.x_scale) + " m");
  text("Yscale:", float_text(s.y_scale) + " m");
  text("Zscale:", float_text(s.z_scale) + " m");
  text("Zresolution:", float_text(s.z_resolution) + (s.z_resolution < 0 ? " (unknown)" : " m"));
  text("Compression:", std::to_string(s.compression));
  text("DataType:", std::to_string(s.data_type) + " (" + kTypes[s.data_type & 7] + ")");
  text("CheckType:", std::to_string(s.check_type));
  text("trailer:", trailer_text(trailer));
  if (trailer == SdfTrailer::kIncomplete)
    std::fprintf(out,
                 "  note: Missing required fields. The listing above holds what the file gives.\n");
}

void write_picture(std::FILE* out, const PictureFacts& p) {
  std::fprintf(out, "\npicture\n");
  std::fprintf(out, "  file:         %s\n", p.shown.c_str());
  std::fprintf(out, "  pixels:       %llu x %llu\n", static_cast<unsigned long long>(p.width),
               static_cast<unsigned long long>(p.height));
  if (p.any)
    std::fprintf(out, "  colour scale: %s m to %s m (0.5 to 99.5 percentile of the heights)\n",
                 float_text(p.low).c_str(), float_text(p.high).c_str());
  else
    std::fprintf(out, "  colour scale: none (no valid point)\n");
}

}  // namespace

std::int32_t load_measurement(const char* path, Header* header, PhaseRecord* phase,
                              MeasurementKind* kind_out) {
  MeasurementKind kind = MeasurementKind::kDataFile;
  if (std::int32_t err = measurement_kind(path, kind)) return err;
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
  surface::RangeSink range;
  feed_phase(header, phase, range);
  PhaseSummary s;
  s.width = phase.width;
  s.height = phase.height;
  s.step = sdf_height_step(header);
  s.valid = static_cast<std::int64_t>(range.valid());
  if (s.valid > 0) {
    s.smallest = static_cast<std::int32_t>(range.smallest());
    s.largest = static_cast<std::int32_t>(range.largest());
    s.smallest_m = s.smallest * s.step;
    s.largest_m = s.largest * s.step;
  }
  return s;
}

bool write_measurement_info(std::FILE* out, const Header& header, const PhaseRecord& phase) {
  // Every write below is judged by the stream's error flag at the end.
  static_cast<void>(write_header_attributes(out, &header));
  write_summary(out, summarize_phase(header, phase));
  return std::fflush(out) == 0 && !std::ferror(out);
}

bool write_inspection(std::FILE* out, const MeasurementView& view, const InfoReport& report) {
  static_cast<void>(write_header_attributes(out, &view.header));
  write_summary(out, report.summary);
  if (report.measured) write_parameters(out, report.parameters);
  // A file with tovrel's whole trailer lists as its data file does; any other
  // SDF file also shows its header section as written.
  const bool sdf =
      view.kind == MeasurementKind::kSdfAscii || view.kind == MeasurementKind::kSdfBinary;
  if (sdf && view.trailer != SdfTrailer::kComplete) write_section(out, view.section, view.trailer);
  if (report.pictured) write_picture(out, report.picture);
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

bool write_x3p_info(std::FILE* out, const X3pContent& x, const MeasurementView* view,
                    const InfoReport* report) {
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
  if (x.has_attributes && view && report) return write_inspection(out, *view, *report);
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
  if (report && report->measured) write_parameters(out, report->parameters);
  if (report && report->pictured) write_picture(out, report->picture);
  return std::fflush(out) == 0 && !std::ferror(out);
}

namespace {

const char kUsage[] =
    "Usage:  tovrel-info [--json] [--no-parameters] [--image out.png] file\n"
    "        tovrel-info [--json] [--no-parameters] [--image folder] file...\n"
    "\tfile   = binary data file, SDF file (ASCII or binary, from any program) or\n"
    "\t         x3p file\n"
    "\t--json            writes the same content as one JSON document (one a line\n"
    "\t                  for several files)\n"
    "\t--no-parameters   leaves out the height parameters (one pass over the data)\n"
    "\t--image out.png   writes a false-colour picture of the heights; with a\n"
    "\t                  folder, folder/<name>.png for each file\n";

// The parsed command line.
struct InfoCommand {
  bool json = false;
  InfoOptions options;
  const CommandArg* image = nullptr;
  std::vector<const CommandArg*> files;
};

bool parse_command(const std::vector<CommandArg>& args, InfoCommand& c) {
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i].shown;
    if (a == "--") {
      ++i;
      break;
    }
    if (a == "--json") {
      c.json = true;
    } else if (a == "--no-parameters") {
      c.options.parameters = false;
    } else if (a == "--image" && i + 1 < args.size() && !args[i + 1].value.empty()) {
      c.image = &args[++i];
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return false;
    } else {
      break;
    }
  }
  for (; i < args.size(); ++i) {
    if (args[i].value.empty()) return false;
    c.files.push_back(&args[i]);
  }
  return !c.files.empty();
}

void report_error(std::FILE* err, const std::string& shown, std::int32_t code, int reason) {
  std::fprintf(err, "tovrel-info: \"%s\": %s", shown.c_str(), error_name(code));
  if ((code == ERR_CANT_OPEN_FILE || code == ERR_CANT_CREATE_FILE || code == ERR_CANT_WRITE_FILE) &&
      reason != 0)
    std::fprintf(err, " (%s)", std::strerror(reason));
  std::fputs("\n", err);
}

}  // namespace

int run_tovrel_info(const std::vector<CommandArg>& args, std::FILE* out, std::FILE* err) {
  if (args.size() == 1 && (args[0].shown == "--help" || args[0].shown == "--version")) {
    std::fputs(args[0].shown == "--help" ? kUsage : "tovrel-info " TOVREL_VERSION "\n", out);
    return std::fflush(out) == 0 && !std::ferror(out) ? INFO_OK : INFO_WRITE_FAILED;
  }
  InfoCommand command;
  if (!parse_command(args, command)) {
    std::fputs(kUsage, err);
    return INFO_USAGE;
  }
  const bool several = command.files.size() > 1;
  // Pictures go into a folder when the target is one (and must with several
  // files); two files must not make the same picture.
  const bool into_folder = command.image && u_is_directory(command.image->value.c_str());
  if (command.image && several && !into_folder) {
    std::fprintf(err, "tovrel-info: \"%s\" is no folder; several files need one for --image\n",
                 command.image->shown.c_str());
    return INFO_USAGE;
  }
  std::vector<std::string> pictures, pictures_shown;
  for (const CommandArg* file : command.files) {
    if (!command.image) break;
    if (into_folder) {
      pictures.push_back(
          u_path_in_directory(command.image->value.c_str(), file->value.c_str(), ".png"));
      pictures_shown.push_back(
          u_path_in_directory(command.image->shown.c_str(), file->shown.c_str(), ".png"));
    } else {
      pictures.push_back(command.image->value);
      pictures_shown.push_back(command.image->shown);
    }
    // A picture never takes the place of a file being read.
    for (const CommandArg* input : command.files) {
      if (u_same_file(pictures.back().c_str(), input->value.c_str())) {
        std::fprintf(err, "tovrel-info: \"%s\": the picture would replace \"%s\"\n",
                     pictures_shown.back().c_str(), input->shown.c_str());
        return INFO_USAGE;
      }
    }
    for (std::size_t k = 0; k + 1 < pictures.size(); ++k) {
      if (pictures[k] == pictures.back()) {
        std::fprintf(err, "tovrel-info: \"%s\" and \"%s\" would both make \"%s\"\n",
                     command.files[k]->shown.c_str(), file->shown.c_str(),
                     pictures_shown.back().c_str());
        return INFO_USAGE;
      }
    }
  }

  int status = INFO_OK;
  for (std::size_t k = 0; k < command.files.size(); ++k) {
    const CommandArg& file = *command.files[k];
    InfoOptions options = command.options;
    options.source_shown = file.shown;
    if (command.image) {
      options.image = pictures[k];
      options.image_shown = pictures_shown[k];
    }
    MeasurementKind kind = MeasurementKind::kDataFile;
    errno = 0;
    std::int32_t code = measurement_kind(file.value.c_str(), kind);
    if (code == ERR_NONE && kind == MeasurementKind::kX3p) {
      X3pContent x3p;
      errno = 0;
      code = read_x3p_file(file.value.c_str(), x3p);
      if (code != ERR_NONE) {
        report_error(err, file.shown, code, errno);
        if (status == INFO_OK) status = INFO_READ_FAILED;
        continue;
      }
      InfoReport report;
      MeasurementView view;
      view_of_x3p(file.value, x3p, &view);
      code = inspect_measurement(view, options, &report);
      if (code != ERR_NONE) {
        const bool picture = code == ERR_CANT_CREATE_FILE || code == ERR_CANT_WRITE_FILE;
        report_error(err, picture ? options.image_shown : file.shown, code, errno);
        if (status == INFO_OK) status = picture ? INFO_WRITE_FAILED : INFO_READ_FAILED;
        continue;
      }
      warn_sums(err, file.shown, x3p);
      if (several && !command.json)
        std::fprintf(out, "%s==> %s <==\n", k > 0 ? "\n" : "", file.shown.c_str());
      const bool written = command.json ? write_x3p_json(out, file.shown, x3p, &report, several)
                                        : write_x3p_info(out, x3p, &view, &report);
      if (!written) return status == INFO_OK ? INFO_WRITE_FAILED : status;
      continue;
    }
    MeasurementView view;
    InfoReport report;
    if (code == ERR_NONE) {
      errno = 0;
      code = open_measurement(file.value.c_str(), &view);
    }
    if (code == ERR_NONE) code = inspect_measurement(view, options, &report);
    if (code != ERR_NONE) {
      const int reason = errno;
      const bool picture = code == ERR_CANT_CREATE_FILE || code == ERR_CANT_WRITE_FILE;
      report_error(err, picture ? options.image_shown : file.shown, code, reason);
      if (status == INFO_OK) status = picture ? INFO_WRITE_FAILED : INFO_READ_FAILED;
      continue;
    }
    if (several && !command.json)
      std::fprintf(out, "%s==> %s <==\n", k > 0 ? "\n" : "", file.shown.c_str());
    const bool written = command.json
                             ? write_inspection_json(out, file.shown, view, report, several)
                             : write_inspection(out, view, report);
    if (!written) return status == INFO_OK ? INFO_WRITE_FAILED : status;
  }
  return status;
}
