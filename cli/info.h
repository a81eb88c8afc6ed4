// tovrel-info: what a binary data file or an SDF file holds, as text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "datafile/header.h"
#include "datafile/records.h"
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
[[nodiscard]] std::int32_t load_measurement(const char* path, Header* header, PhaseRecord* phase,
                                            MeasurementKind* kind = nullptr);

// The phase data in numbers: counts and, through the header's height step,
// metres.
struct PhaseSummary {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int64_t valid = 0;  // points below the invalid marker
  std::int32_t smallest = 0;
  std::int32_t largest = 0;
  double step = 0;  // metres per phase count
};
PhaseSummary summarize_phase(const Header& header, const PhaseRecord& phase);

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
[[nodiscard]] bool write_x3p_info(std::FILE* out, const X3pContent& x3p);

// The same as one JSON document, kind "x3p": the records, the sums, and
// either the attributes and the phase summary or the heights.
[[nodiscard]] bool write_x3p_json(std::FILE* out, const std::string& name, const X3pContent& x3p);

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
