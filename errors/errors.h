// Library-wide error codes and their names.
#pragma once

#include <cstdint>

// 0 is success; 1 to ERR_COUNT are the catalogue's conditions.
enum ErrorCode : std::int32_t {
  ERR_NONE = 0,  // success; error_name gives "NO_ERROR"
#define ERR(name, code) name = code,
#include "errors/error_codes.def"
#undef ERR
};

inline constexpr std::int32_t ERR_COUNT = 462;

// Names indexed by code: entry 0 is "", entries 1..ERR_COUNT the names.
// Only index it with a code known to lie in 1..ERR_COUNT.
extern const char* const error_table[ERR_COUNT + 1];

// The name of a code: "NO_ERROR" for 0, the catalogue name for 1..ERR_COUNT,
// otherwise "invalid error number <code>". The returned text stays valid
// until the same thread calls error_name again.
const char* error_name(std::int32_t code);
