#include "platform/local_time.h"

bool u_local_time(std::time_t t, std::tm& out) {
#ifdef _WIN32
  return localtime_s(&out, &t) == 0;
#else
  return localtime_r(&t, &out) != nullptr;
#endif
}
