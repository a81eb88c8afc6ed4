// tovrel-info --json: the listing and the phase summary as one JSON document.
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/info.h"
#include "sdf/attributes.h"
#include "sdf/text_out.h"

namespace {

using Json = nlohmann::ordered_json;

template <class T>
T load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// A float as JSON: its value, or the listing's spelling when it is no number.
Json float_value(float v) {
  if (std::isfinite(v)) return static_cast<double>(v);
  char text[kFloatTextSize];
  const char* s = format_float_g(v, text);
  while (*s == ' ') ++s;
  return s;
}

Json attribute_value(const Header& header, const ListedField& lf) {
  const FieldDesc& f = *lf.field;
  const void* p = header_field_ptr(header, f, lf.element);
  switch (f.list_kind) {
    case ListKind::U:
      return load<std::uint32_t>(p);
    case ListKind::D:
    case ListKind::DNZ:
      if (f.elem_size() == 2) return load<std::int16_t>(p);
      return load<std::int32_t>(p);
    case ListKind::G:
      return float_value(load<float>(p));
    case ListKind::S:
      return listed_text(static_cast<const char*>(p), f.width());
    case ListKind::NONE:
      break;
  }
  return nullptr;
}

const char* kind_name(MeasurementKind kind) {
  switch (kind) {
    case MeasurementKind::kSdfAscii:
      return "sdf ascii";
    case MeasurementKind::kSdfBinary:
      return "sdf binary";
    case MeasurementKind::kX3p:
      return "x3p";
    case MeasurementKind::kDataFile:
      break;
  }
  return "binary data file";
}

}  // namespace

namespace {

Json summary_json(const PhaseSummary& s) {
  Json summary;
  summary["width"] = s.width;
  summary["height"] = s.height;
  summary["valid_points"] = s.valid;
  auto extreme = [&](std::int32_t counts, double metres) {
    if (!s.valid) return Json(nullptr);
    if (!s.counted) return Json{{"metres", metres}};
    return Json{{"counts", counts}, {"metres", metres}};
  };
  summary["smallest"] = extreme(s.smallest, s.smallest_m);
  summary["largest"] = extreme(s.largest, s.largest_m);
  return summary;
}

// The file's name and kind and every attribute, in listing order.
Json listing_json(const std::string& name, MeasurementKind kind, const Header& header) {
  Json doc;
  doc["file"] = name;
  doc["kind"] = kind_name(kind);
  Json& attributes = doc["attributes"] = Json::object();
  for (std::size_t line = 1; line <= kListingLines; ++line) {
    const ListedField lf = header_listed_field(header, line);
    char attr[64];
    header_attr_name(*lf.field, lf.element, attr, sizeof attr);
    attributes[attr] = attribute_value(header, lf);
  }
  return doc;
}

bool write_json(std::FILE* out, const Json& doc, bool one_line) {
  // Texts are bytes; a sequence that is not UTF-8 is shown as U+FFFD.
  const std::string text =
      doc.dump(one_line ? -1 : 2, ' ', false, Json::error_handler_t::replace) + "\n";
  return std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
}

// A double as JSON, or its name when it is no number.
Json number(double v) {
  if (std::isfinite(v)) return v;
  return std::isnan(v) ? "nan" : v > 0 ? "inf" : "-inf";
}

Json axis(const X3pAxis& a) {
  return {{"AxisType", a.axis_type},
          {"DataType", a.data_type},
          {"Increment", number(a.increment)},
          {"Offset", number(a.offset)}};
}

const char* sum_text(SumCheck c) {
  return c == SumCheck::kAgrees ? "agrees" : c == SumCheck::kDiffers ? "differs" : "not checked";
}

// A value, or null when it is not defined.
Json defined(bool is, double v) { return is ? Json(v) : Json(nullptr); }

// The parameters and the picture of an inspection.
void add_report(Json& doc, const InfoReport& report) {
  if (report.measured) {
    const surface::HeightParameters& p = report.parameters;
    Json& j = doc["parameters"];
    j["method"] = "ISO 25178-2, least-squares plane removed";
    j["valid_points"] = p.valid;
    j["unit"] = "m";
    j["Sa"] = defined(p.defined, p.sa);
    j["Sq"] = defined(p.defined, p.sq);
    j["Ssk"] = defined(p.shape_defined, p.ssk);
    j["Sku"] = defined(p.shape_defined, p.sku);
    j["Sp"] = defined(p.defined, p.sp);
    j["Sv"] = defined(p.defined, p.sv);
    j["Sz"] = defined(p.defined, p.sz);
  }
  if (report.pictured) {
    const PictureFacts& p = report.picture;
    Json& j = doc["picture"];
    j["file"] = p.shown;
    j["width"] = p.width;
    j["height"] = p.height;
    j["scale"] = p.any ? Json{{"low", p.low}, {"high", p.high}, {"unit", "m"}} : Json(nullptr);
  }
}

}  // namespace

bool write_measurement_json(std::FILE* out, const std::string& name, MeasurementKind kind,
                            const Header& header, const PhaseRecord& phase) {
  Json doc = listing_json(name, kind, header);
  doc["phase"] = summary_json(summarize_phase(header, phase));
  return write_json(out, doc, false);
}

bool write_inspection_json(std::FILE* out, const std::string& name, const MeasurementView& view,
                           const InfoReport& report, bool one_line) {
  Json doc = listing_json(name, view.kind, view.header);
  doc["phase"] = summary_json(report.summary);
  add_report(doc, report);
  if (view.kind == MeasurementKind::kSdfAscii || view.kind == MeasurementKind::kSdfBinary) {
    const SdfSection& s = view.section;
    Json& j = doc["sdf"];
    j["version"] = s.version;
    j["ManufacID"] = s.manufacturer;
    j["CreateDate"] = s.create_date;
    j["ModDate"] = s.modify_date;
    j["NumPoints"] = s.points;
    j["NumProfiles"] = s.profiles;
    j["Xscale"] = s.x_scale;
    j["Yscale"] = s.y_scale;
    j["Zscale"] = s.z_scale;
    j["Zresolution"] = s.z_resolution;
    j["Compression"] = s.compression;
    j["DataType"] = s.data_type;
    j["CheckType"] = s.check_type;
    j["trailer"] = view.trailer == SdfTrailer::kComplete     ? "complete"
                   : view.trailer == SdfTrailer::kIncomplete ? "missing required fields"
                                                             : "none";
  }
  return write_json(out, doc, one_line);
}

bool write_x3p_json(std::FILE* out, const std::string& name, const X3pContent& x,
                    const InfoReport* report, bool one_line) {
  const X3pRecords& r = x.records;
  Json doc;
  doc["file"] = name;
  doc["kind"] = kind_name(MeasurementKind::kX3p);
  Json& records = doc["records"];
  records["Revision"] = r.revision;
  records["FeatureType"] = r.feature_type;
  records["Axes"] = {{"CX", axis(r.x)}, {"CY", axis(r.y)}, {"CZ", axis(r.z)}};
  if (r.has_record2) {
    records["Date"] = r.date;
    records["Creator"] = r.creator;
    records["Instrument"] = {{"Manufacturer", r.manufacturer},
                             {"Model", r.model},
                             {"Serial", r.serial},
                             {"Version", r.version}};
    records["CalibrationDate"] = r.calibration_date;
    records["ProbingSystem"] = {{"Type", r.probing_type}, {"Identification", r.probing_id}};
    records["Comment"] = r.comment;
  }
  records["MatrixDimension"] = {{"SizeX", r.size_x}, {"SizeY", r.size_y}, {"SizeZ", r.size_z}};
  records["PointDataLink"] = r.inline_data ? Json(nullptr) : Json(r.point_data_link);
  records["ValidPointsLink"] = r.valid_points_link;
  records["ChecksumFile"] = r.checksum_file;
  records["VendorSpecificID"] = r.vendor_ids;
  doc["md5"] = {{"main.xml", sum_text(x.sums.main_xml)},
                {"point_data", sum_text(x.sums.point_data)},
                {"valid_points", sum_text(x.sums.valid_points)}};
  if (x.has_attributes) {
    doc["attributes"] = listing_json(name, MeasurementKind::kX3p, x.header)["attributes"];
    doc["phase"] = summary_json(report ? report->summary : summarize_phase(x.header, x.phase));
    if (report) add_report(doc, *report);
  } else {
    const HeightSummary& h = x.heights;
    doc["heights"] = {{"width", r.size_x},
                      {"height", r.size_y},
                      {"valid_points", h.valid},
                      {"smallest", h.valid ? number(h.smallest) : Json(nullptr)},
                      {"largest", h.valid ? number(h.largest) : Json(nullptr)}};
    if (report) add_report(doc, *report);
  }
  return write_json(out, doc, one_line);
}
