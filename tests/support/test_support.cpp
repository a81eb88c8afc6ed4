#include "tests/support/test_support.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

#include "datafile/data_writer.h"
#include "platform/memory.h"
#include "sdf/attributes.h"
#include "tools/synthetic.h"

#ifdef _WIN32
#include "platform/windows_api.h"
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace testing_support {

std::string captured(const std::function<void(std::FILE*)>& write) {
  std::FILE* f = std::tmpfile();
  if (!f) throw std::runtime_error("tmpfile");
  write(f);
  std::string text;
  std::rewind(f);
  char buf[65536];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  std::fclose(f);
  return text;
}

std::string attribute_listing(const Header& h, int* result) {
  return captured([&](std::FILE* f) {
    int r = write_header_attributes(f, &h);
    if (result) *result = r;
  });
}

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
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
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
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
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
  r.out = r.out_bytes = read_text(out_path);
  r.err = r.err_bytes = read_text(err_path);
  return r;
}
#else
namespace {

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

// Appends `arg` to a command line so that the C runtime of the started
// program splits it back into exactly `arg`: inside quotes, backslashes
// count only before a quote, where they are doubled and the quote escaped.
void append_argument(std::wstring& cmd, const std::wstring& arg) {
  cmd += L" \"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    cmd.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    cmd += c;
  }
  cmd.append(2 * backslashes, L'\\');
  cmd += L'"';
}

// Turns every CR LF into LF.
std::string text_lines(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    out += bytes[i];
  }
  return out;
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ && h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

}  // namespace

RunResult run_program(const std::string& exe, const std::vector<std::string>& args) {
  ScratchDir dir;
  std::wstring out_path = widen(dir.file("stdout")), err_path = widen(dir.file("stderr"));
  RunResult r;
  {
    // The child inherits these three handles as its standard streams.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle in(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, 0, nullptr));
    Handle out(CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, 0, nullptr));
    Handle err(CreateFileW(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, 0, nullptr));
    if (!in.ok() || !out.ok() || !err.ok()) return r;

    // The program name is split by simpler rules: plain quotes around it.
    std::wstring wexe = widen(exe);
    std::wstring cmd = L"\"" + wexe + L"\"";
    for (const std::string& a : args) append_argument(cmd, widen(a));

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in.get();
    si.hStdOutput = out.get();
    si.hStdError = err.get();
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(wexe.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                       &pi)) {
      Handle process(pi.hProcess), thread(pi.hThread);
      DWORD code = 0;
      if (WaitForSingleObject(pi.hProcess, INFINITE) == WAIT_OBJECT_0 &&
          GetExitCodeProcess(pi.hProcess, &code))
        // An exception status (a crash) is not an exit.
        r.status = code >= 0xC0000000u ? -1 : static_cast<int>(code);
    }
  }
  r.out_bytes = read_text(dir.file("stdout"));
  r.err_bytes = read_text(dir.file("stderr"));
  r.out = text_lines(r.out_bytes);
  r.err = text_lines(r.err_bytes);
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

Measurement synthetic_measurement(int format, std::int16_t width, std::int16_t height,
                                  bool intensity) {
  Measurement m;
  SyntheticOptions o;
  o.format = format;
  o.width = width;
  o.height = height;
  o.intensity = intensity;
  make_synthetic(o, &m.header, &m.intensity, &m.phase);
  return m;
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

namespace {

AllocHooks g_watch_saved;
std::size_t g_watch_largest = 0;
bool g_watch_refuse = false;

void* watched_allocate(std::size_t n) {
  g_watch_largest = std::max(g_watch_largest, n);
  return g_watch_refuse ? nullptr : u_default_alloc_hooks.allocate(n);
}

}  // namespace

AllocationWatch::AllocationWatch(bool refuse_all) {
  g_watch_saved = u_alloc_hooks;
  g_watch_largest = 0;
  g_watch_refuse = refuse_all;
  u_alloc_hooks.allocate = watched_allocate;
}

AllocationWatch::~AllocationWatch() { u_alloc_hooks = g_watch_saved; }

std::size_t AllocationWatch::largest() const { return g_watch_largest; }

void AllocationWatch::refuse_all(bool refuse) { g_watch_refuse = refuse; }

void TovrelProgramTest::make_files(const std::string& in_name, const std::string& out_name,
                                   std::int16_t width, std::int16_t height) {
  input = dir.file(in_name);
  output = dir.file(out_name);
  Measurement m = synthetic_measurement(1, width, height);
  write_bytes(input, encode_data_file(m.header, &m.intensity, &m.phase));
  input_bytes = read_bytes(input);
  ASSERT_FALSE(input_bytes.empty());
}

RunResult TovrelProgramTest::run(const std::vector<std::string>& args) {
  RunResult r = run_program(tovrel_exe(), args);
  EXPECT_EQ(r.out_bytes, "");
  EXPECT_EQ(read_bytes(input), input_bytes) << "the input must never change";
  return r;
}

std::string TovrelProgramTest::unable(const std::string& in, const std::string& out) {
  return "Unable to convert \"" + in + "\" to \"" + out + "\" because...\n";
}

}  // namespace testing_support
