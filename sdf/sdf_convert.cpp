#include "sdf/sdf_convert.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "datafile/reader.h"
#include "errors/errors.h"
#include "platform/byte_order.h"
#include "platform/chunk_pipeline.h"
#include "platform/file_io.h"
#include "platform/memory.h"
#include "sdf/sdf_writer.h"
#include "sdf/text_out.h"

namespace {

// Values per chunk: a multiple of ten, so that every chunk starts a data
// line and chunks format independently. 256 KiB of values, at most 0.7 MiB
// of text: small enough to stay in the processor's cache between being
// formatted and being written.
constexpr std::size_t kChunkValues = 6553 * 10;

// The `count` values of `in` from `start` on, in chunks, in two passes: the
// first finds their data offset, the second writes their data lines. Every
// thread reads its chunks itself, at their place in the file, and works on
// them (see run_chunks); in the second pass each chunk's text waits in its
// slot until it is written, in order.
class DataSection : private ChunkJob {
 public:
  DataSection(std::FILE* in, std::size_t count, std::atomic<std::int64_t>* progress)
      : in_(in),
        count_(count),
        chunks_((count + kChunkValues - 1) / kChunkValues),
        progress_(progress) {}

  // Takes the buffers for `threads` working threads (threads.h); false when
  // they are refused.
  [[nodiscard]] bool prepare(int threads) {
    threads_ = u_working_threads(threads);
    if (static_cast<std::size_t>(threads_) > chunks_)
      threads_ = static_cast<int>(std::max<std::size_t>(chunks_, 1));
    n_slots_ = 2 * threads_;
    const std::size_t values = std::min(kChunkValues, count_);
    for (int s = 0; s < n_slots_; ++s) {
      if (!slots_[s].values.allocate(values) ||
          !slots_[s].text.allocate(data_text_capacity(values)))
        return false;
    }
    return true;
  }

  // The first pass: the data offset of the values at `start`.
  [[nodiscard]] std::int32_t find_offset(std::int64_t start) {
    start_ = start;
    out_ = nullptr;
    run_chunks(*this, threads_, static_cast<std::size_t>(n_slots_));
    return read_failed_ ? ERR_CORRUPT_DATA_FILE : ERR_NONE;
  }
  std::int32_t offset() const { return offset_; }

  // The second pass, to `out`, in the given form: 0, or the failure's code
  // with `stage` telling its side.
  [[nodiscard]] std::int32_t write(std::FILE* out, SdfForm form, ConvertStage& stage) {
    out_ = out;
    form_ = form;
    run_chunks(*this, threads_, static_cast<std::size_t>(n_slots_));
    stage = read_failed_ ? ConvertStage::kRead : ConvertStage::kWrite;
    return read_failed_ ? ERR_CORRUPT_DATA_FILE : write_failed_ ? ERR_CANT_WRITE_FILE : ERR_NONE;
  }

 private:
  struct Slot {
    HookArray<std::int32_t> values;
    std::size_t count = 0;
    HookArray<char> text;
    std::size_t size = 0;       // of the text
    std::int32_t smallest = 0;  // min(0, smallest value): the first pass
    bool read = false;          // the values were there to read
  };

  Take take(int, std::size_t chunk, std::size_t slot) override {
    if (chunk == chunks_) return Take::kEnd;
    slots_[slot].count = std::min(kChunkValues, count_ - chunk * kChunkValues);
    return Take::kTaken;
  }

  void process(int, std::size_t chunk, std::size_t slot) override {
    Slot& s = slots_[slot];
    s.read = read_phase_values(in_, start_, chunk * kChunkValues, s.count, s.values.get());
    if (!s.read) return;
    if (!out_) {
      s.smallest = sdf_data_offset(s.values.get(), static_cast<std::int32_t>(s.count));
      return;
    }
    char* text = s.text.get();
    if (form_ == SdfForm::kBinary) {
      auto* bytes = reinterpret_cast<unsigned char*>(text);
      s.size = static_cast<std::size_t>(
          format_binary_values(bytes, s.values.get(), s.count, offset_) - bytes);
      return;
    }
    s.size =
        static_cast<std::size_t>(format_data_lines(text, s.values.get(), s.count, offset_) - text);
  }

  bool hand_on(std::size_t, std::size_t slot) override {
    Slot& s = slots_[slot];
    if (!s.read) {  // the file was cut short, or could not be read
      read_failed_ = true;
      return false;
    }
    if (progress_) progress_->fetch_add(static_cast<std::int64_t>(s.count) * 2);
    if (!out_) {
      offset_ = std::min(offset_, s.smallest);
      return true;
    }
    if (std::fwrite(s.text.get(), 1, s.size, out_) == s.size) return true;
    write_failed_ = true;
    return false;
  }

  std::FILE* in_;
  std::int64_t start_ = 0;    // of the phase block
  std::FILE* out_ = nullptr;  // none in the first pass
  SdfForm form_ = SdfForm::kAscii;
  std::size_t count_;
  std::size_t chunks_;
  std::atomic<std::int64_t>* progress_;
  int threads_ = 1;
  int n_slots_ = 1;
  std::array<Slot, kMaxSlots> slots_;
  std::int32_t offset_ = 0;  // the data offset: never above 0
  // Set while handing on; read once every thread has stopped.
  bool read_failed_ = false;
  bool write_failed_ = false;
};

}  // namespace

std::int32_t open_phase_block(const char* in, PhaseBlock& block) {
  if (std::int32_t err =
          open_data_file(in, &block.header, &block.phase, &block.start, &block.input))
    return err;
  const std::int32_t count = std::int32_t{block.phase.width} * std::int32_t{block.phase.height};
  block.count = count > 0 ? static_cast<std::size_t>(count) : 0;
  return ERR_NONE;
}

bool read_phase_values(std::FILE* in, std::int64_t start, std::size_t first, std::size_t n,
                       std::int32_t* values) {
  if (!u_read_at(in, values, n * 4, start + static_cast<std::int64_t>(first * 4))) return false;
  be32_to_host(reinterpret_cast<std::uint32_t*>(values), n);
  return true;
}

std::int32_t convert_data_file(const char* in, const char* out, OutputMode mode,
                               ConvertStage* stage_out, int threads, SdfForm form,
                               std::atomic<std::int64_t>* progress) {
  ConvertStage unused = ConvertStage::kNone;
  ConvertStage& stage = stage_out ? *stage_out : unused;
  stage = ConvertStage::kRead;
  PhaseBlock block;
  if (std::int32_t err = open_phase_block(in, block)) return err;
  const Header& header = block.header;
  const PhaseRecord& phase = block.phase;
  const std::size_t count = block.count;

  // The buffers are taken, the data offset found and a block cut short
  // noticed before the output is created.
  DataSection data(block.input.get(), count, progress);
  // What is not read (the header, the intensity block) counts as gone
  // through at once, so that the count ends at the file's size.
  if (const std::int64_t size = progress ? u_file_size(block.input.get()) : 0;
      size > static_cast<std::int64_t>(count) * 4)
    progress->fetch_add(size - static_cast<std::int64_t>(count) * 4);
  if (count > 0) {
    if (!data.prepare(threads)) return ERR_NO_MEM;
    if (std::int32_t err = data.find_offset(block.start)) return err;
  }
  return write_sdf_output(out, mode, form, header, phase, data.offset(), stage,
                          [&](std::FILE* f, ConvertStage& side) -> std::int32_t {
                            return count > 0 ? data.write(f, form, side) : ERR_NONE;
                          });
}
