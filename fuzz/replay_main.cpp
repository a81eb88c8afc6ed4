// Stands in for libFuzzer when the targets are built without it: runs the
// target once over every input named on the command line (a file, or every
// file of a directory, in name order), so that ctest replays the seed corpus
// and each saved crash input on every build.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool run_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    return false;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::fprintf(stderr, "running %s (%zu bytes)\n", path.string().c_str(), bytes.size());
  // A copy of exactly the input's size lets AddressSanitizer see any read
  // past its end, as under libFuzzer.
  std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(data.data(), data.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE_OR_DIRECTORY...\n", argv[0]);
    return 2;
  }
  std::size_t inputs = 0;
  for (int i = 1; i < argc; ++i) {
    fs::path arg(argv[i]);
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(arg, ec))
        if (entry.is_regular_file()) files.push_back(entry.path());
      if (ec) {
        std::fprintf(stderr, "cannot list %s: %s\n", argv[i], ec.message().c_str());
        return 2;
      }
      std::sort(files.begin(), files.end());
      for (const auto& file : files) {
        if (!run_file(file)) return 2;
        ++inputs;
      }
    } else if (fs::is_regular_file(arg, ec)) {
      if (!run_file(arg)) return 2;
      ++inputs;
    } else {
      std::fprintf(stderr, "no such input: %s\n", argv[i]);
      return 2;
    }
  }
  // An empty corpus would make the test pass without running anything.
  if (inputs == 0) {
    std::fprintf(stderr, "no inputs found\n");
    return 1;
  }
  std::printf("replayed %zu inputs\n", inputs);
  return 0;
}
