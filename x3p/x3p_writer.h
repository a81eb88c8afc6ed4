// Writing a measurement as an x3p file (ISO 25178-72): a ZIP archive of
// main.xml, the point data, md5checksum.hex and the header attributes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "datafile/header.h"
#include "platform/output_file.h"
#include "sdf/sdf_convert.h"

// The archive's entries, in the order they are written. main.xml comes
// first, as readers that look for it near the start expect.
inline constexpr char kX3pMainXml[] = "main.xml";
inline constexpr char kX3pPointData[] = "bindata/data.bin";
inline constexpr char kX3pChecksumFile[] = "md5checksum.hex";
// Every header attribute with the data offset, as the SDF trailer lists
// them, in the entry that main.xml's VendorSpecificID names.
inline constexpr char kX3pAttributes[] = "tovrel/attributes.txt";
inline constexpr char kX3pVendorId[] = "urn:tovrel:x3p:attributes:1";

// The pixel size (both increments), the double of the SDF Xscale text.
double x3p_pixel_size(const Header& header);

// main.xml for a map of `width` x `height` points of `header`, whose point
// data has the MD5 sum `data_md5` (32 hexadecimal digits). Its length does
// not depend on the sum.
std::string x3p_main_xml(const Header& header, std::uint32_t width, std::uint32_t height,
                         std::string_view data_md5);

// Writes the x3p file of the binary data file `in` to `out`, as
// convert_data_file writes SDF: the same checks of the input with the same
// codes before the output is created, constant memory, the values turned
// into heights on `threads` threads (as convert_data_file takes them),
// and a complete output or none. Each height is the listed value of the SDF
// file times its Zscale, a point without a measurement is NaN; the data
// offset and every attribute travel in kX3pAttributes. `out` must be
// seekable (a regular file): the sums are written into main.xml once the
// data is through.
[[nodiscard]] std::int32_t convert_data_file_to_x3p(const char* in, const char* out,
                                                    OutputMode mode, ConvertStage* stage = nullptr,
                                                    int threads = 0);
