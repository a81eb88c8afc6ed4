// What the POSIX and Windows output files share: the table of temporary files
// a signal (or console event) handler removes, and the names of temporaries.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>

// Temporary files that a handler removes. A slot is claimed with a
// compare-and-swap, filled, then marked ready; the handler only reads slots
// that are ready, with calls that are safe in a handler.
template <class Char>
class TemporaryTable {
 public:
  static constexpr int kSlots = 16;
  static constexpr std::size_t kNameSize = 4096;

  // The slot holding `name`, or -1 when it is too long or no slot is free.
  static int add(const std::basic_string<Char>& name) {
    if (name.size() >= kNameSize) return -1;
    for (int i = 0; i < kSlots; ++i) {
      int expected = 0;
      if (!state_[i].compare_exchange_strong(expected, 1)) continue;
      std::memcpy(names_[i], name.c_str(), (name.size() + 1) * sizeof(Char));
      state_[i].store(2);
      return i;
    }
    return -1;
  }
  static void remove(int slot) {
    if (slot >= 0) state_[slot].store(0);
  }
  // Calls `f` with each ready name; safe in a handler when `f` is.
  template <class F>
  static void each(F f) {
    for (int i = 0; i < kSlots; ++i)
      if (state_[i].load() == 2) f(static_cast<const Char*>(names_[i]));
  }

 private:
  static inline Char names_[kSlots][kNameSize];
  static inline std::atomic<int> state_[kSlots];  // 0 free, 1 being filled, 2 ready
};

// A name for the temporary file beside `final`: ".<name>.<random>.tmp" in the
// same directory, so that the last step is a rename within one file system.
// `separators` end the directory part; `process` and `attempt` vary the name.
template <class Char>
std::basic_string<Char> temporary_name(const std::basic_string<Char>& final, const Char* separators,
                                       unsigned long long process, unsigned attempt) {
  using String = std::basic_string<Char>;
  const std::size_t cut = final.find_last_of(separators);
  const String dir = cut == String::npos ? String() : final.substr(0, cut + 1);
  const String base = cut == String::npos ? final : final.substr(cut + 1);
  static std::atomic<unsigned> counter{0};
  const auto ticks =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  unsigned long long mix =
      ticks ^ (process << 32) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull) ^ attempt;
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  String name = dir + Char('.') + base + Char('.');
  for (int i = 0; i < 10; ++i, mix /= 36) name += static_cast<Char>(kDigits[mix % 36]);
  for (char c : {'.', 't', 'm', 'p'}) name += static_cast<Char>(c);
  return name;
}
