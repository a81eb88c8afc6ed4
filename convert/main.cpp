// Program entry of tovrel.
#include <vector>

#include "convert/driver.h"

int main(int argc, char** argv) {
  std::vector<CommandArg> args;
  for (int i = 1; i < argc; ++i) args.push_back({argv[i], argv[i]});
  return run_tovrel(args);
}
