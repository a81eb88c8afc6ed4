#include "fuzz/seed_files.h"

#include <cfloat>
#include <cstdio>
#include <cstring>

namespace seeds {

namespace {

constexpr const char* kTypeNames[kSdfTypeCount] = {"UCHAR", "UINTEGER", "ULONGINT", "FLOAT",
                                                   "CHAR",  "INTEGER",  "LONGINT",  "DOUBLE"};
constexpr std::size_t kTypeWidths[kSdfTypeCount] = {1, 2, 4, 4, 1, 2, 4, 8};

constexpr double kScale = 1e-6;  // x and y spacing
constexpr double kZ = 1e-9;      // Zscale and Zresolution

template <class T>
void put(std::vector<std::uint8_t>& out, T value) {
  std::uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));  // little-endian host, as the format stores it
  out.insert(out.end(), bytes, bytes + sizeof(T));
}

void put_text(std::vector<std::uint8_t>& out, const char* text, std::size_t width) {
  std::size_t n = std::strlen(text);
  for (std::size_t i = 0; i < width; ++i)
    out.push_back(i < n ? static_cast<std::uint8_t>(text[i]) : 0);
}

// One value of `type` in the file's byte order; point 1 gets the marker.
void put_value(std::vector<std::uint8_t>& out, int type, std::size_t i) {
  bool invalid = i == kSeedInvalidPoint;
  auto v = static_cast<std::int64_t>(sdf_seed_value(i));
  switch (type) {
    case 0:
      put<std::uint8_t>(out, invalid ? 255 : static_cast<std::uint8_t>(v));
      break;
    case 1:
      put<std::uint16_t>(out, invalid ? 0xFFFF : static_cast<std::uint16_t>(v));
      break;
    case 2:
      put<std::uint32_t>(out, invalid ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v));
      break;
    case 3:
      put<float>(out, invalid ? FLT_MAX : static_cast<float>(v));
      break;
    case 4:
      put<std::int8_t>(out, invalid ? 127 : static_cast<std::int8_t>(v));
      break;
    case 5:
      put<std::int16_t>(out, invalid ? 0x7FFF : static_cast<std::int16_t>(v));
      break;
    case 6:
      put<std::int32_t>(out, invalid ? 0x7FFFFFFF : static_cast<std::int32_t>(v));
      break;
    default:
      put<double>(out, invalid ? DBL_MAX : static_cast<double>(v));
      break;
  }
}

// One value of `type` as decimal text, less `offset`; point 1 gets the
// marker.
std::string value_text(int type, std::size_t i, int offset) {
  static constexpr const char* kMarkers[kSdfTypeCount] = {
      "255", "65535", "4294967295", "3.40282347e+38",
      "127", "32767", "2147483647", "1.7976931348623157e+308"};
  if (i == kSeedInvalidPoint) return kMarkers[type];
  return std::to_string(static_cast<long long>(sdf_seed_value(i)) - offset);
}

// A number as the SDF writer prints it.
std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%12.10g", value);
  return text;
}

}  // namespace

const char* sdf_type_name(int type) { return kTypeNames[type]; }
std::size_t sdf_type_width(int type) { return kTypeWidths[type]; }

double sdf_seed_value(std::size_t i) { return static_cast<double>((i * 7 + 3) % 100); }

std::vector<std::uint8_t> binary_sdf(int type, std::uint16_t points, std::uint16_t profiles,
                                     const std::vector<std::uint8_t>& data,
                                     const BinaryHeader& header) {
  std::vector<std::uint8_t> out;
  put_text(out, "bBCR-1.0", 8);
  put_text(out, header.maker, 10);
  put_text(out, header.create_date, 12);
  put_text(out, header.mod_date, 12);
  put<std::uint16_t>(out, points);
  put<std::uint16_t>(out, profiles);
  put<double>(out, header.xy_scale);
  put<double>(out, header.xy_scale);
  put<double>(out, header.z_scale);
  put<double>(out, header.z_resolution);
  out.push_back(0);  // compression
  out.push_back(static_cast<std::uint8_t>(type));
  out.push_back(0);  // check type
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::string sdf_trailer(long offset, const std::string& attributes) {
  return "Data Offset = " + std::to_string(offset) + "\n" + attributes + "*\n";
}

std::string unit_trailer(const std::string& extra, long offset) {
  return sdf_trailer(offset, extra +
                                 "intf_scale_factor=         0.5\n"
                                 "obliquity_factor=           1\n"
                                 "wavelength_in=        8192\n"
                                 "num_aperture=         0.3\n"
                                 "lateral_res=       1e-06\n"
                                 "camera_width=640\n"
                                 "camera_height=480\n"
                                 "phase_res=0\n");
}

std::string ascii_sdf(std::uint32_t points, std::uint32_t profiles, const std::string& data,
                      const std::string& trailer, const AsciiHeader& header) {
  return header.version + "\nManufacID = " + header.maker + "\nCreateDate = 020320111022" +
         "\nModDate = " + header.mod_date + "\nNumPoints = " + std::to_string(points) +
         "\nNumProfiles = " + std::to_string(profiles) + "\nXscale = " + header.xy_scale +
         "\nYscale = " + header.xy_scale + "\nZscale = " + header.z_scale +
         "\nZresolution = " + header.z_scale + "\nCompression = 0\nDataType = " + header.type +
         "\nCheckType = 0\n*\n" + data + "*\n" + trailer;
}

std::vector<std::uint8_t> binary_sdf(int type, std::uint16_t points, std::uint16_t profiles) {
  std::vector<std::uint8_t> data;
  for (std::size_t i = 0; i < std::size_t{points} * profiles; ++i) put_value(data, type, i);
  return binary_sdf(type, points, profiles, data,
                    {.z_scale = kZ, .z_resolution = kZ, .mod_date = "080320141530"});
}

std::string ascii_sdf(int type, bool type_by_name, std::uint32_t points, std::uint32_t profiles) {
  // The data as decimal text, ten numbers to a line. ULONGINT data is
  // stored with a negative offset taken off, as the SDF writer does.
  std::string data;
  std::size_t count = std::size_t{points} * profiles;
  int offset = type == 2 ? kSeedDataOffset : 0;
  for (std::size_t i = 0; i < count; ++i) {
    data += value_text(type, i, offset);
    data += ' ';
    if (i % 10 == 9 || i + 1 == count) data += "\n";
  }

  // The trailer: the data offset and the attributes the import requires,
  // with the values that make one count one Zresolution:
  // 0.5 x 1 x wavelength / 4096 = 1e-9.
  const std::string scale = number(kScale), z = number(kZ);
  const std::string trailer = sdf_trailer(
      offset,
      "intf_scale_factor = 0.5\nobliquity_factor =           1\nwavelength_in = 8.192e-06\n"
      "num_aperture = 0.3\nlateral_res = " +
          scale +
          "\ncamera_width = 640\ncamera_height = 480\nphase_res = 0\n"
          "comment = \"seed file\"\nswinfo.date = \"Wed Mar 02 10:22:32 2011\"\n");
  return ascii_sdf(points, profiles, data, trailer,
                   {.type = type_by_name ? kTypeNames[type] : std::to_string(type),
                    .z_scale = z,
                    .maker = "KV8.3.5 ; instrument software",
                    .mod_date = "080320141530",
                    .xy_scale = scale});
}

std::vector<std::string> date_texts() {
  return {
      "Wed Mar 02 10:22:32 2011",
      "MAR 02 10:22:00 2011          ",
      "3/2/11 10:22 PM",
      "14 July 1999",
      "99",
      "n/a",
      "12/31/1999 11:59:59 AM",
      "Sunday 5 October 80",
      "Tuesday, February 29, 2000 12:00 PM",
      "2\\29\\96 0:00",
      "  10:22  ",
      "12 PM 7 81",
      "PM 31 79",
      "1/2/3/4 1:2:3:4",
      "",
  };
}

}  // namespace seeds
