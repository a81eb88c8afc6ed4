// Any SDF file, looked at rather than imported: files other programs wrote
// (no trailer, the ISO dialect, BAD for a missing point, unequal scales) and
// maps of any size the format holds, streamed as rows of heights instead of
// held. read_sdf_file keeps its own rules; this shares its readers.
#pragma once

#include <cstdint>
#include <string>

#include "datafile/header.h"
#include "surface/height_sink.h"

// The header section as the file writes it.
struct SdfSection {
  std::string version;
  std::string manufacturer;
  std::string create_date;
  std::string modify_date;
  std::uint64_t points = 0;
  std::uint64_t profiles = 0;
  double x_scale = 0, y_scale = 0, z_scale = 0, z_resolution = 0;
  int compression = 0, data_type = 0, check_type = 0;
};

enum class SdfTrailer {
  kNone,        // no trailer of tovrel's: the header section is all there is
  kComplete,    // tovrel's trailer with every required field
  kIncomplete,  // tovrel's trailer without some required field
};

class SdfInspection {
 public:
  // Reads the header section and the trailer of the SDF file at `path`.
  // Codes as read_sdf_file gives them, except that neither a missing or
  // incomplete trailer, nor unequal scales, nor a size beyond what the
  // import holds is an error (a row longer than 2^20 points is
  // ERR_DATASET_DIM_TOO_LARGE).
  [[nodiscard]] std::int32_t open(const char* path);

  // The header record as read_sdf_header builds it: the trailer's, where
  // the file has one, over what the header section gives.
  const Header& header() const { return header_; }
  const SdfSection& section() const { return section_; }
  SdfTrailer trailer() const { return trailer_; }
  bool binary() const { return binary_; }

  // The map: values are the file's numbers plus the trailer's data offset;
  // in metres they are value x unit, where the unit is the height step of
  // the trailer's header when Zscale says that step, else Zscale. Missing
  // points: the type's largest value, BAD, NaN, an infinity, and in the ISO
  // dialect a signed type's smallest value too.
  const surface::MapGeometry& geometry() const { return map_; }
  // Value x this = phase counts of header(), as read_sdf_file restores them.
  double count_factor() const { return count_factor_; }

  // One pass over the data section: every row to `sink`.
  [[nodiscard]] std::int32_t read(surface::HeightSink& sink) const;

 private:
  std::string path_;
  Header header_{};
  SdfSection section_;
  SdfTrailer trailer_ = SdfTrailer::kNone;
  bool binary_ = false;
  bool iso_ = false;
  std::int64_t data_offset_ = 0;
  std::uint64_t data_start_ = 0;  // where the data section begins
  surface::MapGeometry map_;
  double count_factor_ = 1;
};
