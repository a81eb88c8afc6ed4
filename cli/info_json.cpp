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

// The attributes and the phase summary of a measurement.
void add_measurement(Json& doc, const Header& header, const PhaseRecord& phase) {
  Json& attributes = doc["attributes"] = Json::object();
  for (std::size_t line = 1; line <= kListingLines; ++line) {
    const ListedField lf = header_listed_field(header, line);
    char attr[64];
    header_attr_name(*lf.field, lf.element, attr, sizeof attr);
    attributes[attr] = attribute_value(header, lf);
  }
  const PhaseSummary s = summarize_phase(header, phase);
  Json& summary = doc["phase"];
  summary["width"] = s.width;
  summary["height"] = s.height;
  summary["valid_points"] = s.valid;
  summary["smallest"] =
      s.valid ? Json{{"counts", s.smallest}, {"metres", s.smallest * s.step}} : Json(nullptr);
  summary["largest"] =
      s.valid ? Json{{"counts", s.largest}, {"metres", s.largest * s.step}} : Json(nullptr);
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

bool write_doc(std::FILE* out, const Json& doc) {
  // Texts are bytes; a sequence that is not UTF-8 is shown as U+FFFD.
  const std::string text = doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
  return std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
}

}  // namespace

bool write_measurement_json(std::FILE* out, const std::string& name, MeasurementKind kind,
                            const Header& header, const PhaseRecord& phase) {
  Json doc;
  doc["file"] = name;
  doc["kind"] = kind_name(kind);
  add_measurement(doc, header, phase);
  return write_doc(out, doc);
}

bool write_x3p_json(std::FILE* out, const std::string& name, const X3pContent& x) {
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
    add_measurement(doc, x.header, x.phase);
  } else {
    const HeightSummary& h = x.heights;
    doc["heights"] = {{"width", r.size_x},
                      {"height", r.size_y},
                      {"valid_points", h.valid},
                      {"smallest", h.valid ? number(h.smallest) : Json(nullptr)},
                      {"largest", h.valid ? number(h.largest) : Json(nullptr)}};
  }
  return write_doc(out, doc);
}
