// Fuzzes a whole conversion: the bytes are read as a binary data file and,
// when that succeeds, written as an SDF file to a scratch file; the streamed
// conversion the tovrel command runs must give the same code and bytes. The SDF text is then
// checked line by line against the records it came from: the geometry lines, every data value
// (shifted by the offset, invalid points as 4294967295, ten to a line) and the data offset.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "datafile/header.h"
#include "datafile/reader.h"
#include "datafile/records.h"
#include "errors/errors.h"
#include "fuzz/fuzz_support.h"
#include "sdf/sdf_convert.h"
#include "sdf/sdf_import.h"
#include "sdf/sdf_writer.h"

namespace {

// Splits the file into lines without their "\n".
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    FUZZ_CHECK(end != std::string_view::npos);  // every line is ended
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // text mode on Windows
    lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

std::string key_line(const char* key, unsigned long long value) {
  return std::string(key) + " = " + std::to_string(value);
}

void check_sdf_text(const std::string& text, const PhaseRecord& phase) {
  std::vector<std::string_view> lines = lines_of(text);
  FUZZ_CHECK(lines.size() >= 17);
  FUZZ_CHECK(lines[0] == "aBCR-1.0");
  FUZZ_CHECK(lines[4] == key_line("NumPoints", static_cast<unsigned>(std::int32_t{phase.width})));
  FUZZ_CHECK(lines[5] ==
             key_line("NumProfiles", static_cast<unsigned>(std::int32_t{phase.height})));
  FUZZ_CHECK(lines[10] == "Compression = 0");
  FUZZ_CHECK(lines[11] == "DataType = 2");
  FUZZ_CHECK(lines[12] == "CheckType = 0");
  FUZZ_CHECK(lines[13] == "*");

  // The expected data: the smallest value (or 0) is the offset.
  std::int64_t count = std::int64_t{phase.width} * phase.height;
  if (count < 0) count = 0;
  std::int32_t offset = 0;
  for (std::int64_t i = 0; i < count; ++i) offset = std::min(offset, phase.data[i]);

  std::size_t line = 14;
  for (std::int64_t i = 0; i < count; i += 10) {
    FUZZ_CHECK(line < lines.size());
    std::string expected;
    for (std::int64_t k = i; k < std::min(count, i + 10); ++k) {
      std::int32_t v = phase.data[k];
      std::uint32_t out =
          v >= kInvalidPhase ? 0xFFFFFFFFu : static_cast<std::uint32_t>(std::int64_t{v} - offset);
      expected += std::to_string(out) + " ";
    }
    FUZZ_CHECK(lines[line] == expected);
    ++line;
  }
  FUZZ_CHECK(line + 2 < lines.size());
  FUZZ_CHECK(lines[line] == "*");
  FUZZ_CHECK(lines[line + 1] == "Data Offset = " + std::to_string(offset));
  // The attribute listing, a line each (a line break in a text is written as
  // a space), then the closing "*".
  FUZZ_CHECK(lines.back() == "*");
  FUZZ_CHECK(lines.size() == line + 2 + kListingLines + 1);
  for (std::size_t k = line + 2; k + 1 < lines.size(); ++k)
    FUZZ_CHECK(lines[k].find('=') != std::string_view::npos);
}

// The SDF file imports back to the phase values it was written from: its
// Zscale is the header's own height step, so every count comes back as it
// was (invalid points as the one invalid marker). An import may refuse the
// file only for what the header itself holds: a required attribute or the
// lateral resolution that is not a number (ERR_CORRUPT_DATA_FILE,
// ERR_BAD_PARAM), or a height step that is not a number while valid points
// need it (ERR_PARAM_OUT_OF_RANGE).
void check_read_back(const std::string& path, const Header& header, const PhaseRecord& phase) {
  std::vector<std::uint8_t> swinfo(kSoftwareInfoSize), tail(kHeaderTailSize);
  PhaseRecord back;
  std::int32_t code = read_sdf_file(path.c_str(), swinfo.data(), tail.data(), nullptr, &back);

  bool valid_points = false;
  for (std::int32_t i = 0; i < phase.count; ++i) valid_points |= phase.data[i] < kInvalidPhase;
  const bool numbers = !std::isnan(header.intf_scale_factor) &&
                       !std::isnan(header.obliquity_factor) && !std::isnan(header.wavelength_in) &&
                       !std::isnan(header.num_aperture) && !std::isnan(header.lateral_res);
  const bool step = !std::isnan(sdf_height_step(header)) || !valid_points;
  if (!numbers || !step) {
    FUZZ_CHECK(code == ERR_NONE || code == ERR_CORRUPT_DATA_FILE || code == ERR_BAD_PARAM ||
               code == ERR_PARAM_OUT_OF_RANGE);
    return;
  }
  FUZZ_CHECK(code == ERR_NONE);
  FUZZ_CHECK(back.width == phase.width && back.height == phase.height);
  FUZZ_CHECK(back.count == phase.count);
  for (std::int32_t i = 0; i < phase.count; ++i)
    FUZZ_CHECK(back.data[i] == std::min(phase.data[i], kInvalidPhase));
}

std::string without_mod_date(std::string text) {
  const std::size_t at = text.find("ModDate = ");
  if (at != std::string::npos) text.erase(at, text.find('\n', at) + 1 - at);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& in = fuzz::scratch_file("in.dat");
  const std::string& out = fuzz::scratch_file("out.sdf");
  fuzz::write_file(in, data, size);

  Header header{};
  IntensityRecord intensity;
  PhaseRecord phase;
  const std::int32_t code = read_data_file(in.c_str(), &header, &intensity, &phase);

  // The streamed conversion tovrel runs refuses exactly what the reader
  // refuses, with the same code and no output.
  const std::string& streamed = fuzz::scratch_file("streamed.sdf");
  std::remove(streamed.c_str());
  ConvertStage stage = ConvertStage::kNone;
  FUZZ_CHECK(convert_data_file(in.c_str(), streamed.c_str(), OutputMode::kReplace, &stage) == code);
  if (code != ERR_NONE) {
    FUZZ_CHECK(stage == ConvertStage::kRead);
    FUZZ_CHECK(std::fopen(streamed.c_str(), "rb") == nullptr);
    return 0;
  }

  FUZZ_CHECK(sdf_export(out.c_str(), &header, &intensity, &phase) == ERR_NONE);
  const std::string text = fuzz::read_file(out);
  check_sdf_text(text, phase);
  check_read_back(out, header, phase);
  // The same bytes, but for the time of writing.
  FUZZ_CHECK(without_mod_date(fuzz::read_file(streamed)) == without_mod_date(text));

  // The binary form likewise, but for its 12 characters of modification stamp.
  FUZZ_CHECK(convert_data_file(in.c_str(), streamed.c_str(), OutputMode::kReplace, nullptr, 0,
                               SdfForm::kBinary) == ERR_NONE);
  FUZZ_CHECK(sdf_export_binary(out.c_str(), &header, &intensity, &phase) == ERR_NONE);
  std::string binary = fuzz::read_file(streamed);
  const std::string expected = fuzz::read_file(out);
  FUZZ_CHECK(binary.size() == expected.size() && binary.size() > 42);
  binary.replace(30, 12, expected, 30, 12);
  FUZZ_CHECK(binary == expected);
  return 0;
}
