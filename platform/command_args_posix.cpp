#include "platform/command_args.h"
#include "platform/file_io.h"

std::string u_path_from_arg(const char* arg) {
  std::string value = arg;
  if (u_path_is_wide(value.c_str())) value.insert(0, "./");
  return value;
}

std::string u_path_from_text(const std::string& text) { return u_path_from_arg(text.c_str()); }
