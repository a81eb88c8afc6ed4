#include "errors/errors.h"

#include <cstdio>

namespace {

// Codes must run 1, 2, 3, ... in file order, so that the enum and the table
// agree and a misplaced line fails to compile.
constexpr bool codes_are_dense() {
  std::int32_t expected = 1;
#define ERR(name, code) \
  if ((code) != expected++) return false;
#include "errors/error_codes.def"
#undef ERR
  return expected == ERR_COUNT + 1;
}
static_assert(codes_are_dense(), "error_codes.def must list codes 1..ERR_COUNT in order");

}  // namespace

const char* const error_table[ERR_COUNT + 1] = {
    "",
#define ERR(name, code) #name,
#include "errors/error_codes.def"
#undef ERR
};

const char* error_name(std::int32_t code) {
  if (code == 0) return "NO_ERROR";
  if (code >= 1 && code <= ERR_COUNT) return error_table[code];
  // Each thread formats into its own buffer, so concurrent callers never see
  // each other's text.
  thread_local char buffer[48];
  std::snprintf(buffer, sizeof buffer, "invalid error number %d", static_cast<int>(code));
  return buffer;
}
