#include "cli/report.h"

#include <nlohmann/json.hpp>

bool Report::open(const CommandArg& file) {
  // Appended: a resumed run adds its records to those of the run before.
  file_ = File(u_fopen(file.value.c_str(), "a"));
  return on();
}

void Report::write(const std::string& input, const std::string& output, const char* status,
                   const std::string& error, std::int64_t bytes_in, std::int64_t bytes_out,
                   double seconds) {
  if (!file_) return;
  nlohmann::ordered_json line = {
      {"input", input},
      {"output", output.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(output)},
      {"status", status},
      {"error", error.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(error)},
      {"bytes_in", bytes_in},
      {"bytes_out", bytes_out},
      {"seconds", static_cast<double>(static_cast<std::int64_t>(seconds * 1000 + 0.5)) / 1000},
  };
  // Names that are not UTF-8 (bytes of a POSIX name) get U+FFFD in place of
  // what cannot be shown.
  const std::string text =
      line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::fputs(text.c_str(), file_.get()) < 0 || std::fflush(file_.get()) != 0) ok_ = false;
}
