#include "tests/support/test_support.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#ifdef _WIN32
#include <process.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace testing_support {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path p = fs::temp_directory_path() / ("tovrel-test-" + std::to_string(rd()));
    if (fs::create_directory(p)) {
      path_ = p;
      return;
    }
  }
  throw std::runtime_error("cannot create a scratch directory");
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string ScratchDir::file(const std::string& name) const {
  auto u8 = (path_ / fs::path(std::u8string(name.begin(), name.end()))).u8string();
  return std::string(u8.begin(), u8.end());
}

std::vector<std::uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(fs::path(std::u8string(path.begin(), path.end())), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string read_text(const std::string& path) {
  auto b = read_bytes(path);
  return std::string(b.begin(), b.end());
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(fs::path(std::u8string(path.begin(), path.end())), std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write_text(const std::string& path, const std::string& text) {
  write_bytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

#ifndef _WIN32
RunResult run_program(const std::string& exe, const std::vector<std::string>& args) {
  ScratchDir dir;
  std::string out_path = dir.file("stdout"), err_path = dir.file("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  RunResult r;
  if (posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int ws = 0;
    waitpid(pid, &ws, 0);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  r.out = read_text(out_path);
  r.err = read_text(err_path);
  return r;
}
#else
RunResult run_program(const std::string& exe, const std::vector<std::string>& args) {
  // Quote every argument for the Windows command line.
  ScratchDir dir;
  auto quote = [](const std::string& s) { return "\"" + s + "\""; };
  std::string cmd = quote(exe);
  for (const std::string& a : args) cmd += " " + quote(a);
  cmd += " <NUL >" + quote(dir.file("stdout")) + " 2>" + quote(dir.file("stderr"));
  RunResult r;
  r.status = std::system(("\"" + cmd + "\"").c_str());
  r.out = read_text(dir.file("stdout"));
  r.err = read_text(dir.file("stderr"));
  return r;
}
#endif

Header distinct_header(int format) {
  Header h{};
  std::uint32_t seed = 0x1234567u;
  for (std::size_t i = 0; i < kHeaderFieldCount; ++i) {
    const FieldDesc& f = kHeaderFields[i];
    auto* p = static_cast<unsigned char*>(header_field_ptr(h, f));
    if (f.type == FieldType::TEXT) {
      std::string text = "t";
      text.append(std::to_string(i)).append("-").append(f.name);
      text.resize(std::min<std::size_t>(text.size(), f.count - 1));
      std::memcpy(p, text.c_str(), text.size() + 1);
      continue;
    }
    for (std::size_t b = 0; b < f.width(); ++b) {
      seed = seed * 1103515245u + 12345u;
      p[b] = static_cast<unsigned char>(seed >> 16);
    }
    if (f.type == FieldType::F32) {
      // Keep floats finite so that they compare equal after a round trip.
      for (std::size_t e = 0; e < f.count; ++e) {
        float v = static_cast<float>(i * 100 + e) + 0.25f;
        std::memcpy(p + 4 * e, &v, 4);
      }
    }
  }
  h.magic_number = format == 3 ? kMagicFormat3 : format == 2 ? kMagicFormat2 : kMagicFormat1;
  // No data blocks: the header stands alone.
  h.intens_n_bytes = 0;
  h.cn_n_bytes = 0;
  return h;
}

PhaseRecord make_phase(std::int16_t width, std::int16_t height,
                       const std::vector<std::int32_t>& values) {
  PhaseRecord p;
  p.width = width;
  p.height = height;
  if (!values.empty() && phase_record_alloc(&p) == 0) {
    for (std::size_t i = 0; i < values.size() && i < static_cast<std::size_t>(p.count); ++i)
      p.data[i] = values[i];
  }
  return p;
}

}  // namespace testing_support
