// tovrel-info: what a binary data file or an SDF file holds, as text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "datafile/header.h"
#include "datafile/records.h"
#include "sdf/sdf_inspect.h"
#include "surface/height_sink.h"
#include "surface/parameters.h"
#include "x3p/x3p_reader.h"

// Loads the measurement in `path` (library path convention), whichever kind
// of file it is: a binary data file (told by its magic number) or an SDF file
// in ASCII or binary form (its version text begins with a letter). The SDF
// import brings the values back to phase counts, so both kinds give the same
// records for the same measurement. ERR_NOT_A_DATA_FILE for anything else.
// `kind`, when given, tells which kind of file it was.
// An x3p file (a ZIP archive) is read by read_x3p_file instead: a file of
// that kind gives ERR_NOT_A_DATA_FILE here.
enum class MeasurementKind { kDataFile, kSdfAscii, kSdfBinary, kX3p };
// The kind alone, from the file's first bytes; ERR_NOT_A_DATA_FILE for
// anything else. The one place a file's kind is told: tovrel's check of an
// output in the way and the folder forms' choice of inputs ask it too.
[[nodiscard]] std::int32_t measurement_kind(const char* path, MeasurementKind& kind);
[[nodiscard]] std::int32_t load_measurement(const char* path, Header* header, PhaseRecord* phase,
                                            MeasurementKind* kind = nullptr);

// The phase data in numbers: counts and, through the header's height step,
// metres.
struct PhaseSummary {
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::int64_t valid = 0;  // points below the invalid marker
  std::int32_t smallest = 0;
  std::int32_t largest = 0;
  double step = 0;  // metres per phase count
  // False when the extremes are no phase counts of the header (a file of
  // other software, scaled far from them): they are then only in metres.
  bool counted = true;
  double smallest_m = 0, largest_m = 0;
};
PhaseSummary summarize_phase(const Header& header, const PhaseRecord& phase);

// A measurement file opened for inspection, whichever kind it is: its header
// record, its map, and a way to read the map as a stream of rows (as often as
// asked), so that a map of any size is never held whole.
struct MeasurementView {
  MeasurementKind kind = MeasurementKind::kDataFile;
  Header header{};
  surface::MapGeometry map;
  double count_factor = 1;  // value x this = phase counts of the header
  // SDF files: the header section as written and the trailer found.
  SdfSection section;
  SdfTrailer trailer = SdfTrailer::kNone;
  std::function<std::int32_t(surface::HeightSink&)> read;
};
[[nodiscard]] std::int32_t open_measurement(const char* path, MeasurementView* view);

// A phase record in memory as such a view (of `kind`), and the rows of one
// as a pass. The view refers to `header` and `phase`, which must outlive it.
void view_of_phase(MeasurementKind kind, const Header& header, const PhaseRecord& phase,
                   MeasurementView* view);
void feed_phase(const Header& header, const PhaseRecord& phase, surface::HeightSink& sink);
// An x3p file that read_x3p_file has read into `x3p`: with tovrel's
// attributes its phase counts, a map like any other (view_of_phase; the view
// refers to `x3p`, which must outlive it); of another writer its heights in
// metres, read from the file on each pass.
void view_of_x3p(const std::string& path, const X3pContent& x3p, MeasurementView* view);

// What tovrel-info found beyond the header: the summary, the height
// parameters and the picture.
struct PictureFacts {
  std::string shown;                    // the PNG's name as the user sees it
  std::uint64_t width = 0, height = 0;  // pixels of the map part
  double low = 0, high = 0;             // the colour scale's ends, in metres
  bool any = false;                     // false: no valid point, nothing to scale
};
struct InfoReport {
  PhaseSummary summary;
  bool measured = false;  // the parameters were asked for
  surface::HeightParameters parameters;
  bool pictured = false;
  PictureFacts picture;
};

struct InfoOptions {
  bool parameters = true;
  std::string image;         // the PNG to write (library path), empty for none
  std::string image_shown;   // its name as typed
  std::string source_shown;  // the file's name as typed, for the picture's title
  // A map of at most this many bytes is kept for the second pass; a larger
  // one is read again. 256 MiB: an 8192 x 8192 map of whole numbers.
  std::size_t keep_bytes = std::size_t{256} << 20;
};

// Reads the map of `view` once or twice and fills `report`: the summary
// always, the parameters and the picture as `options` ask. A picture that
// cannot be written gives ERR_CANT_CREATE_FILE or ERR_CANT_WRITE_FILE.
[[nodiscard]] std::int32_t inspect_measurement(const MeasurementView& view,
                                               const InfoOptions& options, InfoReport* report);

// The listing of an inspected file: write_measurement_info's lines, then the
// parameters, the SDF header section and the picture. False when a write
// failed.
[[nodiscard]] bool write_inspection(std::FILE* out, const MeasurementView& view,
                                    const InfoReport& report);
// The same as one JSON document, on one line when `one_line`.
[[nodiscard]] bool write_inspection_json(std::FILE* out, const std::string& name,
                                         const MeasurementView& view, const InfoReport& report,
                                         bool one_line);

// Writes the header attribute listing (as an SDF trailer holds it), an empty
// line and the phase summary. False when a write failed.
[[nodiscard]] bool write_measurement_info(std::FILE* out, const Header& header,
                                          const PhaseRecord& phase);

// The same content as one JSON document: the file's name and kind, every
// attribute with its typed value (in listing order; floats that are no
// number as "nan", "-nan", "inf", "-inf"; texts as the listing shows them)
// and the phase summary. False when a write failed.
[[nodiscard]] bool write_measurement_json(std::FILE* out, const std::string& name,
                                          MeasurementKind kind, const Header& header,
                                          const PhaseRecord& phase);

// An x3p file: its records, then, with tovrel's attributes, the listing and
// phase summary as write_measurement_info writes them, else the heights in
// metres. False when a write failed.
// With `view` and `report` (tovrel's x3p), the inspection's listing instead.
[[nodiscard]] bool write_x3p_info(std::FILE* out, const X3pContent& x3p,
                                  const MeasurementView* view = nullptr,
                                  const InfoReport* report = nullptr);

// The same as one JSON document, kind "x3p": the records, the sums, and
// either the attributes and the phase summary or the heights.
// With `report`, its parameters and picture too; on one line when `one_line`.
[[nodiscard]] bool write_x3p_json(std::FILE* out, const std::string& name, const X3pContent& x3p,
                                  const InfoReport* report = nullptr, bool one_line = false);

// Exit statuses of tovrel-info.
enum InfoStatus : int {
  INFO_OK = 0,
  INFO_USAGE = 1,
  INFO_READ_FAILED = 2,
  INFO_WRITE_FAILED = 3,
};

// Runs tovrel-info for the arguments after the program name. The listing (or,
// for --help, the usage text) goes to `out`; messages go to `err`, naming the
// file as the user typed it, the error and, where the system gave one, the
// reason.
int run_tovrel_info(const std::vector<CommandArg>& args, std::FILE* out, std::FILE* err);
