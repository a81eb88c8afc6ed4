// The streamed conversion of a binary data file to an x3p file.
#include <algorithm>
#include <array>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

#include "datafile/reader.h"
#include "errors/errors.h"
#include "platform/chunk_pipeline.h"
#include "platform/file_io.h"
#include "platform/memory.h"
#include "sdf/sdf_convert.h"
#include "sdf/sdf_output.h"
#include "sdf/sdf_writer.h"
#include "x3p/checksums.h"
#include "x3p/x3p_writer.h"
#include "x3p/zip_writer.h"

namespace {

// Values per chunk: 256 KiB of phase counts, 512 KiB of heights.
constexpr std::size_t kChunkValues = 65536;

// The phase block in chunks, in two passes: the first finds the data
// offset, the second turns the values into heights. Every thread reads its
// chunks at their place in the file and converts them with their CRC-32;
// the heights go out in chunk order, through the MD5 sum, into the archive.
class PointData : private ChunkJob {
 public:
  PointData(std::FILE* in, std::int64_t start, std::size_t count)
      : in_(in), start_(start), count_(count), chunks_((count + kChunkValues - 1) / kChunkValues) {}

  [[nodiscard]] bool prepare(int threads) {
    threads_ = u_working_threads(threads);
    if (static_cast<std::size_t>(threads_) > chunks_)
      threads_ = static_cast<int>(std::max<std::size_t>(chunks_, 1));
    n_slots_ = 2 * threads_;
    const std::size_t values = std::min(kChunkValues, count_);
    for (int s = 0; s < n_slots_; ++s) {
      if (!slots_[s].values.allocate(values) || !slots_[s].heights.allocate(values * 8))
        return false;
    }
    return true;
  }

  [[nodiscard]] std::int32_t find_offset() {
    zip_ = nullptr;
    run_chunks(*this, threads_, static_cast<std::size_t>(n_slots_));
    return read_failed_ ? ERR_CORRUPT_DATA_FILE : ERR_NONE;
  }
  std::int32_t offset() const { return offset_; }

  // The second pass, into the archive: 0, or the failure's code with
  // `stage` telling its side.
  [[nodiscard]] std::int32_t write(ZipWriter& zip, Md5& md5, double unit, ConvertStage& stage) {
    zip_ = &zip;
    md5_ = &md5;
    unit_ = unit;
    // The MD5 sum is the one step that cannot be split: with two threads or
    // more, one of them does nothing else, taking each chunk in order as
    // soon as it is converted, while the others read, convert and write.
    std::thread hasher;
    if (threads_ >= 2) {
      try {
        hasher = std::thread(&PointData::hash_chunks, this);
      } catch (const std::system_error&) {
      }
    }
    own_hasher_ = hasher.joinable();
    run_chunks(*this, own_hasher_ ? threads_ - 1 : threads_, static_cast<std::size_t>(n_slots_));
    if (own_hasher_) {
      {
        std::lock_guard<std::mutex> lock(hash_mutex_);
        ended_ = true;
      }
      hash_changed_.notify_all();
      hasher.join();
    }
    stage = read_failed_ ? ConvertStage::kRead : ConvertStage::kWrite;
    return read_failed_ ? ERR_CORRUPT_DATA_FILE : write_failed_ ? ERR_CANT_WRITE_FILE : ERR_NONE;
  }

 private:
  struct Slot {
    HookArray<std::int32_t> values;
    HookArray<unsigned char> heights;
    std::size_t count = 0;
    std::int32_t smallest = 0;
    std::uint32_t crc = 0;
    bool read = false;
    std::size_t converted = 0;  // 1 + the chunk whose heights are ready (under hash_mutex_)
  };

  // The hashing thread: each converted chunk in turn, until the writing
  // ends. It does not wait for the writing: a slot is taken again only once
  // its chunk is both written and hashed, so waiting for the writing too
  // would leave one of the two threads idle at every chunk.
  void hash_chunks() {
    for (std::size_t chunk = 0;; ++chunk) {
      const Slot& s = slots_[chunk % static_cast<std::size_t>(n_slots_)];
      {
        std::unique_lock<std::mutex> lock(hash_mutex_);
        hash_changed_.wait(lock, [&] { return s.converted == chunk + 1 || ended_; });
        if (s.converted != chunk + 1) return;
      }
      md5_->add(s.heights.get(), s.count * 8);
      {
        std::lock_guard<std::mutex> lock(hash_mutex_);
        hashed_ = chunk + 1;
      }
      hash_changed_.notify_all();
    }
  }

  Take take(int, std::size_t chunk, std::size_t slot) override {
    if (chunk == chunks_) return Take::kEnd;
    if (zip_ && own_hasher_ && chunk >= static_cast<std::size_t>(n_slots_)) {
      // The slot's last chunk has been written; it must be hashed too
      // before the slot is filled again.
      std::unique_lock<std::mutex> lock(hash_mutex_);
      hash_changed_.wait(lock,
                         [&] { return hashed_ > chunk - static_cast<std::size_t>(n_slots_); });
    }
    slots_[slot].count = std::min(kChunkValues, count_ - chunk * kChunkValues);
    return Take::kTaken;
  }

  void process(int, std::size_t chunk, std::size_t slot) override {
    Slot& s = slots_[slot];
    s.read = read_phase_values(in_, start_, chunk * kChunkValues, s.count, s.values.get());
    if (!s.read) return;
    if (!zip_) {
      s.smallest = sdf_data_offset(s.values.get(), static_cast<std::int32_t>(s.count));
      return;
    }
    // The listed value of the SDF file, in 32 bits without a sign, times
    // the unit; NaN where there is no measurement. Little-endian doubles.
    const std::int32_t* v = s.values.get();
    unsigned char* out = s.heights.get();
    const auto offset = static_cast<std::uint32_t>(offset_);
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < s.count; ++i) {
      const double h = v[i] >= kInvalidPhase
                           ? kNaN
                           : static_cast<double>(static_cast<std::uint32_t>(v[i]) - offset) * unit_;
      std::uint64_t bits = std::bit_cast<std::uint64_t>(h);
      if constexpr (std::endian::native == std::endian::big) bits = __builtin_bswap64(bits);
      std::memcpy(out + 8 * i, &bits, 8);
    }
    s.crc = crc32_update(0, out, s.count * 8);
    if (own_hasher_) {
      {
        std::lock_guard<std::mutex> lock(hash_mutex_);
        s.converted = chunk + 1;
      }
      hash_changed_.notify_all();
    }
  }

  bool hand_on(std::size_t, std::size_t slot) override {
    Slot& s = slots_[slot];
    if (!s.read) {
      read_failed_ = true;
      return false;
    }
    if (!zip_) {
      offset_ = std::min(offset_, s.smallest);
      return true;
    }
    if (!own_hasher_) md5_->add(s.heights.get(), s.count * 8);
    if (!zip_->write(s.heights.get(), s.count * 8, s.crc)) {
      write_failed_ = true;
      return false;
    }
    return true;
  }

  std::FILE* in_;
  std::int64_t start_;
  std::size_t count_;
  std::size_t chunks_;
  int threads_ = 1;
  int n_slots_ = 1;
  std::array<Slot, kMaxSlots> slots_;
  std::int32_t offset_ = 0;
  ZipWriter* zip_ = nullptr;  // none in the first pass
  Md5* md5_ = nullptr;
  // The hashing thread's hand-over: the slots' converted marks and the
  // chunks hashed so far.
  bool own_hasher_ = false;
  std::mutex hash_mutex_;
  std::condition_variable hash_changed_;
  std::size_t hashed_ = 0;
  bool ended_ = false;
  double unit_ = 0;
  bool read_failed_ = false;
  bool write_failed_ = false;
};

}  // namespace

std::int32_t convert_data_file_to_x3p(const char* in, const char* out, OutputMode mode,
                                      ConvertStage* stage_out, int threads) {
  ConvertStage unused = ConvertStage::kNone;
  ConvertStage& stage = stage_out ? *stage_out : unused;
  stage = ConvertStage::kRead;
  PhaseBlock block;
  if (std::int32_t err = open_phase_block(in, block)) return err;
  const Header& header = block.header;
  const PhaseRecord& phase = block.phase;
  const std::size_t count = block.count;

  PointData data(block.input.get(), block.start, count);
  if (count > 0) {
    if (!data.prepare(threads)) return ERR_NO_MEM;
    if (std::int32_t err = data.find_offset()) return err;
  }
  // The reader refuses negative dimensions.
  const auto width = static_cast<std::uint32_t>(phase.width);
  const auto height = static_cast<std::uint32_t>(phase.height);
  return write_output(
      out, mode, true, stage, [&](std::FILE* f, ConvertStage& side) -> std::int32_t {
        ZipWriter zip(f);
        Md5 md5;
        if (!md5.ok()) return ERR_NO_MEM;
        // main.xml goes first with a stand-in for the point data's sum, which
        // has the same length; it is written over once the data is through.
        std::string xml = x3p_main_xml(header, width, height, std::string(32, '0'));
        if (!zip.begin(kX3pMainXml, xml.size()) || !zip.write(xml.data(), xml.size()) ||
            !zip.begin(kX3pPointData, std::uint64_t{count} * 8))
          return ERR_CANT_WRITE_FILE;
        if (count > 0) {
          if (std::int32_t err = data.write(zip, md5, sdf_phase_unit(header), side)) return err;
        }
        xml = x3p_main_xml(header, width, height, md5.hex());
        const std::string sums = md5_hex(xml.data(), xml.size()) + " *" + kX3pMainXml + "\n";
        const std::string attributes = sdf_trailer_text(header, data.offset());
        if (!zip.end() || !zip.rewrite(0, xml.data(), xml.size()) ||
            !zip.begin(kX3pChecksumFile, sums.size()) || !zip.write(sums.data(), sums.size()) ||
            !zip.begin(kX3pAttributes, attributes.size()) ||
            !zip.write(attributes.data(), attributes.size()) || !zip.finish())
          return ERR_CANT_WRITE_FILE;
        return ERR_NONE;
      });
}
