// main.xml of the x3p files tovrel writes.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/file_io.h"
#include "platform/local_time.h"
#include "sdf/date_text.h"
#include "sdf/sdf_writer.h"
#include "sdf/text_out.h"
#include "x3p/x3p_writer.h"

namespace {

// A double as xsd:double spells it, the shortest text that reads back as
// the same value.
std::string xsd_double(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  char text[64];
  auto r = std::to_chars(text, text + sizeof text, v);
  return std::string(text, r.ptr);
}

// Header text (up to its NUL or `width` bytes) as XML character data: the
// markup characters escaped, UTF-8 sequences kept, any other byte above 127
// read as Latin-1, and control characters, which XML cannot hold, as spaces.
std::string xml_text(const char* text, std::size_t width) {
  std::string out;
  for (std::size_t i = 0; i < width && text[i] != '\0';) {
    const auto c = static_cast<unsigned char>(text[i]);
    // A well-formed UTF-8 sequence of 2 to 4 bytes stays as it is.
    std::size_t n = c >= 0xC2 && c <= 0xDF   ? 2
                    : c >= 0xE0 && c <= 0xEF ? 3
                    : c >= 0xF0 && c <= 0xF4 ? 4
                                             : 1;
    if (n > 1) {
      bool whole = i + n <= width;
      for (std::size_t k = 1; whole && k < n; ++k)
        whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
      // No overlong forms, surrogates or values past U+10FFFF.
      const auto c1 = whole ? static_cast<unsigned char>(text[i + 1]) : 0;
      if (whole && ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0) ||
                    (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 >= 0x90)))
        whole = false;
      if (whole) {
        out.append(text + i, n);
        i += n;
        continue;
      }
    }
    ++i;
    if (c >= 0x80) {
      u_append_utf8(out, c);  // read as Latin-1
    } else if (c < 0x20 && c != '\t') {
      out += ' ';
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

template <std::size_t N>
std::string xml_text(const char (&field)[N]) {
  return xml_text(field, N);
}

// The measurement's date as xsd:dateTime without a time zone (the header
// names none): from the header's date text, or, as the SDF CreateDate, the
// time of the conversion when the text gives no whole date and time.
std::string measurement_date(const Header& h) {
  char text[sizeof h.swinfo.date + 1] = {};
  std::memcpy(text, h.swinfo.date, sizeof h.swinfo.date);
  int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1;
  parse_date_text(text, &year, &month, &day, nullptr, &hour, &minute, &second);
  if (second < 0) second = 0;
  const bool whole = year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
                     day <= 31 && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 &&
                     second <= 59;
  if (!whole) {
    std::tm now{};
    if (!u_local_time(std::time(nullptr), now)) {
      now = std::tm{};
      now.tm_mday = 1;
      now.tm_year = 70;
    }
    year = now.tm_year + 1900;
    month = now.tm_mon + 1;
    day = now.tm_mday;
    hour = now.tm_hour;
    minute = now.tm_min;
    second = now.tm_sec > 59 ? 59 : now.tm_sec;
  }
  char out[96];
  std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute,
                second);
  return out;
}

void axis(std::string& x, const char* name, const char* type, double increment) {
  x += "      <";
  x += name;
  x += ">\n        <AxisType>";
  x += type;
  x += "</AxisType>\n        <DataType>D</DataType>\n        <Increment>";
  x += xsd_double(increment);
  x += "</Increment>\n        <Offset>0</Offset>\n      </";
  x += name;
  x += ">\n";
}

void element(std::string& x, const char* indent, const char* name, const std::string& value) {
  x += indent;
  x += '<';
  x += name;
  x += '>';
  x += value;
  x += "</";
  x += name;
  x += ">\n";
}

}  // namespace

double x3p_pixel_size(const Header& header) { return sdf_listed_value(header.lateral_res); }

std::string x3p_main_xml(const Header& h, std::uint32_t width, std::uint32_t height,
                         std::string_view data_md5) {
  std::string x =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<p:ISO5436_2 xmlns:p=\"http://www.opengps.eu/2008/ISO5436_2\">\n"
      "  <Record1>\n"
      "    <Revision>ISO5436 - 2000</Revision>\n"
      "    <FeatureType>SUR</FeatureType>\n"
      "    <Axes>\n";
  const double pixel = x3p_pixel_size(h);
  axis(x, "CX", "I", pixel);
  axis(x, "CY", "I", pixel);
  // Heights are stored as they are: readers that ignore the z increment
  // and offset read them right too.
  axis(x, "CZ", "A", 1);
  x += "    </Axes>\n  </Record1>\n  <Record2>\n";
  element(x, "    ", "Date", measurement_date(h));
  char text[64];
  std::snprintf(text, sizeof text, "KV%d.%d.%d", int{h.swinfo.vers.maj}, int{h.swinfo.vers.min},
                int{h.swinfo.vers.bug});
  element(x, "    ", "Creator", text);
  x += "    <Instrument>\n";
  // The header names no maker and no instrument version.
  element(x, "      ", "Manufacturer", "");
  std::snprintf(text, sizeof text, "%d", int{h.sys_type});
  element(x, "      ", "Model", text);
  // The serial number as the attribute listing chooses it.
  if (h.sys_serial2 != 0)
    std::snprintf(text, sizeof text, "%d", static_cast<int>(h.sys_serial2));
  else
    std::snprintf(text, sizeof text, "%d", int{h.sys_serial});
  element(x, "      ", "Serial", text);
  element(x, "      ", "Version", "");
  x += "    </Instrument>\n";
  // No CalibrationDate: the header holds none.
  x += "    <ProbingSystem>\n";
  element(x, "      ", "Type", "NonContacting");
  element(x, "      ", "Identification", xml_text(h.obj_name));
  x += "    </ProbingSystem>\n";
  element(x, "    ", "Comment", xml_text(h.comment));
  x += "  </Record2>\n  <Record3>\n    <MatrixDimension>\n";
  element(x, "      ", "SizeX", std::to_string(width));
  element(x, "      ", "SizeY", std::to_string(height));
  element(x, "      ", "SizeZ", "1");
  x += "    </MatrixDimension>\n    <DataLink>\n";
  element(x, "      ", "PointDataLink", kX3pPointData);
  element(x, "      ", "MD5ChecksumPointData", std::string(data_md5));
  x += "    </DataLink>\n  </Record3>\n  <Record4>\n";
  element(x, "    ", "ChecksumFile", kX3pChecksumFile);
  x += "  </Record4>\n";
  element(x, "  ", "VendorSpecificID", kX3pVendorId);
  x += "</p:ISO5436_2>\n";
  return x;
}
