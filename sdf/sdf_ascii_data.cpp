// The ASCII data section, read in chunks of whole lines on every processor:
// each chunk's values are read on their own and put in place in chunk order.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <vector>

#include "errors/errors.h"
#include "platform/chunk_pipeline.h"
#include "sdf/sdf_reading.h"

namespace sdf_detail {

namespace {

// is_blank, inlined for the inner loop: space, \t, \n, \v, \f and \r.
inline bool blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

constexpr std::size_t kNoEnd = static_cast<std::size_t>(-1);

// Characters readable after a chunk's lines: its stop and room for an
// eight-character look at the last token.
constexpr std::size_t kPadding = 1 + 8;

// How many of the eight characters at `p` are decimal digits before the
// first one that is not (0 to 7), or 8 when all are: all eight looked at
// at once.
inline int digits_ahead(const char* p) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint64_t chars = 0;
    std::memcpy(&chars, p, 8);
    // Per character c - '0', then marked when that is below 0 or above 9.
    // A borrow or carry only reaches the characters after the first one
    // marked, which do not count.
    const std::uint64_t t = chars - 0x3030303030303030ULL;
    const std::uint64_t marks = (t | (t + 0x7676767676767676ULL)) & 0x8080808080808080ULL;
    return marks == 0 ? 8 : std::countr_zero(marks) / 8;
  } else {
    int n = 0;
    while (n < 8 && static_cast<unsigned char>(p[n] - '0') < 10) ++n;
    return n;
  }
}

// The value of the 1 to 8 decimal digits at `p`, the eight characters at `p`
// combined in three multiplications (the digits moved to the end of the
// eight, the places before them counting as zeros).
inline std::uint64_t digits_value(const char* p, int len) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint64_t v = 0;
    std::memcpy(&v, p, 8);
    v <<= 8 * (8 - len);
    v = ((v & 0x0F0F0F0F0F0F0F0FULL) * 2561) >> 8;      // pairs of digits
    v = ((v & 0x00FF00FF00FF00FFULL) * 6553601) >> 16;  // groups of four
    return ((v & 0x0000FFFF0000FFFFULL) * 42949672960001ULL) >> 32;
  } else {
    std::uint64_t v = 0;
    for (int i = 0; i < len; ++i) v = v * 10 + static_cast<unsigned>(p[i] - '0');
    return v;
  }
}

// What the lines of one chunk hold.
struct ChunkValues {
  std::size_t count = 0;     // values read
  bool ok = true;            // false: a token that is no value of the type
  std::size_t end = kNoEnd;  // just past the section's '*' line, when the chunk has it
};

// Reads the values of the lines in text[0, size): whole lines (the last one
// may lack its line break at the end of the file), followed by a '\n' at
// text[size] that is not part of them and stops every scan, and by eight
// more readable characters. The values go
// to `patterns`, or to `doubles` for DOUBLE. A line whose first character
// other than a space or tab is '*' ends the section; a ';' starts a comment
// that runs to the end of its line. A token of plain digits (what the
// writer writes) of an integer type is read here; anything else (a sign, a
// float, too many digits) goes through text_pattern, which gives such
// tokens the same value.
ChunkValues read_lines(const char* text, std::size_t size, int type, std::uint64_t max,
                       bool bad_is_missing, std::int32_t* patterns, double* doubles) {
  ChunkValues r;
  const char* q = text;
  const char* const e = text + size;
  std::size_t at = 0;
  auto line_end = [&](const char* from) -> const char* {
    const void* nl = std::memchr(from, '\n', static_cast<std::size_t>(e - from));
    return nl ? static_cast<const char*>(nl) + 1 : e;
  };
  while (q < e) {
    while (*q == ' ' || *q == '\t') ++q;
    if (*q == '*') {
      r.end = static_cast<std::size_t>(line_end(q) - text);
      break;
    }
    for (;;) {
      const char c = *q;
      if (c == '\n') {
        ++q;
        break;
      }
      if (blank(c)) {
        ++q;
        continue;
      }
      if (c == ';') {
        q = line_end(q);
        break;
      }
      const char* const token = q;
      if (max > 0) {
        // A token of plain digits: eight at a time, then one by one (up to
        // 18 in all, which cannot overflow).
        int len = digits_ahead(q);
        std::uint64_t v = len > 0 ? digits_value(q, len) : 0;
        if (len == 8) {
          while (len <= 18 && static_cast<unsigned char>(q[len] - '0') < 10)
            v = v * 10 + static_cast<unsigned>(q[len++] - '0');
        }
        if (len > 0 && len <= 18 && (blank(q[len]) || q[len] == ';')) {
          if (v > max) {
            r.ok = false;
            break;
          }
          patterns[at++] = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
          q += len;
          continue;
        }
      }
      while (!blank(*q) && *q != ';') ++q;
      std::int32_t pattern = 0;
      double d = 0;
      const std::string_view word(token, static_cast<std::size_t>(q - token));
      if (bad_is_missing && word == "BAD") {
        pattern = missing_pattern(type);
        d = std::numeric_limits<double>::quiet_NaN();
      } else if (!text_pattern(type, word, pattern, d)) {
        r.ok = false;
        break;
      }
      if (type == DT_DOUBLE)
        doubles[at++] = d;
      else
        patterns[at++] = pattern;
    }
    if (!r.ok) break;
  }
  r.count = at;
  return r;
}

// The data section as a chunk job: chunks are taken off the file in turn
// (each ends after its last line break; the part of a line after it starts
// the next chunk), read on their own, and their values put in place in
// chunk order.
class AsciiData final : private ChunkJob {
 public:
  AsciiData(LineReader& lines, const SdfHeader& s, std::size_t n, ValueSink& sink,
            std::size_t chunk_bytes, bool bad_is_missing)
      : lines_(lines),
        type_(s.data_type),
        max_(static_cast<std::uint64_t>(kDataTypes[s.data_type].limit)),
        bad_is_missing_(bad_is_missing),
        n_(n),
        sink_(sink),
        // A small section gets small chunks (4 KiB at least): sixteen
        // characters a value is more than the text of most files needs (a
        // longer text is read in more chunks).
        chunk_bytes_(std::max<std::size_t>(
            2, std::min(chunk_bytes, std::max<std::size_t>(16 * n_ + 64, 4096)))) {}

  std::int32_t read(int threads) {
    // Values take two characters at least; a section that fits one chunk
    // is read on the calling thread alone. Two slots a thread of 768 KiB
    // each (text and values): at most 12 MiB.
    threads = n_ <= chunk_bytes_ / 2 ? 1 : u_working_threads(threads);
    const std::size_t n_slots = 2 * static_cast<std::size_t>(threads);
    for (std::size_t i = 0; i < n_slots; ++i)
      if (!make_room(slots_[i], chunk_bytes_, 0)) return ERR_NO_MEM;
    lines_.take_pending(carry_);

    const std::size_t taken = run_chunks(*this, threads, n_slots);
    if (stop_code_ != ERR_NONE) return stop_code_;
    if (sink_code_ != ERR_NONE) return sink_code_;
    if (failed_) return ERR_PREMATURE_EOF;
    if (end_chunk_ != kNoEnd) {
      // The lines after the '*' line go back to the line reader: the rest of
      // its chunk, the chunks taken after it, and the part of a line after
      // those.
      std::vector<char> rest;
      const Slot& last = slots_[end_chunk_ % n_slots];
      const std::size_t end = last.values.end;
      rest.insert(rest.end(), last.text.get() + end, last.text.get() + last.size);
      for (std::size_t c = end_chunk_ + 1; c < taken; ++c) {
        const Slot& s = slots_[c % n_slots];
        rest.insert(rest.end(), s.text.get(), s.text.get() + s.size);
      }
      rest.insert(rest.end(), carry_.begin(), carry_.end());
      lines_.put_back(rest.data(), rest.size());
    }
    return at_ == n_ ? ERR_NONE : ERR_PREMATURE_EOF;
  }

 private:
  struct Slot {
    HookArray<char> text;  // capacity + kPadding
    std::size_t capacity = 0;
    std::size_t size = 0;
    HookArray<std::int32_t> patterns;  // capacity / 2 + 1 each: the most
    HookArray<double> doubles;         // values `capacity` characters hold
    ChunkValues values;
  };

  // Gives `s` room for `capacity` characters, keeping its first `keep`.
  bool make_room(Slot& s, std::size_t capacity, std::size_t keep) {
    if (capacity <= s.capacity) return true;
    HookArray<char> text;
    HookArray<std::int32_t> patterns;
    HookArray<double> doubles;
    const std::size_t values = capacity / 2 + 1;
    if (!text.allocate(capacity + kPadding)) return false;
    if (type_ == DT_DOUBLE ? !doubles.allocate(values) : !patterns.allocate(values)) return false;
    if (keep > 0) std::memcpy(text.get(), s.text.get(), keep);
    s.text = std::move(text);
    s.patterns = std::move(patterns);
    s.doubles = std::move(doubles);
    s.capacity = capacity;
    return true;
  }

  Take stop(std::int32_t code) {
    stop_code_ = code;
    return Take::kStop;
  }

  // Running out of memory for the carried part of a line throws
  // std::bad_alloc, which run_chunks hands to the caller.
  Take take(int, std::size_t, std::size_t slot) override {
    Slot& s = slots_[slot];
    std::size_t have = carry_.size();
    if (eof_ && have == 0) return Take::kEnd;
    if (!make_room(s, std::max(chunk_bytes_, 2 * have), 0)) return stop(ERR_NO_MEM);
    if (have > 0) std::memcpy(s.text.get(), carry_.data(), have);
    carry_.clear();
    std::FILE* f = lines_.file();
    for (;;) {
      if (!eof_) {
        have += std::fread(s.text.get() + have, 1, s.capacity - have, f);
        if (have < s.capacity) {
          if (std::ferror(f)) return stop(ERR_PREMATURE_EOF);
          eof_ = true;
        }
      }
      if (eof_) {
        s.size = have;  // the last line needs no line break
        break;
      }
      std::size_t cut = have;
      while (cut > 0 && s.text[cut - 1] != '\n') --cut;
      if (cut > 0) {
        s.size = cut;
        carry_.assign(s.text.get() + cut, s.text.get() + have);
        break;
      }
      // A line longer than the chunk: a larger one.
      if (!make_room(s, 2 * s.capacity, have)) return stop(ERR_NO_MEM);
    }
    if (s.size == 0) return Take::kEnd;
    s.text[s.size] = '\n';
    std::memset(s.text.get() + s.size + 1, 0, kPadding - 1);
    return Take::kTaken;
  }

  void process(int, std::size_t, std::size_t slot) override {
    Slot& s = slots_[slot];
    s.values = read_lines(s.text.get(), s.size, type_, max_, bad_is_missing_, s.patterns.get(),
                          s.doubles.get());
  }

  bool hand_on(std::size_t chunk, std::size_t slot) override {
    const Slot& s = slots_[slot];
    const ChunkValues& v = s.values;
    if (!v.ok || v.count > n_ - at_) {  // a bad token, or more values than points
      failed_ = true;
      return false;
    }
    if (v.count > 0) {
      sink_code_ = sink_.take(s.patterns.get(), s.doubles.get(), v.count);
      if (sink_code_ != ERR_NONE) return false;
    }
    at_ += v.count;
    if (v.end == kNoEnd) return true;
    end_chunk_ = chunk;
    return false;
  }

  LineReader& lines_;
  const int type_;
  const std::uint64_t max_;
  const bool bad_is_missing_;
  const std::size_t n_;
  ValueSink& sink_;
  const std::size_t chunk_bytes_;
  Slot slots_[kMaxSlots];

  // Taking chunks (under the pipeline's lock).
  std::vector<char> carry_;  // the part of a line after the last chunk taken
  bool eof_ = false;
  std::int32_t stop_code_ = ERR_NONE;

  // Handing chunks on (one thread at a time).
  std::size_t at_ = 0;  // values handed on
  bool failed_ = false;
  std::int32_t sink_code_ = ERR_NONE;
  std::size_t end_chunk_ = kNoEnd;  // the chunk with the '*' line
};

}  // namespace

std::int32_t missing_pattern(int type) {
  if (type == DT_FLOAT) return std::bit_cast<std::int32_t>(std::numeric_limits<float>::quiet_NaN());
  return static_cast<std::int32_t>(kDataTypes[type].limit);
}

std::int32_t read_ascii_data(LineReader& lines, const SdfHeader& s, std::size_t n, ValueSink& sink,
                             const AsciiDataOptions& options) {
  AsciiData data(lines, s, n, sink, options.chunk_bytes, options.bad_is_missing);
  return data.read(options.threads);
}

namespace {

// The import's values: put in place in the phase array (or the doubles).
class PhaseValues final : public ValueSink {
 public:
  PhaseValues(std::int32_t* patterns, double* doubles) : patterns_(patterns), doubles_(doubles) {}
  std::int32_t take(const std::int32_t* patterns, const double* doubles,
                    std::size_t count) override {
    if (doubles_)
      std::copy_n(doubles, count, doubles_ + at_);
    else
      std::copy_n(patterns, count, patterns_ + at_);
    at_ += count;
    return ERR_NONE;
  }

 private:
  std::int32_t* patterns_;
  double* doubles_;
  std::size_t at_ = 0;
};

}  // namespace

std::int32_t read_ascii_data(LineReader& lines, const SdfHeader& s, PhaseRecord& phase,
                             HookArray<double>& doubles, int threads, std::size_t chunk_bytes) {
  const std::size_t n = static_cast<std::size_t>(phase.count);
  const bool is_double = s.data_type == DT_DOUBLE;
  if (is_double && n > 0 && !doubles.allocate(n)) return ERR_NO_MEM;
  PhaseValues values(phase.data.get(), is_double ? doubles.get() : nullptr);
  return read_ascii_data(lines, s, n, values, {.threads = threads, .chunk_bytes = chunk_bytes});
}

}  // namespace sdf_detail
