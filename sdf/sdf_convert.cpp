#include "sdf/sdf_convert.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "datafile/reader.h"
#include "errors/errors.h"
#include "platform/byte_order.h"
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

constexpr int kMaxThreads = 9;  // the calling thread and up to eight more
constexpr int kMaxSlots = 2 * kMaxThreads;

struct Failure {
  std::int32_t code = ERR_NONE;
  ConvertStage stage = ConvertStage::kNone;
};

// Reads `n` values at the stream's position into `values`, in host order.
bool read_values(std::FILE* f, std::int32_t* values, std::size_t n) {
  if (std::fread(values, 4, n, f) != n || std::ferror(f)) return false;
  be32_to_host(reinterpret_cast<std::uint32_t*>(values), n);
  return true;
}

// The `count` values read from `in` in chunks, in two passes: the first
// finds their data offset, the second writes their data lines. Every thread,
// the calling one included, takes the next chunk off the stream in turn
// (under the lock, so the chunks come off it in order) and works on it
// outside the lock. In the second pass a formatted chunk waits in a slot
// (chunk i in slot i % n_slots) until it is its turn to be written; whichever
// thread finds the next chunk to be written ready writes it, one thread at a
// time. No thread is only a writer, so none sits idle while there is
// formatting to do.
class DataSection {
 public:
  DataSection(std::FILE* in, std::size_t count)
      : in_(in), count_(count), chunks_((count + kChunkValues - 1) / kChunkValues) {}

  // Takes the buffers for the calling thread and `extra` more; false when
  // they are refused.
  [[nodiscard]] bool prepare(int extra) {
    threads_wanted_ = std::clamp(extra, 0, kMaxThreads - 1) + 1;
    if (static_cast<std::size_t>(threads_wanted_) > chunks_)
      threads_wanted_ = static_cast<int>(std::max<std::size_t>(chunks_, 1));
    n_slots_ = threads_wanted_ == 1 ? 1 : 2 * threads_wanted_;
    const std::size_t values = std::min(kChunkValues, count_);
    for (int s = 0; s < n_slots_; ++s) {
      if (!slots_[s].text.allocate(data_text_capacity(values))) return false;
    }
    for (int t = 0; t < threads_wanted_; ++t) {
      if (!values_[t].allocate(values)) return false;
    }
    return true;
  }

  // The first pass: the data offset of the values at `start`.
  [[nodiscard]] std::int32_t find_offset(std::int64_t start) {
    if (u_fseek(in_, start) != 0) return ERR_CORRUPT_DATA_FILE;
    out_ = nullptr;
    run();
    return failure_.code;
  }
  std::int32_t offset() const { return smallest_; }

  // The second pass, from `start` to `out`.
  [[nodiscard]] Failure write(std::FILE* out, std::int64_t start) {
    if (u_fseek(in_, start) != 0) return {ERR_CORRUPT_DATA_FILE, ConvertStage::kRead};
    out_ = out;
    run();
    if (failure_.code == ERR_NONE && written_ < chunks_)
      failure_ = {ERR_CANT_WRITE_FILE, ConvertStage::kWrite};
    return failure_;
  }

 private:
  enum class SlotState : std::uint8_t { kFree, kFormatting, kReady, kWriting };
  struct Slot {
    HookArray<char> text;
    std::size_t size = 0;
    SlotState state = SlotState::kFree;
  };

  std::size_t chunk_values(std::size_t i) const {
    return std::min(kChunkValues, count_ - i * kChunkValues);
  }

  // One pass over the chunks on every thread that can be had.
  void run() {
    next_ = 0;
    written_ = 0;
    writing_ = false;
    std::array<std::thread, kMaxThreads> threads;
    int started = 1;
    for (; started < threads_wanted_; ++started) {
      try {
        threads[started] = std::thread(&DataSection::work, this, started);
      } catch (const std::system_error&) {
        break;  // fewer threads: the work is the same
      } catch (const std::bad_alloc&) {
        break;
      }
    }
    work(0);
    for (int t = 1; t < started; ++t) threads[t].join();
  }

  // Records the first failure; every thread stops at its next look.
  void fail(std::unique_lock<std::mutex>& lock, Failure failure) {
    if (failure_.code == ERR_NONE) failure_ = failure;
    lock.unlock();
    changed_.notify_all();
    lock.lock();
  }

  void work(int self) {
    std::int32_t* values = values_[self].get();
    const auto n_slots = static_cast<std::size_t>(n_slots_);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (failure_.code != ERR_NONE) return;
      if (out_) {
        // Write the next chunk when it is ready and no one else is writing.
        Slot& next = slots_[written_ % n_slots];
        if (written_ < chunks_ && !writing_ && next.state == SlotState::kReady) {
          writing_ = true;
          next.state = SlotState::kWriting;
          lock.unlock();
          const bool ok = std::fwrite(next.text.get(), 1, next.size, out_) == next.size;
          lock.lock();
          writing_ = false;
          next.state = SlotState::kFree;
          ++written_;
          if (!ok) fail(lock, {ERR_CANT_WRITE_FILE, ConvertStage::kWrite});
          changed_.notify_all();
          continue;
        }
        if (written_ == chunks_) return;
      }
      if (next_ < chunks_ && (!out_ || next_ < written_ + n_slots)) {
        const std::size_t i = next_++;
        const std::size_t n = chunk_values(i);
        if (!read_values(in_, values, n)) {
          fail(lock, {ERR_CORRUPT_DATA_FILE, ConvertStage::kRead});
          continue;
        }
        if (!out_) {
          lock.unlock();
          const std::int32_t smallest = sdf_data_offset(values, static_cast<std::int32_t>(n));
          lock.lock();
          smallest_ = std::min(smallest_, smallest);
          continue;
        }
        Slot& slot = slots_[i % n_slots];
        slot.state = SlotState::kFormatting;
        lock.unlock();
        char* text = slot.text.get();
        slot.size = static_cast<std::size_t>(format_data_lines(text, values, n, smallest_) - text);
        lock.lock();
        slot.state = SlotState::kReady;
        if (i == written_) changed_.notify_all();
        continue;
      }
      if (!out_ && next_ == chunks_) return;  // the others finish their own chunks
      changed_.wait(lock);
    }
  }

  std::FILE* in_;
  std::FILE* out_ = nullptr;  // none in the first pass
  std::size_t count_;
  std::size_t chunks_;
  int threads_wanted_ = 1;
  int n_slots_ = 1;
  std::array<Slot, kMaxSlots> slots_;
  std::array<HookArray<std::int32_t>, kMaxThreads> values_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::int32_t smallest_ = 0;  // the data offset: never above 0
  std::size_t next_ = 0;       // the next chunk to take off the stream
  std::size_t written_ = 0;    // chunks written
  bool writing_ = false;       // a thread is writing
  Failure failure_;
};

int default_extra_threads() {
  const unsigned processors = std::thread::hardware_concurrency();
  return processors <= 1 ? 0
                         : static_cast<int>(std::min(processors - 1, unsigned{kMaxThreads - 1}));
}

Failure convert(const char* in, const char* out, OutputMode mode, int threads) {
  Header header{};
  PhaseRecord phase;
  std::int64_t start = 0;
  File input;
  if (std::int32_t err = open_data_file(in, &header, &phase, &start, &input))
    return {err, ConvertStage::kRead};
  const std::int32_t signed_count = std::int32_t{phase.width} * std::int32_t{phase.height};
  const std::size_t count = signed_count > 0 ? static_cast<std::size_t>(signed_count) : 0;

  // The buffers are taken, the data offset found and a block cut short
  // noticed before the output is created.
  DataSection data(input.get(), count);
  if (count > 0) {
    if (!data.prepare(threads < 0 ? default_extra_threads() : threads))
      return {ERR_NO_MEM, ConvertStage::kRead};
    if (std::int32_t err = data.find_offset(start)) return {err, ConvertStage::kRead};
  }
  const std::int32_t offset = data.offset();

  OutputFile file;
  if (file.open(out, mode) != ERR_NONE) return {ERR_CANT_CREATE_FILE, ConvertStage::kWrite};
  std::FILE* f = file.stream();
  if (!sdf_write_header_section(f, header, phase))
    return {ERR_CANT_WRITE_FILE, ConvertStage::kWrite};
  if (count > 0) {
    Failure failure = data.write(f, start);
    if (failure.code != ERR_NONE) return failure;  // the OutputFile removes what was written
  }
  if (std::fputs("*\n", f) < 0 || !sdf_write_trailer(f, header, offset))
    return {ERR_CANT_WRITE_FILE, ConvertStage::kWrite};
  if (std::int32_t err = file.commit()) return {err, ConvertStage::kWrite};
  return {};
}

}  // namespace

std::int32_t convert_data_file(const char* in, const char* out, OutputMode mode,
                               ConvertStage* stage, int threads) {
  const Failure failure = convert(in, out, mode, threads);
  if (stage) *stage = failure.stage;
  return failure.code;
}
