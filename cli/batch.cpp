#include "cli/batch.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "cli/info.h"
#include "cli/name_list.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "errors/errors.h"
#include "platform/command_args.h"
#include "platform/directory.h"
#include "platform/file_io.h"
#include "platform/threads.h"

namespace {

constexpr std::uint32_t kNoFolder = 0xFFFFFFFF;

// A folder of the run: where the files found in it come from (walked
// folders only) and where their outputs go.
struct Folder {
  CommandArg in;
  CommandArg out;
  std::uint32_t parent = kNoFolder;  // the output folder it is made in
  std::atomic<bool> made{false};
};

// One input. A file found in a walked folder is kept as its name in that
// folder; a named one (command line or list) as a pointer to its name.
struct Job {
  std::string name;
  const CommandArg* given = nullptr;
  std::uint32_t folder = 0;  // its output folder (and a walked file's own)
  EntryInfo info;            // as planning found the input
  int status = -1;           // -1 until it is done; set already for a failure found while planning
};

// "dir/name" for messages.
std::string shown_join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/' || dir.back() == '\\') return dir + name;
  return dir + "/" + name;
}

// A list's name as a command-line argument.
CommandArg arg_from_text(const std::string& text) { return {u_path_from_text(text), text}; }

// Names as a file system that ignores case compares them (Windows, macOS and
// the shares they serve): outputs that differ only in case are one file
// there, so they are refused everywhere.
std::string name_key(const std::string& shown) {
  std::string key = shown;
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
#ifdef _WIN32
  std::replace(key.begin(), key.end(), '\\', '/');
#endif
  return key;
}

// 1 when the file starts with the magic number of a binary data file, 0 when
// it does not, -1 when it cannot be read.
int data_file_kind(const char* name) {
  MeasurementKind kind = MeasurementKind::kSdfAscii;
  const std::int32_t code = measurement_kind(name, kind);
  if (code == ERR_CANT_OPEN_FILE) return -1;
  return code == ERR_NONE && kind == MeasurementKind::kDataFile ? 1 : 0;
}

class Batch {
 public:
  Batch(const Options& opt, Console& console, Report& report)
      : opt_(opt), console_(console), report_(report), ext_(opt.x3p ? ".x3p" : ".sdf") {}

  int run();

 private:
  // Planning.
  std::uint32_t add_folder(CommandArg in, CommandArg out, std::uint32_t parent) {
    Folder& f = folders_.emplace_back();
    f.in = std::move(in);
    f.out = std::move(out);
    f.parent = parent;
    return static_cast<std::uint32_t>(folders_.size() - 1);
  }
  std::uint32_t subfolder(std::uint32_t parent, const std::string& name);
  void add_source(const CommandArg& source, std::uint32_t folder, bool keep_path);
  void walk(std::uint32_t root);
  void add_file(const CommandArg* given, std::string name, std::uint32_t folder,
                const EntryInfo& info, bool sniff);
  void fail_early(int status, const std::string& input, const std::string& text,
                  const std::string& error);
  bool inside_a_source() const;
  bool clash() const;

  // Running.
  CommandArg input_of(const Job& job) const {
    if (job.given) return *job.given;
    const Folder& f = folders_[job.folder];
    return {u_path_join(f.in.value.c_str(), job.name), shown_join(f.in.shown, job.name)};
  }
  CommandArg output_of(const Job& job) const {
    const Folder& f = folders_[job.folder];
    const CommandArg in = input_of(job);
    return {u_path_in_directory(f.out.value.c_str(), in.value.c_str(), ext_),
            u_path_in_directory(f.out.shown.c_str(), in.shown.c_str(), ext_)};
  }
  int make_folder(std::uint32_t folder);
  void convert(Job& job, std::size_t worker, Progress& progress, bool wide);

  Options opt_;       // a copy: the folder form sets its own format_threads
  Options opt_wide_;  // the same, for a file converted on every processor
  Console& console_;
  Report& report_;
  const char* ext_;
  std::deque<Folder> folders_;                       // [0] is DIRECTORY
  std::map<std::string, std::uint32_t> kept_paths_;  // a list's folders below DIRECTORY
  std::vector<Job> jobs_;
  std::vector<const CommandArg*> sources_;  // the folders walked, as named
  std::deque<CommandArg> listed_;           // the names read from the list
  std::atomic<std::size_t> not_data_{0};
  std::atomic<std::size_t> up_to_date_{0};
};

void Batch::fail_early(int status, const std::string& input, const std::string& text,
                       const std::string& error) {
  Job& job = jobs_.emplace_back();
  job.status = status;
  console_.write(text);
  report_.write(input, "", "failed", error, 0, 0, 0);
}

// The output folder `name` below `parent`, made once for every list name
// that leads through it.
std::uint32_t Batch::subfolder(std::uint32_t parent, const std::string& name) {
  const Folder& p = folders_[parent];
  CommandArg out{u_path_join(p.out.value.c_str(), name), shown_join(p.out.shown, name)};
  auto [at, fresh] = kept_paths_.emplace(name_key(out.shown), 0);
  if (fresh) at->second = add_folder({}, std::move(out), parent);
  return at->second;
}

void Batch::add_file(const CommandArg* given, std::string name, std::uint32_t folder,
                     const EntryInfo& info, bool sniff) {
  Job job;
  job.name = std::move(name);
  job.given = given;
  job.folder = folder;
  job.info = info;
  // Under -r a data file is known by its magic number; anything else is
  // skipped and counted. A file that cannot be read is left to the
  // conversion, which tells why.
  if (sniff && info.kind == EntryKind::kFile &&
      (info.size < 4 || data_file_kind(input_of(job).value.c_str()) == 0)) {
    ++not_data_;
    if (report_.on())
      report_.write(input_of(job).shown, "", "not a data file", "", info.size, 0, 0);
    return;
  }
  jobs_.push_back(std::move(job));
}

// One name from the command line or the list. `keep_path` (a list under
// -r): its folders are kept below DIRECTORY, as rsync keeps a listed name's.
void Batch::add_source(const CommandArg& source, std::uint32_t folder, bool keep_path) {
  if (source.value.empty() && !source.shown.empty()) {
    fail_early(EXIT_NO_INPUT, source.shown,
               "Unable to convert \"" + source.shown +
                   "\" because...\n\tthe name cannot be converted to the system's encoding\n",
               "the name cannot be converted");
    return;
  }
  const EntryInfo info = u_entry_info(source.value.c_str());
  std::vector<std::string> parts;
  if (keep_path) {
    // Its folders as text: no root, drive, "." or empty part; ".." would
    // lead outside DIRECTORY.
    std::string part;
    const std::string& s = source.shown;
    for (std::size_t i = 0; i <= s.size(); ++i) {
      const bool cut = i == s.size() || s[i] == '/'
#ifdef _WIN32
                       || s[i] == '\\' || (s[i] == ':' && parts.empty() && part.size() == 1)
#endif
          ;
      if (!cut) {
        part += s[i];
        continue;
      }
      if (part == "..") {
        fail_early(EXIT_NO_INPUT, source.shown,
                   "Unable to convert \"" + source.shown +
                       "\" because...\n\ta listed name with \"..\" has no place below \"" +
                       folders_[0].out.shown + "\"\n",
                   "name with ..");
        return;
      }
      if (!part.empty() && part != "." && !(i < s.size() && s[i] == ':')) parts.push_back(part);
      part.clear();
    }
    const std::size_t folders = info.kind == EntryKind::kDirectory ? parts.size()
                                : parts.empty()                    ? 0
                                                                   : parts.size() - 1;
    for (std::size_t i = 0; i < folders; ++i) folder = subfolder(folder, parts[i]);
  }
  if (opt_.recursive && info.kind == EntryKind::kDirectory) {
    sources_.push_back(&source);
    Folder& f = folders_[folder];
    if (f.in.value.empty() && (keep_path || folder == 0)) {
      f.in = source;
      walk(folder);
    } else {
      walk(add_folder(source, f.out, f.parent));
    }
    return;
  }
  // A named file (or what is not there: the conversion tells).
  add_file(&source, {}, folder, info, opt_.recursive);
}

// Every file below a folder, folders first in name order, depth first.
void Batch::walk(std::uint32_t root) {
  std::vector<std::uint32_t> stack{root};
  std::vector<DirEntry> entries;
  while (!stack.empty()) {
    const std::uint32_t folder = stack.back();
    stack.pop_back();
    entries.clear();
    const CommandArg here = folders_[folder].in;
    if (const int error = u_list_directory(here.value.c_str(), entries)) {
      fail_early(EXIT_READ_FAILED, here.shown,
                 "Unable to read the folder \"" + here.shown + "\" because...\n\t" +
                     std::strerror(error) + "\n",
                 std::strerror(error));
      continue;
    }
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    const std::size_t first_sub = stack.size();
    for (DirEntry& e : entries) {
      if (e.bad_name) {
        const std::string shown = shown_join(here.shown, e.name);
        fail_early(EXIT_NO_INPUT, shown,
                   "Unable to convert \"" + shown +
                       "\" because...\n\tthe name is not valid UTF-16 and cannot be shown\n",
                   "the name cannot be converted");
      } else if (e.info.kind == EntryKind::kDirectory) {
        const Folder& f = folders_[folder];
        stack.push_back(add_folder(
            {u_path_join(f.in.value.c_str(), e.name), shown_join(f.in.shown, e.name)},
            {u_path_join(f.out.value.c_str(), e.name), shown_join(f.out.shown, e.name)}, folder));
      } else if (e.info.kind == EntryKind::kFile) {
        add_file(nullptr, std::move(e.name), folder, e.info, true);
      } else if (e.info.kind != EntryKind::kMissing) {
        ++not_data_;  // a link to a folder (never followed), a device, a FIFO
      }
    }
    std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(first_sub), stack.end());
  }
}

// True when DIRECTORY is one of the walked folders or below one: its outputs
// would be found again, and written into themselves. The folders above it
// are compared by identity, which sees through links and other spellings.
bool Batch::inside_a_source() const {
  const CommandArg& dir = folders_[0].out;
  std::string at = dir.value;
  if (!u_is_directory(at.c_str())) {
    // Not made yet: its parent is where to start.
    const std::size_t cut = at.find_last_of('/');
    at = cut == std::string::npos ? "." : at.substr(0, std::max<std::size_t>(cut, 1));
    if (u_path_is_wide(dir.value.c_str())) at = u_path_join(dir.value.c_str(), "..");
  }
  for (int depth = 0; depth < 4096; ++depth) {
    for (const CommandArg* s : sources_)
      if (u_same_file(at.c_str(), s->value.c_str())) return true;
    std::string up = u_path_join(at.c_str(), "..");
    if (u_same_file(up.c_str(), at.c_str()) || !u_is_directory(up.c_str())) break;
    at = std::move(up);
  }
  return false;
}

// True (after a message) when two inputs would write one output.
bool Batch::clash() const {
  std::unordered_multimap<std::size_t, std::size_t> taken;
  taken.reserve(jobs_.size());
  for (std::size_t i = 0; i < jobs_.size(); ++i) {
    if (jobs_[i].status >= 0) continue;
    const CommandArg out = output_of(jobs_[i]);
    const std::string key = name_key(out.shown);
    const std::size_t hash = std::hash<std::string>{}(key);
    auto [from, to] = taken.equal_range(hash);
    for (auto it = from; it != to; ++it) {
      const Job& other = jobs_[it->second];
      if (name_key(output_of(other).shown) != key) continue;
      console_.write("\"" + input_of(other).shown + "\" and \"" + input_of(jobs_[i]).shown +
                     "\" would both be converted to \"" + out.shown + "\"; nothing was written\n");
      return true;
    }
    taken.emplace(hash, i);
  }
  return false;
}

// Makes an output folder and those it is in, below DIRECTORY; 0 or errno.
int Batch::make_folder(std::uint32_t folder) {
  Folder& f = folders_[folder];
  if (f.made.load()) return 0;
  if (f.parent != kNoFolder)
    if (const int error = make_folder(f.parent)) return error;
  if (const int error = u_make_directory(f.out.value.c_str())) return error;
  f.made.store(true);
  return 0;
}

void Batch::convert(Job& job, std::size_t worker, Progress& progress, bool wide) {
  const auto start = std::chrono::steady_clock::now();
  const CommandArg in = input_of(job), out = output_of(job);
  Messages m(console_, true);
  FileResult result;
  // The output's folders are made only for an input that is there. What
  // planning found is used, not asked again: on a tree of small files every
  // call to the system counts.
  const EntryInfo& source = job.info;
  int error = 0;
  if (source.kind == EntryKind::kFile && (error = make_folder(job.folder)) != 0) {
    const Folder& f = folders_[job.folder];
    m.print("Unable to convert \"%s\" to \"%s\" because...\n", in.shown.c_str(), out.shown.c_str());
    m.print("\tthe folder \"%s\" could not be made: %s\n", f.out.shown.c_str(),
            error == EEXIST ? "another file has its name" : std::strerror(error));
    result.status = EXIT_WRITE_FAILED;
    result.error = std::strerror(error);
  } else {
    result.status =
        convert_one(in, out, wide ? opt_wide_ : opt_, m, result, progress.counter(worker), &source);
  }
  job.status = result.status;
  progress.file_done(worker, job.info.size);
  if (result.up_to_date)
    ++up_to_date_;
  else
    console_.write(m.text());
  if (report_.on()) {
    const char* status = result.up_to_date                 ? "up to date"
                         : result.status == EXIT_CONVERTED ? "converted"
                                                           : "failed";
    report_.write(in.shown, out.shown, status, result.error, job.info.size, result.bytes_out,
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}

int Batch::run() {
  const CommandArg& dir = *opt_.names.back();
  add_folder({}, dir, kNoFolder);
  const EntryInfo dir_info = u_entry_info(dir.value.c_str());
  if (dir_info.kind != EntryKind::kDirectory &&
      (!opt_.recursive || dir_info.kind != EntryKind::kMissing)) {
    console_.write("tovrel: \"" + dir.shown + "\" is not a directory\n");
    return EXIT_USAGE;
  }
  folders_[0].made = dir_info.kind == EntryKind::kDirectory;

  // Planning: every input, its size and its output, before anything is
  // written.
  for (std::size_t i = 0; i + 1 < opt_.names.size(); ++i) add_source(*opt_.names[i], 0, false);
  if (opt_.files_from) {
    const int error = read_name_list(*opt_.files_from, opt_.null_names, [&](std::string name) {
      add_source(listed_.emplace_back(arg_from_text(name)), 0, opt_.recursive);
    });
    if (error) {
      console_.write("Unable to read the list \"" + opt_.files_from->shown + "\" because...\n\t" +
                     std::strerror(error) + "\n");
      return EXIT_NO_INPUT;
    }
  }
  if (inside_a_source()) {
    console_.write("\"" + dir.shown +
                   "\" is inside a folder it would convert; nothing was written\n");
    return EXIT_USAGE;
  }
  if (clash()) return EXIT_OUTPUT_EXISTS;
  // -r makes DIRECTORY, as cp -r does, even when nothing is converted into it.
  if (const int error = make_folder(0)) {
    console_.write("Unable to make the folder \"" + dir.shown + "\" because...\n\t" +
                   std::strerror(error) + "\n");
    return EXIT_WRITE_FAILED;
  }

  // The largest files first, so that no large one runs alone at the end.
  std::vector<std::uint32_t> order;
  std::int64_t bytes = 0;
  for (std::size_t i = 0; i < jobs_.size(); ++i) {
    if (jobs_[i].status >= 0) continue;
    order.push_back(static_cast<std::uint32_t>(i));
    bytes += jobs_[i].info.size;
  }
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return jobs_[a].info.size > jobs_[b].info.size;
  });

  // One file a thread; the thread cap also bounds the temporary files a
  // signal handler removes.
  const std::size_t workers = std::max<std::size_t>(
      1, std::min<std::size_t>(order.size(), static_cast<std::size_t>(u_working_threads(0))));
  // One thread a file, but a file as large as a worker's share of what is
  // left gets every processor: a large file among small ones must not run
  // on one core at the end while the other has nothing to do.
  opt_wide_ = opt_;
  if (workers > 1) opt_.format_threads = 1;
  {
    Progress progress(console_, opt_.terminal, order.size(), bytes, workers);
    std::atomic<std::size_t> next{0};
    std::atomic<std::int64_t> left{bytes};
    // A thread that cannot be started leaves more files to the others.
    u_run_threads(static_cast<int>(workers), [&](int worker) {
      for (std::size_t i; (i = next.fetch_add(1)) < order.size();) {
        Job& job = jobs_[order[i]];
        const std::int64_t before = left.fetch_sub(job.info.size);
        convert(job, static_cast<std::size_t>(worker), progress,
                job.info.size * static_cast<std::int64_t>(workers) >= before);
      }
    });
  }

  std::size_t converted = 0, failed = 0;
  int status = EXIT_CONVERTED;
  for (const Job& job : jobs_) {
    if (job.status == EXIT_CONVERTED) {
      ++converted;
    } else {
      ++failed;
      if (status == EXIT_CONVERTED) status = job.status;
    }
  }
  converted -= up_to_date_;
  char summary[200];
  std::snprintf(summary, sizeof summary, "%zu up to date, %zu not data files, %zu failed\n",
                up_to_date_.load(), not_data_.load(), failed);
  console_.write("Converted " + std::to_string(converted) + " of " + std::to_string(jobs_.size()) +
                 " files into \"" + dir.shown + "\"; " + summary);
  if (!report_.ok()) {
    console_.write("Unable to write the report \"" + opt_.report->shown + "\"\n");
    if (status == EXIT_CONVERTED) status = EXIT_WRITE_FAILED;
  }
  return status;
}

}  // namespace

int convert_many(const Options& opt) {
  Console console;
  Report report;
  if (opt.report && !report.open(*opt.report)) {
    console.write("Unable to write the report \"" + opt.report->shown + "\" because...\n\t" +
                  std::strerror(errno) + "\n");
    return EXIT_WRITE_FAILED;
  }
  Batch batch(opt, console, report);
  return batch.run();
}

int convert_single(const Options& opt) {
  Console console;
  Report report;
  if (opt.report && !report.open(*opt.report)) {
    console.write("Unable to write the report \"" + opt.report->shown + "\" because...\n\t" +
                  std::strerror(errno) + "\n");
    return EXIT_WRITE_FAILED;
  }
  const CommandArg& in = *opt.names[0];
  const CommandArg& out = *opt.names[1];
  const auto start = std::chrono::steady_clock::now();
  const std::int64_t size = u_entry_info(in.value.c_str()).size;
  Messages m(console, false);
  FileResult result;
  {
    Progress progress(console, opt.terminal, 1, size, 1);
    result.status = convert_one(in, out, opt, m, result, progress.counter(0));
  }
  if (report.on()) {
    const char* status = result.up_to_date                 ? "up to date"
                         : result.status == EXIT_CONVERTED ? "converted"
                                                           : "failed";
    report.write(in.shown, out.shown, status, result.error, size, result.bytes_out,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (!report.ok()) {
      console.write("Unable to write the report \"" + opt.report->shown + "\"\n");
      if (result.status == EXIT_CONVERTED) result.status = EXIT_WRITE_FAILED;
    }
  }
  return result.status;
}
