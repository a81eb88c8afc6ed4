// Fuzzes tovrel-info's inspection of a file of any kind it reads (data
// file, SDF of either form, x3p): the summary, the height parameters and the
// picture, as `tovrel-info --image` makes them. Besides "no crash, no hang,
// no read past a buffer" it checks that every failure is a code of the
// catalogue and that a success holds a consistent report: no more valid
// points than points, parameters that are numbers when they are defined,
// and a PNG file.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "cli/info.h"
#include "errors/errors.h"
#include "fuzz/fuzz_support.h"
#include "x3p/x3p_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = fuzz::scratch_file("inspected");
  fuzz::write_file(path, data, size);
  InfoOptions options;
  options.image = fuzz::scratch_file("picture.png");
  MeasurementView view;
  InfoReport report;
  // An x3p file is read whole first, as tovrel-info reads it.
  X3pContent x3p;
  MeasurementKind kind = MeasurementKind::kDataFile;
  std::int32_t code = measurement_kind(path.c_str(), kind);
  if (code == ERR_NONE && kind == MeasurementKind::kX3p) {
    code = read_x3p_file(path.c_str(), x3p);
    if (code == ERR_NONE) view_of_x3p(path, x3p, &view);
  } else if (code == ERR_NONE) {
    code = open_measurement(path.c_str(), &view);
  }
  if (code == ERR_NONE) code = inspect_measurement(view, options, &report);
  // The picture's place is the process's own scratch file: writing it
  // cannot fail for the input's sake.
  FUZZ_CHECK(code >= 0 && code <= ERR_COUNT);
  FUZZ_CHECK(code != ERR_CANT_CREATE_FILE && code != ERR_CANT_WRITE_FILE);
  if (code != ERR_NONE) return 0;

  const PhaseSummary& s = report.summary;
  FUZZ_CHECK(s.valid >= 0 && s.valid <= s.width * s.height);
  const surface::HeightParameters& p = report.parameters;
  FUZZ_CHECK(report.measured && p.valid == static_cast<std::uint64_t>(s.valid));
  if (p.defined) {
    for (double v : {p.sa, p.sq, p.sp, p.sv, p.sz}) FUZZ_CHECK(std::isfinite(v));
    FUZZ_CHECK(p.sa >= 0 && p.sq >= 0);
  }
  FUZZ_CHECK(report.pictured);
  const std::string png = fuzz::read_file(options.image);
  FUZZ_CHECK(png.size() > 8 && std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8) == 0);
  return 0;
}
