// tovrel-info's inspection path: every kind of file opened as a stream of
// rows, and the passes over it that the summary, the height parameters and
// the picture need.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "cli/info.h"
#include "datafile/reader.h"
#include "errors/errors.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "sdf/sdf_writer.h"
#include "surface/map_cache.h"
#include "surface/picture.h"

namespace {

// The phase block of a binary data file, a row at a time.
std::int32_t read_data_rows(const std::string& path, surface::HeightSink& sink) {
  Header h{};
  PhaseRecord phase;
  std::int64_t offset = 0;
  File f;
  if (std::int32_t err = open_data_file(path.c_str(), &h, &phase, &offset, &f)) return err;
  const std::size_t w = static_cast<std::size_t>(std::max<std::int16_t>(phase.width, 0));
  const std::size_t rows = static_cast<std::size_t>(std::max<std::int16_t>(phase.height, 0));
  surface::MapGeometry map;
  map.width = w;
  map.height = rows;
  map.dx = h.pixel_width;
  map.dy = h.pixel_height;
  map.unit = sdf_height_step(h);
  map.integral = true;
  sink.begin(map);
  if (w == 0 || rows == 0) return ERR_NONE;
  if (u_fseek(f.get(), offset) != 0) return ERR_CORRUPT_DATA_FILE;
  std::vector<std::uint8_t> bytes(w * 4);
  std::vector<double> values(w);
  std::vector<std::uint8_t> missing(w);
  for (std::size_t y = 0; y < rows; ++y) {
    if (std::fread(bytes.data(), 4, w, f.get()) != w) return ERR_CORRUPT_DATA_FILE;
    for (std::size_t i = 0; i < w; ++i) {
      const auto v = static_cast<std::int32_t>(load_be32(bytes.data() + 4 * i));
      missing[i] = v >= kInvalidPhase;
      values[i] = missing[i] ? 0.0 : v;
    }
    sink.row(y, values.data(), missing.data());
  }
  return ERR_NONE;
}

// The extremes of the values as phase counts of the header, restored as
// read_sdf_file restores them.
bool to_counts(double v, double factor, std::int32_t& out) {
  const double r = std::round(factor == 1.0 ? v : v * factor);
  if (!(r >= -2147483648.0 && r < static_cast<double>(kInvalidPhase))) return false;
  out = static_cast<std::int32_t>(r);
  return true;
}

PhaseSummary summary_of(const MeasurementView& view, const surface::RangeSink& range) {
  PhaseSummary s;
  s.width = static_cast<std::int64_t>(view.map.width);
  s.height = static_cast<std::int64_t>(view.map.height);
  s.step = sdf_height_step(view.header);
  s.valid = static_cast<std::int64_t>(range.valid());
  if (s.valid > 0) {
    // Phase counts where the values are counts of the header (a data file,
    // tovrel's SDF, a file whose Zscale is its Zresolution); else metres only.
    s.counted = (view.count_factor == 1.0 || view.trailer == SdfTrailer::kComplete) &&
                to_counts(range.smallest(), view.count_factor, s.smallest) &&
                to_counts(range.largest(), view.count_factor, s.largest);
    s.smallest_m = s.counted ? s.smallest * s.step : range.smallest() * view.map.unit;
    s.largest_m = s.counted ? s.largest * s.step : range.largest() * view.map.unit;
  }
  return s;
}

// The second look at a kept map: the heights above the plane and the
// brackets of the picture's scale, in one replay.
struct SecondLook final : surface::HeightSink {
  // `grid`: the picture's grid, summed here too (its blocks of rows whole).
  SecondLook(bool measure, const surface::Plane& plane, const surface::RankBrackets& brackets,
             surface::PictureGrid* grid)
      : measure(measure), moments(plane), ranks(brackets) {
    if (grid) part.emplace(*grid);
  }
  void begin(const surface::MapGeometry& map) override {
    moments.begin(map);
    ranks.begin(map);
  }
  void row(std::uint64_t y, const double* values, const std::uint8_t* missing) override {
    if (measure) moments.row(y, values, missing);
    ranks.row(y, values, missing);
    if (part) part->row(y, values, missing);
  }
  void merge(const SecondLook& other) {
    moments.merge(other.moments);
    ranks.merge(other.ranks);
  }
  bool measure;
  surface::ResidualMoments moments;
  surface::RankBrackets ranks;
  std::optional<surface::PictureGrid::Part> part;
};

std::int32_t open_view(const char* path, MeasurementView* view) {
  *view = MeasurementView{};
  if (std::int32_t err = measurement_kind(path, view->kind)) return err;
  if (view->kind == MeasurementKind::kX3p) return ERR_NOT_A_DATA_FILE;  // read_x3p_file reads it
  const std::string name = u_path_copy(path);
  if (view->kind == MeasurementKind::kDataFile) {
    PhaseRecord phase;
    std::int64_t offset = 0;
    File f;
    if (std::int32_t err = open_data_file(path, &view->header, &phase, &offset, &f)) return err;
    const Header& h = view->header;
    view->map.width = static_cast<std::uint64_t>(std::max<std::int16_t>(phase.width, 0));
    view->map.height = static_cast<std::uint64_t>(std::max<std::int16_t>(phase.height, 0));
    view->map.dx = h.pixel_width;
    view->map.dy = h.pixel_height;
    view->map.unit = sdf_height_step(h);
    view->map.integral = true;
    view->read = [name](surface::HeightSink& sink) { return read_data_rows(name, sink); };
    return ERR_NONE;
  }
  auto sdf = std::make_shared<SdfInspection>();
  if (std::int32_t err = sdf->open(path)) return err;
  view->header = sdf->header();
  view->map = sdf->geometry();
  view->count_factor = sdf->count_factor();
  view->section = sdf->section();
  view->trailer = sdf->trailer();
  view->read = [sdf](surface::HeightSink& sink) { return sdf->read(sink); };
  return ERR_NONE;
}

std::int32_t inspect(const MeasurementView& view, const InfoOptions& options, InfoReport* report) {
  *report = InfoReport{};
  surface::RangeSink range;
  surface::PlaneFit plane;
  surface::MapCache cache(options.keep_bytes);
  surface::PictureGrid grid;
  surface::Percentiles percentiles(0.005, 0.995);
  const bool picture = !options.image.empty();
  const bool second = options.parameters || picture;
  // A map that will be kept gets the percentiles' first pass from the kept
  // map, on every processor, instead of on the reading thread.
  const bool counted_later = picture && cache.fits(view.map);
  // So does its grid, where the replay's blocks hold whole grid rows.
  const bool grid_later =
      counted_later && surface::PictureGrid::whole_rows_in(view.map, surface::kReplayBlockRows);
  if (grid_later) grid.begin(view.map);
  surface::HeightFanout first;
  first.add(range);
  if (picture && !grid_later) first.add(grid);
  if (picture && !counted_later) first.add(percentiles);
  if (second) first.add(cache);
  if (options.parameters) first.add(plane);
  if (std::int32_t err = view.read(first)) return err;
  report->summary = summary_of(view, range);
  if (!second) return ERR_NONE;

  // A kept map gets the residuals and, where a sample tells where they lie,
  // the scale's percentiles in one replay on every processor; the
  // percentiles' histogram passes only when that fails.
  surface::HeightParameters parameters;
  bool scaled = false;
  double low = 0, high = 0;
  bool ranked = false;
  if (cache.complete()) {
    const surface::Plane p = plane.plane();
    if (picture && range.valid() > 0) {
      const surface::RankBrackets brackets(cache, 0.005, 0.995, range.valid());
      SecondLook look = surface::replay_in_blocks<SecondLook>(cache, 0, [&] {
        return SecondLook(options.parameters, p, brackets, grid_later ? &grid : nullptr);
      });
      parameters = look.moments.parameters();
      ranked = look.ranks.finish();
      if (ranked) scaled = true, low = look.ranks.low(), high = look.ranks.high();
    } else if (options.parameters) {
      parameters = surface::replay_in_blocks<surface::ResidualMoments>(cache, 0, [&p] {
                     return surface::ResidualMoments(p);
                   }).parameters();
    }
  }
  if (counted_later && !ranked) {
    if (cache.complete()) {
      percentiles = surface::replay_counting<surface::Percentiles>(
          cache, 0, [&percentiles] { return percentiles; });
    } else {  // the map was given up
      surface::HeightFanout again;
      again.add(percentiles);
      if (grid_later) again.add(grid);
      if (std::int32_t err = view.read(again)) return err;
    }
  }
  const bool fine = picture && !ranked && percentiles.second_pass();
  if (cache.complete()) {
    if (fine) {
      percentiles = surface::replay_counting<surface::Percentiles>(
          cache, 0, [&percentiles] { return percentiles; });
    }
  } else if (options.parameters || fine) {
    // A map too large to keep is read again.
    surface::ResidualMoments moments(plane.plane());
    surface::HeightFanout again;
    if (options.parameters) again.add(moments);
    if (fine) again.add(percentiles);
    if (std::int32_t err = view.read(again)) return err;
    parameters = moments.parameters();
  }
  if (fine) scaled = true, low = percentiles.low(), high = percentiles.high();
  if (picture) {
    PictureFacts& facts = report->picture;
    surface::PictureScale scale;
    scale.any = scaled;
    if (scaled) scale.low = low, scale.high = high;
    facts.shown = options.image_shown;
    facts.width = grid.width();
    facts.height = grid.height();
    facts.any = scaled;
    facts.low = scale.low * view.map.unit;
    facts.high = scale.high * view.map.unit;
    char low[40], high[40];
    std::snprintf(low, sizeof low, "%.17g", facts.low);
    std::snprintf(high, sizeof high, "%.17g", facts.high);
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"Title", options.source_shown},
        {"Software", "tovrel-info"},
        {"Description",
         "Heights in false colour; the scale spans the 0.5 to 99.5 percentile "
         "of the valid heights; grey: no height"},
        {"Scale low (m)", scaled ? low : "none"},
        {"Scale high (m)", scaled ? high : "none"}};
    if (std::int32_t err =
            surface::write_picture(options.image.c_str(), grid, scale, view.map.unit, texts))
      return err;
    report->pictured = true;
  }
  if (options.parameters) {
    report->measured = true;
    report->parameters = parameters;
  }
  return ERR_NONE;
}

}  // namespace

// Running out of memory anywhere in the passes (rows, records, the picture)
// is a code like any other failure, never an exception out of the library.
std::int32_t open_measurement(const char* path, MeasurementView* view) {
  try {
    return open_view(path, view);
  } catch (const std::bad_alloc&) {
    *view = MeasurementView{};
    return ERR_NO_MEM;
  }
}

std::int32_t inspect_measurement(const MeasurementView& view, const InfoOptions& options,
                                 InfoReport* report) {
  try {
    return inspect(view, options, report);
  } catch (const std::bad_alloc&) {
    return ERR_NO_MEM;
  }
}

void feed_phase(const Header& header, const PhaseRecord& phase, surface::HeightSink& sink) {
  surface::MapGeometry map;
  const bool any = phase.data && phase.width > 0 && phase.height > 0;
  map.width = any ? static_cast<std::uint64_t>(phase.width) : 0;
  map.height = any ? static_cast<std::uint64_t>(phase.height) : 0;
  map.unit = sdf_height_step(header);
  map.integral = true;
  sink.begin(map);
  std::vector<double> values(map.width);
  std::vector<std::uint8_t> missing(map.width);
  for (std::uint64_t y = 0; y < map.height; ++y) {
    for (std::uint64_t i = 0; i < map.width; ++i) {
      const std::int32_t v = phase.data[y * map.width + i];
      missing[i] = v >= kInvalidPhase;
      values[i] = missing[i] ? 0.0 : v;
    }
    sink.row(y, values.data(), missing.data());
  }
}

void view_of_phase(MeasurementKind kind, const Header& header, const PhaseRecord& phase,
                   MeasurementView* view) {
  *view = MeasurementView{};
  view->kind = kind;
  view->header = header;
  const bool any = phase.data && phase.width > 0 && phase.height > 0;
  view->map.width = any ? static_cast<std::uint64_t>(phase.width) : 0;
  view->map.height = any ? static_cast<std::uint64_t>(phase.height) : 0;
  view->map.dx = header.pixel_width;
  view->map.dy = header.pixel_height;
  view->map.unit = sdf_height_step(header);
  view->map.integral = true;
  view->read = [&header, &phase](surface::HeightSink& sink) {
    feed_phase(header, phase, sink);
    return std::int32_t{ERR_NONE};
  };
}

void view_of_x3p(const std::string& path, const X3pContent& x3p, MeasurementView* view) {
  if (x3p.has_attributes) return view_of_phase(MeasurementKind::kX3p, x3p.header, x3p.phase, view);
  const X3pRecords& records = x3p.records;
  *view = MeasurementView{};
  view->kind = MeasurementKind::kX3p;
  view->map.width = records.size_x;
  view->map.height = records.size_y;
  view->map.dx = records.x.increment;
  view->map.dy = records.y.increment;
  view->read = [path](surface::HeightSink& sink) {
    X3pContent again;
    return read_x3p_file(path.c_str(), again, &sink);
  };
}
