// The local time of a clock reading, through the thread-safe conversion.
#pragma once

#include <ctime>

// False when the reading has no local time (`out` is then unspecified).
[[nodiscard]] bool u_local_time(std::time_t t, std::tm& out);
