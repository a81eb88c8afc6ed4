// Writing a measurement as an SDF file (ASCII form).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "datafile/header.h"
#include "datafile/records.h"
#include "platform/output_file.h"

// Writes `header` and `phase` to `path` (see file_io.h for the path
// convention) as an SDF file; `intensity` is accepted and not used. The file
// is written as output_file.h describes: complete or not at all, an existing
// file replaced in one step (kReplace) or never (kCreateNew).
// Returns 0, ERR_INVALID_PARAM (no header or phase record, or a phase record
// whose array holds fewer than width x height values; nothing is created),
// ERR_CANT_CREATE_FILE (the file cannot be created; with kCreateNew and
// errno EEXIST, a file of that name exists) or ERR_CANT_WRITE_FILE (a write,
// the final close or putting the file in place failed; the old output stays
// as it was).
[[nodiscard]] std::int32_t sdf_export(const char* path, const Header* header,
                                      const IntensityRecord* intensity, const PhaseRecord* phase,
                                      OutputMode mode = OutputMode::kReplace);

// The same measurement in the binary form: version text "bBCR-1.0", the
// 81-byte little-endian header (the scales as the ASCII form's texts read),
// data type ULONGINT with 0xFFFFFFFF for points without a measurement, the
// values as in the ASCII form, then the same trailer. Written and reported as
// sdf_export does; ERR_INVALID_PARAM also for negative dimensions.
[[nodiscard]] std::int32_t sdf_export_binary(const char* path, const Header* header,
                                             const IntensityRecord* intensity,
                                             const PhaseRecord* phase,
                                             OutputMode mode = OutputMode::kReplace);

// The pieces both forms share.

// The two date stamps of the header section, from one clock reading:
// CreateDate from the header's date text (the current time when it is
// empty), ModDate the current time.
struct SdfStamps {
  std::string created;
  std::string modified;
};
SdfStamps sdf_stamps(const Header& header);

// Lines 1 to 14 of the ASCII form, the header section, for a phase block of
// `phase`'s width and height (its values are not read). False when a write
// failed.
[[nodiscard]] bool sdf_write_header_section(std::FILE* stream, const Header& header,
                                            const PhaseRecord& phase);

// The trailer: "Data Offset = `offset`", the header attribute listing and the
// closing "*". False when a write failed.
[[nodiscard]] bool sdf_write_trailer(std::FILE* stream, const Header& header, std::int32_t offset);

// The trailer's text, each line ended by a line feed.
std::string sdf_trailer_text(const Header& header, std::int32_t offset);

// The pieces of the data section, for the writer, its tests and benchmarks.

// The offset taken off the data: the smallest of the `count` values when it
// is negative, else 0. Invalid points, being the largest values, never lower
// it.
std::int32_t sdf_data_offset(const std::int32_t* values, std::int32_t count);

// Writes the data lines for `count` values: each value minus `offset` (or
// 4294967295 for an invalid point) as "%u " would, ten to a line, a line
// break after every tenth value and after a shorter last line. Nothing for
// count <= 0. False when a write failed.
[[nodiscard]] bool sdf_write_data_section(std::FILE* stream, const std::int32_t* values,
                                          std::int32_t count, std::int32_t offset);

// The binary form's 81-byte header for a phase block of `phase`'s width and
// height (its values are not read). False when a write failed.
[[nodiscard]] bool sdf_write_binary_header(std::FILE* stream, const Header& header,
                                           const PhaseRecord& phase);

// The binary form's values for `count` values: each value minus `offset` (or
// 4294967295 for an invalid point) as a 32-bit little-endian number, 4 x
// `count` bytes at `out`. Returns the end.
unsigned char* format_binary_values(unsigned char* out, const std::int32_t* values,
                                    std::size_t count, std::int32_t offset);

// The height of one phase count: intf_scale_factor x obliquity_factor x
// wavelength_in / 4096 (phase_res 0) or / 32768, each step rounded to single
// precision in that order.
float sdf_height_step(const Header& header);

// The double that a header float's "%12.10g" text (format_float_g) reads
// back as: what the binary header, the x3p file and the import take for the
// scales.
double sdf_listed_value(float value);

// The height of one phase count as the SDF file's Zscale line carries it:
// sdf_listed_value(sdf_height_step(header)).
double sdf_phase_unit(const Header& header);

// Builds a header record from the given parts and writes it with `phase` as
// an SDF file. A record without data counts as absent; ERR_INVALID_PARAM when
// both are absent or the phase record holds fewer values than its geometry.
[[nodiscard]] std::int32_t write_sdf_file(const char* path, const void* software_info,
                                          const void* header_tail, const IntensityRecord* intensity,
                                          const PhaseRecord* phase);
