#include "x3p/x3p_reader.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <rapidxml/rapidxml.hpp>
#include <string_view>

#include "errors/errors.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "sdf/sdf_reading.h"
#include "sdf/sdf_writer.h"
#include "x3p/checksums.h"
#include "x3p/x3p_writer.h"
#include "x3p/zip_reader.h"

namespace {

using Node = rapidxml::xml_node<char>;

constexpr std::uint64_t kMaxXml = 256u << 20;       // main.xml, inline data included
constexpr std::uint64_t kMaxSmallEntry = 1u << 20;  // the checksum and attributes entries
constexpr int kMaxDepth = 64;                       // of main.xml's elements

// The element name without a namespace prefix.
std::string_view local_name(const Node* n) {
  std::string_view name(n->name(), n->name_size());
  const std::size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

const Node* child(const Node* parent, std::string_view name) {
  if (!parent) return nullptr;
  for (const Node* n = parent->first_node(); n; n = n->next_sibling())
    if (n->type() == rapidxml::node_element && local_name(n) == name) return n;
  return nullptr;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && std::strchr(" \t\r\n", s.front())) s.remove_prefix(1);
  while (!s.empty() && std::strchr(" \t\r\n", s.back())) s.remove_suffix(1);
  return s;
}

std::string text_of(const Node* n) {
  return n ? std::string(trimmed(std::string_view(n->value(), n->value_size()))) : std::string();
}

bool number(std::string_view s, double& out) {
  s = trimmed(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return !s.empty() && r.ec == std::errc{} && r.ptr == s.data() + s.size();
}

bool count(const Node* n, std::uint64_t& out) {
  if (!n) return false;
  const std::string_view s = trimmed(std::string_view(n->value(), n->value_size()));
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return !s.empty() && r.ec == std::errc{} && r.ptr == s.data() + s.size();
}

// An axis description; the increment and offset default to 1 and 0.
bool read_axis(const Node* n, X3pAxis& axis) {
  if (!n) return false;
  axis.axis_type = text_of(child(n, "AxisType"));
  axis.data_type = text_of(child(n, "DataType"));
  const Node* inc = child(n, "Increment");
  const Node* off = child(n, "Offset");
  return (!inc || number({inc->value(), inc->value_size()}, axis.increment)) &&
         (!off || number({off->value(), off->value_size()}, axis.offset));
}

// Deeper nesting than any ISO5436_2 document has is refused before the
// recursive parser sees it. Comments, CDATA and declarations do not nest.
bool shallow(const std::string& xml) {
  int depth = 0;
  for (std::size_t i = 0; (i = xml.find('<', i)) != std::string::npos;) {
    const std::string_view rest(xml.data() + i, xml.size() - i);
    const char* close = rest.starts_with("<!--")        ? "-->"
                        : rest.starts_with("<![CDATA[") ? "]]>"
                        : rest.starts_with("<?")        ? "?>"
                        : rest.starts_with("<!")        ? ">"
                                                        : nullptr;
    if (close) {
      const std::size_t end = xml.find(close, i);
      if (end == std::string::npos) return true;  // the parser reports it
      i = end;
      continue;
    }
    const std::size_t end = xml.find('>', i);
    if (end == std::string::npos) return true;
    if (rest.starts_with("</"))
      --depth;
    else if (xml[end - 1] != '/' && ++depth > kMaxDepth)
      return false;
    i = end;
  }
  return true;
}

std::int32_t parse_main_xml(std::string xml, X3pRecords& r, std::vector<double>& inline_values,
                            std::vector<bool>& inline_valid) {
  constexpr std::int32_t kBad = ERR_UNKNOWN_ASCII_FORMAT_TYPE;
  if (!shallow(xml)) return kBad;
  rapidxml::xml_document<char> doc;
  try {
    doc.parse<rapidxml::parse_default>(xml.data());
  } catch (const rapidxml::parse_error&) {
    return kBad;
  }
  const Node* root = doc.first_node();
  while (root && root->type() != rapidxml::node_element) root = root->next_sibling();
  if (!root || local_name(root) != "ISO5436_2") return kBad;
  const Node* r1 = child(root, "Record1");
  const Node* r3 = child(root, "Record3");
  const Node* axes = child(r1, "Axes");
  if (!r1 || !r3 || !axes) return kBad;
  r.revision = text_of(child(r1, "Revision"));
  r.feature_type = text_of(child(r1, "FeatureType"));
  if (!read_axis(child(axes, "CX"), r.x) || !read_axis(child(axes, "CY"), r.y) ||
      !read_axis(child(axes, "CZ"), r.z))
    return kBad;
  if (const Node* r2 = child(root, "Record2")) {
    r.has_record2 = true;
    r.date = text_of(child(r2, "Date"));
    r.creator = text_of(child(r2, "Creator"));
    const Node* inst = child(r2, "Instrument");
    r.manufacturer = text_of(child(inst, "Manufacturer"));
    r.model = text_of(child(inst, "Model"));
    r.serial = text_of(child(inst, "Serial"));
    r.version = text_of(child(inst, "Version"));
    r.calibration_date = text_of(child(r2, "CalibrationDate"));
    const Node* probe = child(r2, "ProbingSystem");
    r.probing_type = text_of(child(probe, "Type"));
    r.probing_id = text_of(child(probe, "Identification"));
    r.comment = text_of(child(r2, "Comment"));
  }
  const Node* dims = child(r3, "MatrixDimension");
  if (!count(child(dims, "SizeX"), r.size_x) || !count(child(dims, "SizeY"), r.size_y) ||
      !count(child(dims, "SizeZ"), r.size_z))
    return kBad;
  if (const Node* link = child(r3, "DataLink")) {
    r.point_data_link = text_of(child(link, "PointDataLink"));
    r.point_data_md5 = text_of(child(link, "MD5ChecksumPointData"));
    r.valid_points_link = text_of(child(link, "ValidPointsLink"));
    r.valid_points_md5 = text_of(child(link, "MD5ChecksumValidPoints"));
    if (r.point_data_link.empty()) return kBad;
  } else if (const Node* list = child(r3, "DataList")) {
    r.inline_data = true;
    try {
      for (const Node* d = list->first_node(); d; d = d->next_sibling()) {
        if (d->type() != rapidxml::node_element || local_name(d) != "Datum") continue;
        // "x;y;z" where the lateral axes are absolute: the height is last.
        std::string_view v(d->value(), d->value_size());
        if (const std::size_t semi = v.rfind(';'); semi != std::string_view::npos)
          v.remove_prefix(semi + 1);
        double value = 0;
        const bool valid = !trimmed(v).empty();
        if (valid && !number(v, value)) return kBad;
        inline_values.push_back(value);
        inline_valid.push_back(valid);
      }
    } catch (const std::bad_alloc&) {
      return ERR_NO_MEM;
    }
  } else {
    return kBad;
  }
  r.checksum_file = text_of(child(child(root, "Record4"), "ChecksumFile"));
  for (const Node* n = root->first_node(); n; n = n->next_sibling())
    if (n->type() == rapidxml::node_element && local_name(n) == "VendorSpecificID")
      r.vendor_ids.push_back(text_of(n));
  return ERR_NONE;
}

bool same_sum(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::size_t type_width(const std::string& type) {
  return type == "I" ? 2 : type == "L" ? 4 : type == "F" ? 4 : type == "D" ? 8 : 0;
}

double raw_value(char type, const unsigned char* p) {
  switch (type) {
    case 'I':
      return static_cast<std::int16_t>(load_le16(p));
    case 'L':
      return static_cast<std::int32_t>(load_le32(p));
    case 'F':
      return std::bit_cast<float>(load_le32(p));
    default:
      return std::bit_cast<double>(std::uint64_t{load_le32(p)} | std::uint64_t{load_le32(p + 4)}
                                                                     << 32);
  }
}

// Takes the heights one by one, in order: the summary, and the phase counts
// where the attributes give the header.
class Heights {
 public:
  Heights(X3pContent& c, const std::vector<unsigned char>& valid)
      : c_(c), valid_(valid), unit_(sdf_phase_unit(c.header)) {
    if (c.has_attributes) c.phase.org_x = c.header.cn_org_x, c.phase.org_y = c.header.cn_org_y;
  }

  // Also hands the heights to `sink` row by row.
  void stream_to(surface::HeightSink* sink) {
    sink_ = sink;
    if (!sink) return;
    const X3pRecords& r = c_.records;
    surface::MapGeometry map;
    map.width = r.size_x;
    map.height = r.size_y;
    map.dx = r.x.increment;
    map.dy = r.y.increment;
    values_.assign(r.size_x, 0.0);
    missing_.assign(r.size_x, 0);
    sink->begin(map);
  }

  std::int32_t add(double raw, bool valid) {
    const std::uint64_t i = c_.heights.points++;
    if (!valid_.empty() && !(valid_[i / 8] >> (i % 8) & 1)) valid = false;
    const double h = c_.records.z.offset + raw * c_.records.z.increment;
    if (std::isnan(h)) valid = false;
    if (sink_) {
      const bool shown = valid && std::isfinite(h);
      values_[at_] = shown ? h : 0.0;
      missing_[at_] = !shown;
      if (++at_ == values_.size()) {
        sink_->row(row_++, values_.data(), missing_.data());
        at_ = 0;
      }
    }
    if (valid) {
      HeightSummary& s = c_.heights;
      if (s.valid == 0 || h < s.smallest) s.smallest = h;
      if (s.valid == 0 || h > s.largest) s.largest = h;
      ++s.valid;
    }
    if (!c_.has_attributes) return ERR_NONE;
    std::int32_t& count = c_.phase.data[static_cast<std::size_t>(i)];
    if (!valid) {
      count = kInvalidPhase;
      return ERR_NONE;
    }
    return sdf_detail::to_phase(h / unit_ + static_cast<double>(offset), count)
               ? ERR_NONE
               : ERR_PARAM_OUT_OF_RANGE;
  }

  std::int64_t offset = 0;  // the data offset of the attributes

 private:
  X3pContent& c_;
  const std::vector<unsigned char>& valid_;
  double unit_;
  surface::HeightSink* sink_ = nullptr;
  std::vector<double> values_;
  std::vector<std::uint8_t> missing_;
  std::size_t at_ = 0;
  std::uint64_t row_ = 0;
};

// The attributes entry: the SDF trailer's lines, read by the SDF import's
// trailer reader. A closing line is added so the reader stops within it.
// As for an SDF file, a header without every required field is listed as
// the entry gives it (the data file it came from had them so).
std::int32_t read_attributes(std::FILE* file, std::string text, Header& h, std::int64_t& offset) {
  text += "\n*\n";
  sdf_detail::LineReader lines(file);
  lines.put_back(text.data(), text.size());
  sdf_detail::TrailerFacts facts;
  return sdf_detail::read_trailer(lines, h, offset, &facts) == ERR_NONE ? ERR_NONE
                                                                        : ERR_CORRUPT_DATA_FILE;
}

std::int32_t read_x3p(const char* path, X3pContent& c, surface::HeightSink* rows) {
  File f(u_fopen(path, "rb"));
  if (!f) return errno == ENOMEM ? ERR_NO_MEM : ERR_CANT_OPEN_FILE;
  ZipReader zip;
  if (std::int32_t err = zip.open(f.get())) return err;
  const ZipEntry* main_xml = zip.find(kX3pMainXml);
  if (!main_xml) return ERR_NO_DATA;
  std::string xml;
  if (std::int32_t err = zip.read_all(*main_xml, xml, kMaxXml)) return err;
  X3pRecords& r = c.records;
  std::vector<double> inline_values;
  std::vector<bool> inline_valid;
  if (std::int32_t err = parse_main_xml(xml, r, inline_values, inline_valid)) return err;

  // md5checksum.hex: the sum of main.xml as stored, md5sum's form.
  if (const ZipEntry* sums =
          zip.find(r.checksum_file.empty() ? kX3pChecksumFile : r.checksum_file)) {
    std::string text;
    if (std::int32_t err = zip.read_all(*sums, text, kMaxSmallEntry)) return err;
    const std::string_view token = std::string_view(text).substr(0, text.find_first_of(" \t\r\n"));
    c.sums.main_xml =
        same_sum(token, md5_hex(xml.data(), xml.size())) ? SumCheck::kAgrees : SumCheck::kDiffers;
  }

  // tovrel's own attributes bring the header back.
  const bool ours =
      std::find(r.vendor_ids.begin(), r.vendor_ids.end(), kX3pVendorId) != r.vendor_ids.end();
  const ZipEntry* attributes = ours ? zip.find(kX3pAttributes) : nullptr;
  std::int64_t data_offset = 0;
  if (attributes) {
    std::string text;
    if (std::int32_t err = zip.read_all(*attributes, text, kMaxSmallEntry)) return err;
    if (std::int32_t err = read_attributes(f.get(), std::move(text), c.header, data_offset))
      return err;
    c.has_attributes = true;
  }

  if (r.feature_type != "SUR" && r.feature_type != "PRF") return ERR_NOT_IMPLEMENTED;
  if (r.x.axis_type != "I" || r.y.axis_type != "I") return ERR_NOT_IMPLEMENTED;
  if (r.size_z != 1) return ERR_NOT_IMPLEMENTED;
  const char type = r.z.data_type.empty() ? 'D' : r.z.data_type[0];
  const std::size_t width = type_width(r.z.data_type.empty() ? "D" : r.z.data_type);
  if (width == 0) return ERR_NOT_IMPLEMENTED;
  if (r.size_x != 0 && r.size_y > (std::uint64_t{1} << 60) / 8 / r.size_x)
    return ERR_DATASET_DIM_TOO_LARGE;
  const std::uint64_t n = r.size_x * r.size_y;
  if (c.has_attributes) {
    if (r.size_x > 32767 || r.size_y > 32767) return ERR_DATASET_DIM_TOO_LARGE;
    c.phase.width = static_cast<std::int16_t>(r.size_x);
    c.phase.height = static_cast<std::int16_t>(r.size_y);
    if (n > 0) {
      if (std::int32_t err = phase_record_alloc(&c.phase)) return err;
    }
  }

  std::vector<unsigned char> valid;
  if (rows && r.size_x > (std::uint64_t{1} << 20)) return ERR_DATASET_DIM_TOO_LARGE;
  Heights heights(c, valid);
  heights.offset = data_offset;
  heights.stream_to(rows);
  if (r.inline_data) {
    if (inline_values.size() != n) return ERR_NOT_ENOUGH_DATA;
    for (std::size_t i = 0; i < inline_values.size(); ++i)
      if (std::int32_t err = heights.add(inline_values[i], inline_valid[i])) return err;
    return ERR_NONE;
  }

  if (!r.valid_points_link.empty()) {
    const ZipEntry* e = zip.find(r.valid_points_link);
    if (!e) return ERR_NO_DATA;
    if (e->size != (n + 7) / 8) return ERR_NOT_ENOUGH_DATA;
    std::string bits;
    if (std::int32_t err = zip.read_all(*e, bits, e->size)) return err;
    if (!r.valid_points_md5.empty())
      c.sums.valid_points = same_sum(r.valid_points_md5, md5_hex(bits.data(), bits.size()))
                                ? SumCheck::kAgrees
                                : SumCheck::kDiffers;
    try {
      valid.assign(bits.begin(), bits.end());
    } catch (const std::bad_alloc&) {
      return ERR_NO_MEM;
    }
  }

  const ZipEntry* data = zip.find(r.point_data_link);
  if (!data) return ERR_NO_DATA;
  if (data->size != n * width) return ERR_NOT_ENOUGH_DATA;
  Md5 md5;
  if (!md5.ok()) return ERR_NO_MEM;
  unsigned char carry[8];  // a value split between two pieces
  std::size_t carried = 0;
  std::int32_t err = zip.read(*data, [&](const unsigned char* p, std::size_t size) {
    md5.add(p, size);
    if (carried > 0) {
      const std::size_t take = std::min(width - carried, size);
      std::memcpy(carry + carried, p, take);
      carried += take;
      p += take;
      size -= take;
      if (carried < width) return std::int32_t{ERR_NONE};
      carried = 0;
      if (std::int32_t e = heights.add(raw_value(type, carry), true)) return e;
    }
    for (; size >= width; p += width, size -= width)
      if (std::int32_t e = heights.add(raw_value(type, p), true)) return e;
    std::memcpy(carry, p, size);
    carried = size;
    return std::int32_t{ERR_NONE};
  });
  if (err) return err;
  if (!r.point_data_md5.empty())
    c.sums.point_data =
        same_sum(r.point_data_md5, md5.hex()) ? SumCheck::kAgrees : SumCheck::kDiffers;
  return ERR_NONE;
}

}  // namespace

bool x3p_magic(const unsigned char* head, std::size_t size) {
  return size >= 4 && head[0] == 'P' && head[1] == 'K' && head[2] == 3 && head[3] == 4;
}

std::int32_t read_x3p_file(const char* path, X3pContent& content, surface::HeightSink* rows) {
  X3pContent c;
  std::int32_t err = ERR_NONE;
  try {
    err = read_x3p(path, c, rows);
  } catch (const std::bad_alloc&) {
    err = ERR_NO_MEM;
  }
  if (err == ERR_NONE) content = std::move(c);
  return err;
}
