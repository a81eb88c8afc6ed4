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
// line and chunks format independently. 1 MiB of values, at most 2.9 MiB of
// text.
constexpr std::size_t kChunkValues = 26214 * 10;

constexpr int kMaxWorkers = 8;
constexpr int kMaxSlots = 2 * kMaxWorkers + 1;

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

// The data offset of the `count` values at `start`: the first pass.
std::int32_t block_offset(std::FILE* f, std::int64_t start, std::size_t count, std::int32_t* values,
                          std::int32_t* offset) {
  if (u_fseek(f, start) != 0) return ERR_CORRUPT_DATA_FILE;
  std::int32_t smallest = 0;
  for (std::size_t done = 0; done < count;) {
    const std::size_t n = std::min(kChunkValues, count - done);
    if (!read_values(f, values, n)) return ERR_CORRUPT_DATA_FILE;
    smallest = std::min(smallest, sdf_data_offset(values, static_cast<std::int32_t>(n)));
    done += n;
  }
  *offset = smallest;
  return ERR_NONE;
}

// The `count` values read from `in`: the first pass finds their data offset,
// the second writes their data lines. Worker threads each read the next chunk in
// turn and format it into a free slot; the calling thread writes the slots
// in chunk order. Slot i % n_slots holds chunk i, so a chunk is only taken
// once the chunk n_slots before it has been written.
class DataSection {
 public:
  DataSection(std::FILE* in, std::size_t count)
      : in_(in), count_(count), chunks_((count + kChunkValues - 1) / kChunkValues) {}

  // Takes the buffers for `workers` threads; false when they are refused.
  [[nodiscard]] bool prepare(int workers) {
    workers = std::clamp(workers, 0, kMaxWorkers);
    if (static_cast<std::size_t>(workers) > chunks_ / 2) workers = static_cast<int>(chunks_ / 2);
    workers_ = workers;
    n_slots_ = workers == 0 ? 1 : 2 * workers + 1;
    const std::size_t values = std::min(kChunkValues, count_);
    for (int s = 0; s < n_slots_; ++s) {
      if (!slots_[s].text.allocate(data_text_capacity(values))) return false;
    }
    for (int w = 0; w < std::max(workers, 1); ++w) {
      if (!values_[w].allocate(values)) return false;
    }
    return true;
  }

  // The first pass: the data offset of the values at `start`.
  [[nodiscard]] std::int32_t find_offset(std::int64_t start) {
    return block_offset(in_, start, count_, values_[0].get(), &offset_);
  }
  std::int32_t offset() const { return offset_; }

  // The second pass, from the input stream's position to `out`.
  Failure write(std::FILE* out) {
    out_ = out;
    const int workers = workers_;
    if (workers == 0) return run_alone();

    int started = 0;
    for (; started < workers; ++started) {
      try {
        threads_[started] = std::thread(&DataSection::work, this, started);
      } catch (const std::system_error&) {
        break;  // fewer threads, or none: the work is the same
      } catch (const std::bad_alloc&) {
        break;
      }
    }
    if (started == 0) return run_alone();
    write_in_order();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (written_ < chunks_ && failure_.code == ERR_NONE)
        failure_ = {ERR_CANT_WRITE_FILE, ConvertStage::kWrite};
      done_ = true;
    }
    changed_.notify_all();
    for (int w = 0; w < started; ++w) threads_[w].join();
    return failure_;
  }

 private:
  struct Slot {
    HookArray<char> text;
    std::size_t size = 0;
    std::size_t chunk = static_cast<std::size_t>(-1);  // the chunk whose text it holds
  };

  std::size_t chunk_values(std::size_t i) const {
    return std::min(kChunkValues, count_ - i * kChunkValues);
  }

  Failure run_alone() {
    for (std::size_t i = 0; i < chunks_; ++i) {
      const std::size_t n = chunk_values(i);
      if (!read_values(in_, values_[0].get(), n))
        return {ERR_CORRUPT_DATA_FILE, ConvertStage::kRead};
      char* text = slots_[0].text.get();
      const std::size_t size =
          static_cast<std::size_t>(format_data_lines(text, values_[0].get(), n, offset_) - text);
      if (std::fwrite(text, 1, size, out_) != size)
        return {ERR_CANT_WRITE_FILE, ConvertStage::kWrite};
    }
    return {};
  }

  void work(int w) {
    std::int32_t* values = values_[w].get();
    for (;;) {
      std::size_t i = 0, n = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] {
          return done_ || failure_.code != ERR_NONE || next_ >= chunks_ ||
                 next_ < written_ + static_cast<std::size_t>(n_slots_);
        });
        if (done_ || failure_.code != ERR_NONE || next_ >= chunks_) return;
        i = next_++;
        n = chunk_values(i);
        // Read under the lock: the chunks come off the stream in order.
        if (!read_values(in_, values, n)) {
          failure_ = {ERR_CORRUPT_DATA_FILE, ConvertStage::kRead};
          lock.unlock();
          changed_.notify_all();
          return;
        }
      }
      Slot& slot = slots_[i % static_cast<std::size_t>(n_slots_)];
      char* text = slot.text.get();
      const std::size_t size =
          static_cast<std::size_t>(format_data_lines(text, values, n, offset_) - text);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        slot.size = size;
        slot.chunk = i;
      }
      changed_.notify_all();
    }
  }

  void write_in_order() {
    for (std::size_t i = 0; i < chunks_; ++i) {
      Slot& slot = slots_[i % static_cast<std::size_t>(n_slots_)];
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return failure_.code != ERR_NONE || slot.chunk == i; });
        if (failure_.code != ERR_NONE) return;
      }
      // The slot is not touched again until written_ passes it.
      if (std::fwrite(slot.text.get(), 1, slot.size, out_) != slot.size) return;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        written_ = i + 1;
      }
      changed_.notify_all();
    }
  }

  std::FILE* in_;
  std::FILE* out_ = nullptr;
  std::size_t count_;
  std::size_t chunks_;
  std::int32_t offset_ = 0;
  int workers_ = 0;
  int n_slots_ = 1;
  std::array<Slot, kMaxSlots> slots_;
  std::array<HookArray<std::int32_t>, kMaxWorkers> values_;
  std::array<std::thread, kMaxWorkers> threads_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;     // the next chunk to read
  std::size_t written_ = 0;  // chunks written
  bool done_ = false;        // the writer has stopped
  Failure failure_;
};

int default_workers() {
  const unsigned processors = std::thread::hardware_concurrency();
  return processors <= 1 ? 0 : static_cast<int>(std::min(processors - 1, unsigned{kMaxWorkers}));
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
    if (!data.prepare(threads < 0 ? default_workers() : threads))
      return {ERR_NO_MEM, ConvertStage::kRead};
    if (std::int32_t err = data.find_offset(start)) return {err, ConvertStage::kRead};
    if (u_fseek(input.get(), start) != 0) return {ERR_CORRUPT_DATA_FILE, ConvertStage::kRead};
  }
  const std::int32_t offset = data.offset();

  OutputFile file;
  if (file.open(out, mode) != ERR_NONE) return {ERR_CANT_CREATE_FILE, ConvertStage::kWrite};
  std::FILE* f = file.stream();
  if (!sdf_write_header_section(f, header, phase))
    return {ERR_CANT_WRITE_FILE, ConvertStage::kWrite};
  if (count > 0) {
    Failure failure = data.write(f);
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
