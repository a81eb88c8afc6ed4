// Converts a binary data file to SDF through the library, as tovrel does,
// reads the SDF file back and checks that the geometry, every phase value
// and the header came through.
//
//   convert_sample INPUT.dat OUTPUT.sdf
//
// Exit status 0 when all holds; otherwise 1, with the reason on standard
// error.
#include <cstdio>
#include <string>

#include "can/can_access.h"
#include "datafile/reader.h"
#include "errors/errors.h"
#include "sdf/attributes.h"
#include "sdf/sdf_import.h"
#include "sdf/sdf_writer.h"

namespace {

// The header's attribute listing, as an SDF trailer (and tovrel-info) shows
// it; empty when it cannot be written.
std::string listing(const Header& header) {
  std::FILE* f = std::tmpfile();
  if (!f) return "";
  std::string text;
  if (write_header_attributes(f, &header) >= 0 && std::fflush(f) == 0) {
    std::rewind(f);
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, f)) text.append(buffer, n);
  }
  std::fclose(f);
  return text;
}

int fail(const char* what, std::int32_t code) {
  std::fprintf(stderr, "convert_sample: %s: %s\n", what, error_name(code));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: convert_sample INPUT.dat OUTPUT.sdf\n", stderr);
    return 1;
  }
  Header header{};
  IntensityRecord intensity;
  PhaseRecord phase;
  if (std::int32_t err = read_data_file(argv[1], &header, &intensity, &phase))
    return fail("reading the data file", err);
  if (std::int32_t err = sdf_export(argv[2], &header, &intensity, &phase))
    return fail("writing the SDF file", err);

  Header back{};
  PhaseRecord back_phase;
  if (std::int32_t err = read_sdf_header(argv[2], &back, &back_phase))
    return fail("reading the SDF file back", err);
  if (back_phase.width != phase.width || back_phase.height != phase.height ||
      back_phase.count != phase.count || phase.count <= 0) {
    std::fprintf(stderr, "convert_sample: %dx%d points read back as %dx%d\n", phase.width,
                 phase.height, back_phase.width, back_phase.height);
    return 1;
  }
  for (std::int32_t i = 0; i < phase.count; ++i) {
    // Every invalid point (kInvalidPhase or above) comes back as kInvalidPhase.
    bool invalid = phase.data[i] >= kInvalidPhase;
    if (invalid ? back_phase.data[i] != kInvalidPhase : back_phase.data[i] != phase.data[i]) {
      std::fprintf(stderr, "convert_sample: point %d is %d, read back as %d\n", i, phase.data[i],
                   back_phase.data[i]);
      return 1;
    }
  }
  if (listing(header) != listing(back) || listing(header).empty()) {
    std::fputs("convert_sample: the header attributes did not come back\n", stderr);
    return 1;
  }
  // Reading an SDF file as a binary data file is refused by name.
  Header none{};
  if (read_data_file(argv[2], &none, nullptr, nullptr) != ERR_NOT_A_DATA_FILE) {
    std::fputs("convert_sample: an SDF file was not refused as a data file\n", stderr);
    return 1;
  }
  // The CAN layer links too: its statuses map onto the error catalogue.
  if (can_status_to_error(CAN_TIMEOUT) == ERR_NONE) {
    std::fputs("convert_sample: a CAN timeout maps to no error\n", stderr);
    return 1;
  }
  std::printf("%s: %dx%d points, written and read back unchanged\n", argv[2], phase.width,
              phase.height);
  return 0;
}
