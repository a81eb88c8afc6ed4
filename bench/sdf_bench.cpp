// Speed of the SDF data section and of a whole 4096 x 4096 conversion, with
// the buffered number writer and with a plain writer that formats every value
// with fprintf, and of the streamed conversion on one to three threads
// (wall-clock time), in the same run. The per_point counter is the CPU time per
// phase point (shown with its unit, e.g. 6.0ns).
//
//   build/bench/bench/sdf_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "datafile/data_writer.h"
#include "datafile/reader.h"
#include "errors/errors.h"
#include "sdf/attributes.h"
#include "sdf/sdf_convert.h"
#include "sdf/sdf_writer.h"
#include "tools/synthetic.h"

namespace {

constexpr std::int16_t kSide = 4096;

#ifdef _WIN32
const char* const kNullDevice = "NUL";
#else
const char* const kNullDevice = "/dev/null";
#endif

struct Measurement {
  Header header{};
  IntensityRecord intensity;
  PhaseRecord phase;
  std::string dat_path, sdf_path;

  Measurement() {
    SyntheticOptions o;
    o.width = kSide;
    o.height = kSide;
    o.intensity = false;
    make_synthetic(o, &header, &intensity, &phase);
    auto dir = std::filesystem::temp_directory_path();
    dat_path = (dir / "tovrel-bench.dat").string();
    sdf_path = (dir / "tovrel-bench.sdf").string();
    if (write_data_file(dat_path.c_str(), header, &intensity, &phase) != 0) std::abort();
  }
  ~Measurement() {
    std::error_code ec;
    std::filesystem::remove(dat_path, ec);
    std::filesystem::remove(sdf_path, ec);
  }
};

Measurement& measurement() {
  static Measurement m;
  return m;
}

// The data section as a plain writer makes it: one fprintf per value.
bool plain_data_section(std::FILE* f, const std::int32_t* values, std::int32_t count,
                        std::int32_t offset) {
  int column = 1;
  for (std::int32_t i = 0; i < count; ++i) {
    std::uint32_t v = values[i] >= kInvalidPhase ? 0xFFFFFFFFu
                                                 : static_cast<std::uint32_t>(values[i]) -
                                                       static_cast<std::uint32_t>(offset);
    if (std::fprintf(f, "%u ", v) < 0) return false;
    if (++column > 10) {
      column = 1;
      std::fputc('\n', f);
    }
  }
  if (column != 1) std::fputc('\n', f);
  return true;
}

// A whole SDF file with the plain data section; the header and trailer lines
// are those of the real writer's format.
std::int32_t plain_export(const char* path, const Header& h, const PhaseRecord& p) {
  std::FILE* f = std::fopen(path, "w");
  if (!f) return ERR_CANT_CREATE_FILE;
  const float step = sdf_height_step(h);
  std::fprintf(f, "aBCR-1.0\nManufacID = KV%d.%d.%d\nCreateDate = 020320111022\n",
               h.swinfo.vers.maj, h.swinfo.vers.min, h.swinfo.vers.bug);
  std::fprintf(f, "ModDate = 020320111022\nNumPoints = %u\nNumProfiles = %u\n",
               static_cast<unsigned>(p.width), static_cast<unsigned>(p.height));
  std::fprintf(f, "Xscale = %12.10g\nYscale = %12.10g\nZscale = %12.10g\nZresolution = %12.10g\n",
               double{h.lateral_res}, double{h.lateral_res}, double{step}, double{step});
  std::fputs("Compression = 0\nDataType = 2\nCheckType = 0\n*\n", f);
  const std::int32_t count = std::int32_t{p.width} * p.height;
  const std::int32_t offset = sdf_data_offset(p.data.get(), count);
  plain_data_section(f, p.data.get(), count, offset);
  std::fprintf(f, "*\nData Offset = %d\n", offset);
  static_cast<void>(write_header_attributes(f, &h));  // the close reports failures
  std::fputs("*\n", f);
  return std::fclose(f) == 0 ? 0 : ERR_CANT_WRITE_FILE;
}

void set_points(benchmark::State& state) {
  const double points = double{kSide} * kSide;
  state.counters["per_point"] = benchmark::Counter(
      points, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <bool Buffered>
void BM_DataSection(benchmark::State& state) {
  const PhaseRecord& p = measurement().phase;
  const std::int32_t offset = sdf_data_offset(p.data.get(), p.count);
  std::FILE* f = std::fopen(kNullDevice, "w");
  if (!f) {
    state.SkipWithError("cannot open the null device");
    return;
  }
  for (auto _ : state) {
    bool ok = Buffered ? sdf_write_data_section(f, p.data.get(), p.count, offset)
                       : plain_data_section(f, p.data.get(), p.count, offset);
    std::fflush(f);
    if (!ok) state.SkipWithError("write failed");
  }
  std::fclose(f);
  set_points(state);
}

template <bool Buffered>
void BM_Conversion(benchmark::State& state) {
  Measurement& m = measurement();
  for (auto _ : state) {
    Header h{};
    IntensityRecord intensity;
    PhaseRecord phase;
    if (read_data_file(m.dat_path.c_str(), &h, &intensity, &phase) != 0) {
      state.SkipWithError("read failed");
      break;
    }
    std::int32_t err = Buffered ? sdf_export(m.sdf_path.c_str(), &h, &intensity, &phase)
                                : plain_export(m.sdf_path.c_str(), h, phase);
    if (err != 0) state.SkipWithError("write failed");
  }
  set_points(state);
}

// The streamed conversion tovrel runs, on that many threads (the calling one
// included).
void BM_Streamed(benchmark::State& state) {
  Measurement& m = measurement();
  const int threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    if (convert_data_file(m.dat_path.c_str(), m.sdf_path.c_str(), OutputMode::kReplace, nullptr,
                          threads) != 0)
      state.SkipWithError("conversion failed");
  }
  set_points(state);
}

}  // namespace

BENCHMARK(BM_Streamed)
    ->Name("Conversion4096/streamed")
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_DataSection<true>)->Name("DataSection/buffered")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataSection<false>)->Name("DataSection/fprintf")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Conversion<true>)->Name("Conversion4096/buffered")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Conversion<false>)->Name("Conversion4096/fprintf")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
