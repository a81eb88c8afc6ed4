// Converting a binary data file to an SDF file in constant memory.
#pragma once

#include <atomic>
#include <cstdint>

#include "datafile/header.h"
#include "datafile/records.h"
#include "platform/file_io.h"
#include "platform/output_file.h"
#include "sdf/sdf_output.h"

// A binary data file opened for a streamed conversion: its header, the
// phase block's geometry (no values), where the block starts in the file,
// the open file and the number of values in the block.
struct PhaseBlock {
  Header header{};
  PhaseRecord phase;
  std::int64_t start = 0;
  File input;
  std::size_t count = 0;
};

// Opens `in` with open_data_file (datafile/reader.h), refusing every file
// that read_data_file refuses, with the same code.
[[nodiscard]] std::int32_t open_phase_block(const char* in, PhaseBlock& block);

// Reads values [first, first + n) of a phase block that starts at `start` in
// `in` into `values`, in host order, at their place (the file position is
// neither used nor moved, so threads may share `in`). false when they are
// not there: a file cut short meanwhile, a read error.
[[nodiscard]] bool read_phase_values(std::FILE* in, std::int64_t start, std::size_t first,
                                     std::size_t n, std::int32_t* values);

// Writes the SDF file that read_data_file(in, ...) followed by
// sdf_export(out, ..., mode) (or sdf_export_binary for the binary `form`)
// would write, byte for byte, and refuses every
// input file that read_data_file refuses, with the same code, before the
// output is created. The intensity block is never read and the phase block
// is read twice (once for the data offset, once for the data), a chunk at a
// time, so memory stays a few megabytes whatever the size of the map. A
// failure, also one that comes up while the data is written (a read error,
// a file cut short meanwhile), leaves no output behind.
//
// `stage`, when given, tells which side failed (sdf_output.h). `threads` is the number of
// threads that read, format and write the values, the calling one included
// (the text still goes out in order): 1 does everything on the calling
// thread, 0 takes one a processor, at most kMaxThreads (threads.h).
// `progress`, when given, grows by the input's bytes as the conversion gets
// through them (the phase block half in each pass, the rest at once) up to
// the file's size, for a caller that shows how far it got.
[[nodiscard]] std::int32_t convert_data_file(const char* in, const char* out, OutputMode mode,
                                             ConvertStage* stage = nullptr, int threads = 0,
                                             SdfForm form = SdfForm::kAscii,
                                             std::atomic<std::int64_t>* progress = nullptr);
