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
    case MeasurementKind::kDataFile:
      break;
  }
  return "binary data file";
}

}  // namespace

bool write_measurement_json(std::FILE* out, const std::string& name, MeasurementKind kind,
                            const Header& header, const PhaseRecord& phase) {
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
  const PhaseSummary s = summarize_phase(header, phase);
  Json& summary = doc["phase"];
  summary["width"] = s.width;
  summary["height"] = s.height;
  summary["valid_points"] = s.valid;
  summary["smallest"] =
      s.valid ? Json{{"counts", s.smallest}, {"metres", s.smallest * s.step}} : Json(nullptr);
  summary["largest"] =
      s.valid ? Json{{"counts", s.largest}, {"metres", s.largest * s.step}} : Json(nullptr);
  // Texts are bytes; a sequence that is not UTF-8 is shown as U+FFFD.
  const std::string text = doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
  return std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
}
