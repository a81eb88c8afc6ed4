// Writing an output file in one step that succeeds or leaves nothing: the
// skeleton every writer of the library shares (the SDF forms, streamed or
// not, and the x3p file), and the one shape its failures take from there to
// the message.
#pragma once

#include <cstdint>
#include <cstdio>
#include <type_traits>

#include "datafile/header.h"
#include "datafile/records.h"
#include "platform/output_file.h"

// Which side of a conversion a failure came from.
enum class ConvertStage : std::uint8_t {
  kNone,   // no failure
  kRead,   // the input: a code read_data_file gives
  kWrite,  // the output: it could not be created, written or put in place
  kTaken,  // the output, with OutputMode::kCreateNew: a file of its name
           // appeared meanwhile and was left alone (ERR_CANT_CREATE_FILE)
};

// The form of SDF file a conversion writes.
enum class SdfForm : std::uint8_t {
  kAscii,   // what sdf_export writes
  kBinary,  // what sdf_export_binary writes
};

// What writes the body of an output into `stream`: 0, or the failure's code
// with `stage` set to its side (it starts as kWrite). A reference to the
// caller's function for the time of the call, so that nothing is allocated.
class WriteBody {
 public:
  template <class F>
  WriteBody(F&& f)  // NOLINT: made from a lambda where it is passed
      : f_(&f), call_([](void* f, std::FILE* stream, ConvertStage& stage) -> std::int32_t {
          return (*static_cast<std::remove_reference_t<F>*>(f))(stream, stage);
        }) {}
  std::int32_t operator()(std::FILE* stream, ConvertStage& stage) const {
    return call_(f_, stream, stage);
  }

 private:
  void* f_;
  std::int32_t (*call_)(void*, std::FILE*, ConvertStage&);
};

// Writes `path` as output_file.h describes: opens it (in binary mode when
// `binary`), calls `body`, and puts the file in place when that returned 0.
// Returns 0 or the failure's code, `stage` telling its side: kWrite when the
// file cannot be created, written or put in place, kTaken as above, and
// whatever `body` set. A failure leaves no output behind.
[[nodiscard]] std::int32_t write_output(const char* path, OutputMode mode, bool binary,
                                        ConvertStage& stage, const WriteBody& body);

// An SDF file in `form`, written as write_output does: the form's header
// (for `header` and the geometry of `phase`, whose values are not read), the
// values that `data` writes, the ASCII form's '*' line, and the trailer with
// the data offset `offset`.
[[nodiscard]] std::int32_t write_sdf_output(const char* path, OutputMode mode, SdfForm form,
                                            const Header& header, const PhaseRecord& phase,
                                            std::int32_t offset, ConvertStage& stage,
                                            const WriteBody& data);
