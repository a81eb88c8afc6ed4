// What the POSIX and Windows output files share: the table of temporary files
// a signal (or console event) handler removes, and the names of temporaries.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>

#include "platform/threads.h"

// Temporary files that a handler removes. A slot is claimed with a
// compare-and-swap, filled, then marked ready; the handler only reads slots
// that are ready, with calls that are safe in a handler.
//
// A temporary is made and registered as one step (make_registered): a
// handler that runs meanwhile on another thread waits until it is
// registered, and once a handler has started no temporary is made any more,
// so that none is left whenever the handler runs. The caller keeps the
// handler off its own thread while it makes one (POSIX: the signals held
// back; a Windows console handler runs on a thread of its own).
template <class Char>
class TemporaryTable {
 public:
  // One temporary a thread: a process of ours writes at most kMaxThreads
  // outputs at once.
  static constexpr int kSlots = kMaxThreads;
  // Longer names cannot be created (PATH_MAX on POSIX, the long-path limit
  // on Windows).
  static constexpr std::size_t kNameSize = sizeof(Char) == 1 ? 4096 : 32768;

  // Calls `make`, which returns true when it made the file `name`, and
  // registers the file in `slot` (-1 when the name is too long or no slot is
  // free). False without calling `make` once a handler has started.
  template <class Make>
  static bool make_registered(const std::basic_string<Char>& name, int& slot, Make make) {
    creating_.fetch_add(1);
    bool made = false;
    if (!ending_.load()) {
      made = make();
      if (made) slot = add(name);
    }
    creating_.fetch_sub(1);
    return made;
  }
  static void remove(int slot) {
    if (slot >= 0) state_[slot].store(0);
  }
  // In the handler: no temporary is made from now on; waits for those being
  // made, then calls `f` with each registered name. Safe in a handler when
  // `f` is.
  template <class F>
  static void remove_all(F f) {
    ending_.store(true);
    while (creating_.load() != 0) {
    }
    for (int i = 0; i < kSlots; ++i)
      if (state_[i].load() == 2) f(static_cast<const Char*>(names_[i]));
  }

 private:
  static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
                "the handler may only use lock-free atomics");

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

  static inline Char names_[kSlots][kNameSize];
  static inline std::atomic<int> state_[kSlots];   // 0 free, 1 being filled, 2 ready
  static inline std::atomic<int> creating_{0};     // temporaries being made
  static inline std::atomic<bool> ending_{false};  // a handler has started
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
