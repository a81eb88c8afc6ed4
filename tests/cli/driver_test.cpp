// The tovrel command line, run as a real program: exit status, the exact
// standard error, an empty standard output, and files left as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <regex>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "datafile/data_writer.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

const std::string kUsage =
    "\nUsage:  tovrel [options] input output\n"
    "\tinput  = existing Vexa binary data file\n"
    "\toutput = SDF ascii data file to create\n"
    "\n\tOptions:\n"
    "\t\t-f\twrites output even if file already exists\n";

class DriverTest : public TovrelProgramTest {
 protected:
  void SetUp() override { make_files("in.dat", "out.sdf", 12, 7); }
};

}  // namespace

TEST_F(DriverTest, BadCommandLinesPrintUsage) {
  std::vector<std::vector<std::string>> bad = {
      {},
      {input},
      {input, output, dir.file("third")},
      {"-y", input, output},
      {"-x", "-b", input, output},  // an x3p file has no binary form
      {"-b", "-x", input, output},
      {"-", input, output},
      {"-f", input},
      {input, "-f"},
      {"-f", "-f", input},
      {"--bogus", input, output},
      {input, output, "--files-from"},
      {"--helpx", input, output},
  };
  for (const auto& args : bad) {
    RunResult r = run(args);
    EXPECT_EQ(r.status, 1) << args.size();
    EXPECT_EQ(r.err, kUsage);
    EXPECT_FALSE(std::filesystem::exists(output));
  }
}

TEST_F(DriverTest, HelpAndVersionGoToStandardOutput) {
  // Anywhere before "--", whatever else the line holds; nothing is converted.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--help"}, {input, output, "--help"}, {"-z", "--help", "--version"}}) {
    RunResult r = run_program(tovrel_exe(), args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("Usage:  tovrel [options] input output\n"
                          "        tovrel [options] input... directory\n",
                          0),
              0u)
        << r.out;
    for (const char* option :
         {"\n  -b ", "\n  -f ", "\n  -x ", "\n  -r ", "\n  -u ", "\n  -q ", "\n  -0 ",
          "\n  --files-from ", "\n  --report ", "\n  -- ", "\n  --version "})
      EXPECT_NE(r.out.find(option), std::string::npos) << option;
  }
  RunResult r = run_program(tovrel_exe(), {"--version", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::regex_match(r.out, std::regex("tovrel [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << r.out;
  // After "--", or as an option's file, it is a file name.
  r = run({"--", "--help", output});
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(std::filesystem::exists(output));
  r = run({"--files-from", "--help", dir.path().string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("Unable to read the list \"--help\"", 0), 0u) << r.err;
#ifndef _WIN32
  // A help text that cannot be written is a failure.
  r = run_program("/bin/sh", {"-c", "exec \"$0\" --help >/dev/full", tovrel_exe()});
  EXPECT_EQ(r.status, 5);
#endif
}

TEST_F(DriverTest, MissingInputIsReportedBeforeAnythingElse) {
  std::string missing = dir.file("missing.dat");
  RunResult r = run({missing, output});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, unable(missing, output) + "\t\"" + missing + "\" does not exist\n");
  // A directory is not an existing file.
  r = run({dir.path().string(), output});
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(DriverTest, ExistingOutputNeedsForce) {
  std::string junk = dir.file("junk.txt");
  write_text(junk, "not a data file");
  write_text(output, "keep me");
  // The input is never opened when the output is in the way.
  RunResult r = run({junk, output});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, unable(junk, output) + "\t\"" + output + "\" already exists\n");
  EXPECT_EQ(read_text(output), "keep me");
  // -u: an output not older than its input is up to date.
  const auto written = std::chrono::floor<std::chrono::seconds>(
      std::filesystem::last_write_time(junk));  // whole seconds: what every system keeps
  std::filesystem::last_write_time(junk, written);
  std::filesystem::last_write_time(output, written);
  r = run({"-u", junk, output});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "\"" + output + "\" is up to date\n");
  EXPECT_EQ(read_text(output), "keep me");
}

TEST_F(DriverTest, ForceNeverWritesOverTheInputItself) {
  RunResult r = run({"-f", input, input});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, unable(input, input) + "\t\"" + input + "\" is the input file\n");
  // Nor over another measurement: a name like "-final.dat" that a wildcard
  // put first must not turn into -f and cost the next file.
  const std::string other = dir.file("other.dat");
  const std::vector<std::uint8_t> measurement = read_bytes(input);
  write_bytes(other, measurement);
  r = run({"-f", input, other});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, unable(input, other) + "\t\"" + other +
                       "\" is a binary data file, which -f never replaces\n");
  EXPECT_EQ(read_bytes(other), measurement);
  // "--" ends the options.
  const std::string dashed = dir.file("-final.dat");
  write_bytes(dashed, measurement);
  r = run({"--", dashed, output});
  EXPECT_EQ(r.status, 0) << r.err;
  r = run({"--", "-f", output});
  EXPECT_EQ(r.status, 2);
}

TEST_F(DriverTest, ReadFailureNamesTheError) {
  std::string junk = dir.file("junk.txt");
  write_text(junk, "not a data file");
  RunResult r = run({"-fq", junk, output});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, "Converting \"" + junk + "\" to \"" + output + "\"\n" + unable(junk, output) +
                       "\tthere was an error reading the file \"" + junk + "\"\n" +
                       "\tERR_NOT_A_DATA_FILE\n");
  EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(DriverTest, SuccessPrintsTwoLinesAndWritesTheFile) {
  RunResult r = run({input, output});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Converting \"" + input + "\" to \"" + output + "\"\n" + "Conversion from \"" +
                       input + "\" to \"" + output + "\" successful\n");
  std::string text = read_text(output);
  EXPECT_EQ(text.rfind("aBCR-1.0", 0), 0u);
  EXPECT_NE(text.find("NumPoints = 12"), std::string::npos);
  EXPECT_TRUE(text.ends_with("\n*\n") || text.ends_with("\r\n*\r\n"));
}

TEST_F(DriverTest, ForceOverwritesAnExistingOutput) {
  write_text(output, std::string(50000, 'z'));
  RunResult r = run({input, "-f", output});
  EXPECT_EQ(r.status, 0);
  std::string text = read_text(output);
  EXPECT_EQ(text.rfind("aBCR-1.0", 0), 0u);
  EXPECT_EQ(text.find("zzz"), std::string::npos);
}

TEST_F(DriverTest, WriterFailuresNameTheError) {
  auto failure = [&](const std::string& out, const char* name) {
    return "Converting \"" + input + "\" to \"" + out + "\"\n" + unable(input, out) +
           "\tthere was an error writing to the file \"" + out + "\"\n\t" + name + "\n";
  };
  std::string nowhere = dir.file("missing/out.sdf");
  RunResult r = run({input, nowhere});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, failure(nowhere, "ERR_CANT_CREATE_FILE"));
  // An empty name too, on every system.
  r = run({input, ""});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, failure("", "ERR_CANT_CREATE_FILE"));
#ifdef __linux__
  // A full disk is a failure, never a success with a truncated file.
  r = run({input, "/dev/full"});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, failure("/dev/full", "ERR_CANT_WRITE_FILE"));
#endif
}

// INPUT... DIRECTORY: each input becomes DIRECTORY/<name>.sdf, a failure
// does not stop the rest, and each file's messages stay together.
TEST_F(DriverTest, ConvertsManyFilesIntoADirectory) {
  const std::string out_dir = dir.file("out"), good = dir.file("b.dat"), bad = dir.file("c.dat");
  std::filesystem::create_directory(out_dir);
  write_bytes(good, input_bytes);
  write_text(bad, "not a data file");
  // The status is the first failure's: a read failure (4), then a missing
  // input (2).
  RunResult r = run({input, good, bad, dir.file("missing.dat"), out_dir});
  EXPECT_EQ(r.status, 4) << r.err;
  const std::string b_sdf = out_dir + "/b.sdf", c_sdf = out_dir + "/c.sdf";
  EXPECT_NE(r.err.find("Converting \"" + good + "\" to \"" + b_sdf + "\"\nConversion from \"" +
                       good + "\" to \"" + b_sdf + "\" successful\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(
      r.err.find("Converting \"" + bad + "\" to \"" + c_sdf + "\"\n" + unable(bad, c_sdf) +
                 "\tthere was an error reading the file \"" + bad + "\"\n\tERR_NOT_A_DATA_FILE\n"),
      std::string::npos)
      << r.err;
  EXPECT_TRUE(r.err.ends_with("Converted 2 of 4 files into \"" + out_dir +
                              "\"; 0 up to date, 0 not data files, 2 failed\n"))
      << r.err;
  auto listing = [&] {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(out_dir))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(listing(), (std::vector<std::string>{"b.sdf", "in.sdf"}));
  EXPECT_EQ(read_text(out_dir + "/b.sdf").rfind("aBCR-1.0", 0), 0u);
  // Two inputs for one output name: refused before anything is written.
  std::filesystem::remove(out_dir + "/b.sdf");
  r = run({"-f", good, input, dir.file("out/../b.dat"), out_dir});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("would both be converted to \"" + b_sdf + "\""), std::string::npos) << r.err;
  EXPECT_EQ(listing(), (std::vector<std::string>{"in.sdf"}));
  // -x: the same into x3p files.
  r = run({"-x", input, out_dir});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listing(), (std::vector<std::string>{"in.sdf", "in.x3p"}));
  EXPECT_EQ(read_text(out_dir + "/in.x3p").rfind("PK\x03\x04", 0), 0u);
}

// The output is one complete conversion or not there; an old output is kept
// until the new one is whole, and no temporary file is left behind.
TEST_F(DriverTest, OutputIsCompleteOrAbsent) {
  auto names = [&] {
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      found.push_back(e.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
  };
  const std::string other = dir.file("other.dat");
  auto write_measurement = [](const std::string& path, std::int16_t width, std::int16_t height) {
    Measurement m = synthetic_measurement(2, width, height);
    write_bytes(path, encode_data_file(m.header, &m.intensity, &m.phase));
  };
  write_measurement(other, 300, 200);
  const auto inputs_only = names();

  // Two conversions to one new name: one wins, the other finds it taken.
  RunResult a, b;
  std::thread ta([&] { a = run({input, output}); });
  std::thread tb([&] { b = run({other, output}); });
  ta.join();
  tb.join();
  EXPECT_EQ(a.status + b.status, 3) << a.err << b.err;
  RunResult info = run_program(TOVREL_INFO_EXE, {output});
  RunResult winner = run_program(TOVREL_INFO_EXE, {a.status == 0 ? input : other});
  EXPECT_EQ(info.out, winner.out);
  std::filesystem::remove(output);
  EXPECT_EQ(names(), inputs_only);

#ifndef _WIN32
#ifndef TOVREL_COVERAGE_BUILD
  // A write that fails half way (the file size limit stands in for a full
  // disk) keeps the old output.
  write_text(output, "keep me");
  const std::string limited = "trap '' XFSZ; ulimit -f 4; exec \"$0\" -f \"$1\" \"$2\"";
  RunResult r = run_program("/bin/sh", {"-c", limited, tovrel_exe(), other, output});
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_EQ(read_text(output), "keep me");
  const std::string limited_x3p = "trap '' XFSZ; ulimit -f 4; exec \"$0\" -x -f \"$1\" \"$2\"";
  r = run_program("/bin/sh", {"-c", limited_x3p, tovrel_exe(), other, output});
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_EQ(read_text(output), "keep me");
  std::filesystem::remove(output);
  EXPECT_EQ(names(), inputs_only);
#endif

  // Through a symbolic link the file it points to is replaced, keeping its
  // permission bits; the link stays.
  const std::string target = dir.file("target.sdf"), link = dir.file("link.sdf");
  write_text(target, "old");
  std::filesystem::permissions(target, std::filesystem::perms(0640));
  std::filesystem::create_symlink(target, link);
  EXPECT_EQ(run({"-f", input, link}).status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(read_text(target).rfind("aBCR-1.0\n", 0), 0u);
  EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0640));
  std::filesystem::remove(link);
  std::filesystem::remove(target);
  EXPECT_EQ(names(), inputs_only);
#endif
}

// -r SOURCE... DIRECTORY: every data file below the sources (known by its
// magic number) in the same place below DIRECTORY; -u resumes; a list names
// inputs beyond the command line; --report records every input.
TEST_F(DriverTest, ConvertsTreesAndListsAndResumes) {
  namespace fs = std::filesystem;
  const std::string src = dir.file("src"), out = dir.file("out"), report = dir.file("run.json");
  fs::create_directories(src + "/y/z");
  write_bytes(src + "/a.dat", input_bytes);
  write_bytes(src + "/y/z/b", input_bytes);  // no extension: a data file all the same
  write_text(src + "/y/notes.dat", "not a data file");
  auto tree = [](const std::string& root) {
    std::vector<std::string> names;
    if (fs::exists(root))
      for (const auto& e : fs::recursive_directory_iterator(root))
        names.push_back(fs::relative(e.path(), root).generic_string());
    std::sort(names.begin(), names.end());
    return names;
  };
  auto summary = [](const std::string& to, int done, int of, int current, int other, int failed) {
    return "Converted " + std::to_string(done) + " of " + std::to_string(of) + " files into \"" +
           to + "\"; " + std::to_string(current) + " up to date, " + std::to_string(other) +
           " not data files, " + std::to_string(failed) + " failed\n";
  };
  RunResult r = run({"-r", src, out});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.ends_with(summary(out, 2, 2, 0, 1, 0))) << r.err;
  EXPECT_EQ(tree(out), (std::vector<std::string>{"a.sdf", "y", "y/z", "y/z/b.sdf"}));
  EXPECT_EQ(run({"-r", src, out}).status, 3);  // the outputs exist
  // -u: nothing to do, then only the input made newer. -q: only the summary.
  EXPECT_EQ(run({"-r", "-u", src, out, "--report", report}).err, summary(out, 0, 2, 2, 1, 0));
  fs::last_write_time(src + "/a.dat", fs::last_write_time(out + "/a.sdf") + std::chrono::hours(1));
  r = run({"-q", "-r", "-u", "--report", report, src, out});
  EXPECT_EQ(r.err, summary(out, 1, 2, 1, 1, 0));
  const std::string records = read_text(report);
  EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 6) << records;
  auto json = [](std::string text) {  // a name as JSON writes it
    for (std::size_t at = 0; (at = text.find('\\', at)) != std::string::npos; at += 2)
      text.insert(at, 1, '\\');
    return text;
  };
  EXPECT_NE(records.find("{\"input\":\"" + json(src) + "/a.dat\",\"output\":\"" + json(out) +
                         "/a.sdf\",\"status\":\"converted\",\"error\":null,\"bytes_in\":" +
                         std::to_string(input_bytes.size()) + ",\"bytes_out\":"),
            std::string::npos)
      << records;
  EXPECT_NE(records.find("\"status\":\"not a data file\""), std::string::npos);

  // Refused before anything is written: a DIRECTORY inside a SOURCE, and
  // two inputs for one output, also when the names differ only in case.
  for (const std::string& inside : {src, src + "/y/new"}) {
    r = run({"-r", src, inside});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err,
              "\"" + inside + "\" is inside a folder it would convert; nothing was written\n");
  }
  write_bytes(src + "/y/Q.dat", input_bytes);  // Q.sdf and q.sdf
  write_bytes(src + "/y/q", input_bytes);
  r = run({"-r", src, dir.file("clash")});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("would both be converted to"), std::string::npos) << r.err;
  EXPECT_EQ(tree(src + "/y/new").size() + tree(dir.file("clash")).size(), 0u);
  fs::remove(src + "/y/Q.dat");
  fs::remove(src + "/y/q");

  // Lists: CR LF lines into a folder as named; under -r, NUL-separated names
  // keep their folders below DIRECTORY, and ".." has no place there.
  const std::string flat = dir.file("flat"), kept = dir.file("kept");
  fs::create_directory(flat);
  write_text(dir.file("list.txt"), src + "/a.dat\r\n\r\n" + src + "/y/z/b\r\n");
  EXPECT_EQ(run({"--files-from", dir.file("list.txt"), flat}).status, 0);
  EXPECT_EQ(tree(flat), (std::vector<std::string>{"a.sdf", "b.sdf"}));
  write_text(dir.file("list0"), src + "/y" + std::string(1, '\0') + "../a.dat");
  r = run({"-r", "-0", "--files-from", dir.file("list0"), kept});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(r.err.ends_with(summary(kept, 1, 2, 0, 1, 1))) << r.err;
  EXPECT_TRUE(fs::is_regular_file(fs::path(kept) / fs::path(src).relative_path() / "y/z/b.sdf"));

#ifndef _WIN32
  // A link to a folder is not followed. A full disk (the file size limit
  // stands in) fails the file that does not fit, leaves no temporary, and the
  // run goes on.
  fs::create_directory_symlink(src, src + "/y/loop");
  Measurement m = synthetic_measurement(2, 200, 100);
  write_bytes(src + "/big.dat", encode_data_file(m.header, &m.intensity, &m.phase));
#ifndef TOVREL_COVERAGE_BUILD
  const std::string limited = "trap '' XFSZ; ulimit -f 16; exec \"$0\" -r \"$1\" \"$2\"";
  r = run_program("/bin/sh", {"-c", limited, tovrel_exe(), src, dir.file("full")});
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_NE(r.err.find("\tERR_CANT_WRITE_FILE\n"), std::string::npos) << r.err;
  EXPECT_TRUE(r.err.ends_with(summary(dir.file("full"), 2, 3, 0, 2, 1))) << r.err;
  EXPECT_EQ(tree(dir.file("full")), (std::vector<std::string>{"a.sdf", "y", "y/z", "y/z/b.sdf"}));
#endif
  // A list on standard input.
  r = run_program("/bin/sh", {"-c", "echo \"$1\" | exec \"$0\" -r --files-from - \"$2\"",
                              tovrel_exe(), src + "/big.dat", dir.file("piped")});
  EXPECT_EQ(r.status, 0) << r.err;
#endif
  // A name beyond ASCII, and paths longer than Windows' 260 characters.
  auto u8 = [](const std::string& name) {
    return fs::path(std::u8string(name.begin(), name.end()));
  };
  const std::string deep =
      "/" + std::string(120, 'd') + "/Gr\u00F6\u00DFe_\u6D4B\u8BD5/" + std::string(120, 'e');
  fs::create_directories(u8(src + deep));
  write_bytes(src + deep + "/Ma\u00DF.dat", input_bytes);
  r = run({"-r", "-u", src, out});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_regular_file(u8(out + deep + "/Ma\u00DF.sdf"))) << r.err;
}
#ifndef _WIN32
// A termination signal at any moment of a conversion, of one file or of
// several side by side, ends the process as the signal does and leaves each
// output complete or absent, and no temporary file.
TEST_F(DriverTest, NoTemporarySurvivesASignal) {
  const std::string out_dir = dir.file("out");
  std::filesystem::create_directory(out_dir);
  Measurement m = synthetic_measurement(2, 1500, 1000);
  std::vector<std::string> folder_form;
  for (const char* name : {"a.dat", "b.dat", "c.dat", "d.dat"}) {
    folder_form.push_back(dir.file(name));
    write_bytes(folder_form.back(), encode_data_file(m.header, &m.intensity, &m.phase));
  }
  folder_form.push_back(out_dir);
  auto outputs = [&] {
    std::map<std::string, std::uintmax_t> sizes;
    for (const auto& e : std::filesystem::directory_iterator(out_dir))
      sizes[e.path().filename().string()] = e.file_size();
    std::filesystem::remove_all(out_dir);
    std::filesystem::create_directory(out_dir);
    return sizes;
  };
  for (const auto& args :
       {std::vector<std::string>{folder_form[0], out_dir + "/a.sdf"}, folder_form}) {
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(run(args).status, 0);
    const auto whole = std::chrono::steady_clock::now() - start;
    const auto complete = outputs();
    std::vector<char*> argv{const_cast<char*>("tovrel")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // From before the program starts to after it has ended, then just as the
    // first temporary file appears.
    for (int k = 0; k < 30; ++k) {
      const pid_t pid = fork();
      if (pid == 0) {
        dup2(open("/dev/null", O_WRONLY), 2);
        execv(tovrel_exe().c_str(), argv.data());
        _exit(127);
      }
      siginfo_t ended{};
      if (k <= 20) std::this_thread::sleep_for(whole * k / 20);
      while (k > 20 &&
             waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
             ended.si_pid == 0 && std::filesystem::is_empty(out_dir)) {
      }
      kill(pid, SIGTERM);
      int status = 0;
      waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFSIGNALED(status) ? WTERMSIG(status) == SIGTERM : WEXITSTATUS(status) == 0)
          << status;
      for (const auto& [name, size] : outputs())
        EXPECT_TRUE(complete.contains(name) && complete.at(name) == size) << name << " at " << k;
    }
  }
}
#endif
