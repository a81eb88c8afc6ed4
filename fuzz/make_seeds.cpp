// tovrel-fuzz-seeds: writes the fuzzers' seed corpora from the project's own
// generators into OUTDIR/<target>/ (the committed copy lives in fuzz/corpus).
//
//   tovrel-fuzz-seeds OUTDIR
//
// Seeds stay small (a few KB per target) so that the fuzzers mutate them
// quickly: tiny synthetic measurements of every file format, SDF files of
// both forms and all eight data types, date texts, and SDO frames.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "can/sdo_frame.h"
#include "datafile/data_writer.h"
#include "fuzz/seed_files.h"
#include "sdf/sdf_writer.h"
#include "tools/synthetic.h"

namespace fs = std::filesystem;

namespace {

bool write(const fs::path& dir, const std::string& name, const void* data, std::size_t size) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  std::ofstream out(dir / name, std::ios::binary);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) std::fprintf(stderr, "cannot write %s\n", (dir / name).string().c_str());
  return static_cast<bool>(out);
}

// An SDO frame seed: flags (bit 0: upload expected), the frame length, the
// index and subindex the client asked for, and the frame's data.
std::vector<std::uint8_t> frame_seed(bool upload, std::uint16_t index, std::uint8_t subindex,
                                     const CanFrame& frame) {
  std::vector<std::uint8_t> seed = {static_cast<std::uint8_t>(upload), frame.length,
                                    static_cast<std::uint8_t>(index & 0xFF),
                                    static_cast<std::uint8_t>(index >> 8), subindex};
  seed.insert(seed.end(), frame.data, frame.data + 8);
  return seed;
}

struct DataSeed {
  const char* name;
  SyntheticOptions options;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  const fs::path out = argv[1];
  bool ok = true;

  // Binary data files: each format, with and without the intensity block.
  const DataSeed data_seeds[] = {
      {"format1_6x4.dat", {1, 6, 4, true, 1}},
      {"format2_5x3_no_intensity.dat", {2, 5, 3, false, 2}},
      {"format3_4x3.dat", {3, 4, 3, true, 3}},
  };
  for (const DataSeed& seed : data_seeds) {
    Header h;
    IntensityRecord intensity;
    PhaseRecord phase;
    make_synthetic(seed.options, &h, &intensity, &phase);
    std::vector<std::uint8_t> bytes = encode_data_file(h, &intensity, &phase);
    ok &= write(out / "datafile_read", seed.name, bytes.data(), bytes.size());
    ok &= write(out / "convert", seed.name, bytes.data(), bytes.size());
    ok &= write(out / "inspect", seed.name, bytes.data(), bytes.size());

    // The same measurement through the SDF writer, for the ASCII import.
    if (seed.options.format == 1) {
      std::string sdf_path = (out / "writer_output.sdf").string();
      if (sdf_export(sdf_path.c_str(), &h, &intensity, &phase) == 0) {
        std::error_code ec;
        fs::create_directories(out / "sdf_ascii", ec);
        fs::rename(sdf_path, out / "sdf_ascii" / "writer_format1_6x4.sdf", ec);
        ok &= !ec;
      } else {
        std::fprintf(stderr, "note: the SDF writer gave no file; its seed is left out\n");
      }
    }
  }
  {
    // A header with no data blocks at all.
    Header h;
    IntensityRecord intensity;
    PhaseRecord phase;
    make_synthetic({1, 0, 0, false, 4}, &h, &intensity, &phase);
    std::vector<std::uint8_t> bytes = encode_data_file(h, nullptr, nullptr);
    ok &= write(out / "datafile_read", "format1_header_only.dat", bytes.data(), bytes.size());
  }

  // SDF files of both forms and every data type.
  for (int type = 0; type < seeds::kSdfTypeCount; ++type) {
    std::string name = seeds::sdf_type_name(type);
    for (auto& c : name) c = static_cast<char>(c - 'A' + 'a');
    std::vector<std::uint8_t> bin = seeds::binary_sdf(type, 3, 2);
    ok &= write(out / "sdf_binary", name + ".sdf", bin.data(), bin.size());
    std::string text = seeds::ascii_sdf(type, type % 2 == 0, 3, 2);
    ok &= write(out / "sdf_ascii", name + ".sdf", text.data(), text.size());
    ok &= write(out / "inspect", name + "_binary.sdf", bin.data(), bin.size());
    ok &= write(out / "inspect", name + "_ascii.sdf", text.data(), text.size());
  }
  // A ULONGINT file whose data runs over more than one line.
  std::string longer = seeds::ascii_sdf(2, false, 7, 3);
  ok &= write(out / "sdf_ascii", "ulongint_7x3.sdf", longer.data(), longer.size());

  int n = 0;
  for (const std::string& text : seeds::date_texts()) {
    char name[32];
    std::snprintf(name, sizeof name, "date%02d.txt", n++);
    ok &= write(out / "date_text", name, text.data(), text.size());
  }

  // SDO frames: requests a node's server takes, and the replies a client
  // expects (entries of the dual-motor dictionary and the identity object).
  const std::uint8_t value[4] = {0xDC, 0x05, 0x00, 0x00};
  CanFrame short_reply = sdo_upload_reply(5, 0x2036, 0, value, 2);
  short_reply.length = 6;
  const struct {
    const char* name;
    bool upload;
    std::uint16_t index;
    std::uint8_t subindex;
    CanFrame frame;
  } frames[] = {
      {"upload_request_1018_2", true, 0x1018, 2, sdo_upload_request(5, 0x1018, 2)},
      {"download_request_2034", false, 0x2034, 0, sdo_download_request(5, 0x2034, 0, value, 2)},
      {"download_request_2004", false, 0x2004, 0, sdo_download_request(5, 0x2004, 0, value, 4)},
      {"upload_reply_2036", true, 0x2036, 0, sdo_upload_reply(5, 0x2036, 0, value, 2)},
      {"upload_reply_short", true, 0x2036, 0, short_reply},
      {"download_reply_2034", false, 0x2034, 0, sdo_download_reply(5, 0x2034, 0)},
      {"abort_2021", false, 0x2021, 0, sdo_abort_frame(0x585, 0x2021, 0, kAbortWriteReadOnly)},
  };
  for (const auto& f : frames) {
    std::vector<std::uint8_t> seed = frame_seed(f.upload, f.index, f.subindex, f.frame);
    ok &= write(out / "sdo_frame", f.name, seed.data(), seed.size());
  }
  return ok ? 0 : 1;
}
