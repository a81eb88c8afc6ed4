// Fuzzes tovrel-info's inspection of a file of any kind it reads (data
// file, SDF of either form): the summary, the height parameters and the
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = fuzz::scratch_file("inspected");
  fuzz::write_file(path, data, size);
  InfoOptions options;
  options.image = fuzz::scratch_file("picture.png");
  MeasurementView view;
  InfoReport report;
  std::int32_t code = open_measurement(path.c_str(), &view);
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
