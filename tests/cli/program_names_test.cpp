// The real tovrel program with file names beyond ASCII: on Windows they
// arrive as a UTF-16 command line and reach the library as wide paths; the
// messages show them as typed (UTF-8). Every exit status is checked exactly.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// UTF-8 spellings, one with a character beyond the 16-bit plane.
const std::string kIn =
    "Gr\xC3\xB6\xC3\x9F"
    "e_\xE6\xB5\x8B\xE8\xAF\x95.dat";
const std::string kOut = "\xF0\x9D\x94\xB8 \xC3\xA9t\xC3\xA9 \xE6\xB5\x8B.sdf";

fs::path native(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

class ProgramNames : public TovrelProgramTest {
 protected:
  void SetUp() override { make_files(kIn, kOut, 11, 4); }
};

}  // namespace

TEST_F(ProgramNames, ConvertsAndNamesBothFilesAsTyped) {
  RunResult r = run({input, output});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Converting \"" + input + "\" to \"" + output + "\"\n" + "Conversion from \"" +
                       input + "\" to \"" + output + "\" successful\n");
  ASSERT_TRUE(fs::is_regular_file(native(output)));
  EXPECT_EQ(read_text(output).substr(0, 8), "aBCR-1.0");
  // Nothing else appeared: no file under a mangled name.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

  // Standard error is a text stream: CR LF line ends on Windows only.
#ifdef _WIN32
  EXPECT_EQ(r.err_bytes.find("\n"), r.err_bytes.find("\r\n") + 1);
  EXPECT_EQ(r.err_bytes.size(), r.err.size() + 2);
#else
  EXPECT_EQ(r.err_bytes, r.err);
#endif

  // A second run needs -f; with it the output is written again.
  r = run({input, output});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, unable(input, output) + "\t\"" + output + "\" already exists\n");
  r = run({input, "-f", input});
  EXPECT_EQ(r.status, 3) << "the input itself is never overwritten";
  r = run({"-fq", input, output});
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(ProgramNames, EveryFailureStatusExactly) {
  const std::string missing = dir.file("f\xC3\xA5nt_\xE6\xB5\x8B.dat");
  RunResult r = run({"-\xC3\xB6", input, output});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(native(output)));

  r = run({missing, output});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, unable(missing, output) + "\t\"" + missing + "\" does not exist\n");

  // Not a data file: the reader fails.
  const std::string text = dir.file("t\xC3\xA9xt.dat");
  write_text(text, "no header here");
  r = run({text, output});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, "Converting \"" + text + "\" to \"" + output + "\"\n" + unable(text, output) +
                       "\tthere was an error reading the file \"" + text + "\"\n" +
                       "\tERR_NOT_A_DATA_FILE\n");
  EXPECT_FALSE(fs::exists(native(output)));

  // An output in a folder that does not exist: the writer fails.
  const std::string nowhere = dir.file("n\xC3\xB6/") + "\xE6\xB5\x8B.sdf";
  r = run({input, nowhere});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, "Converting \"" + input + "\" to \"" + nowhere + "\"\n" +
                       unable(input, nowhere) + "\tthere was an error writing to the file \"" +
                       nowhere + "\"\n" + "\tERR_CANT_CREATE_FILE\n");
}

TEST_F(ProgramNames, ArgumentsArriveByteForByte) {
  // Spaces, quotes and backslashes must survive the command line unchanged;
  // none of these files exists, so the name comes back in the message.
  for (const std::string& name :
       {dir.file("two  spaces .dat"), dir.file("quote\"d.dat"), dir.file("ends\\"),
        dir.file("back\\\\\"slash"), dir.file("\t tab")}) {
    RunResult r = run({name, output});
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_EQ(r.err, unable(name, output) + "\t\"" + name + "\" does not exist\n") << name;
  }
}

TEST_F(ProgramNames, HardLinkToTheInputIsTheInput) {
  const std::string link = dir.file("l\xC3\xAFnk.dat");
  fs::create_hard_link(native(input), native(link));
  RunResult r = run({"-f", input, link});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, unable(input, link) + "\t\"" + link + "\" is the input file\n");
#ifdef _WIN32
  // Another case of the same name on Windows.
  std::string upper = input;
  upper.replace(upper.size() - 3, 3, "DAT");
  r = run({"-f", input, upper});
  EXPECT_EQ(r.status, 3);
#endif
}

TEST_F(ProgramNames, InfoListsBothFilesThroughTheirNames) {
  ASSERT_EQ(run({input, output}).status, 0);
  RunResult dat = run_program(TOVREL_INFO_EXE, {input});
  RunResult sdf = run_program(TOVREL_INFO_EXE, {output});
  EXPECT_EQ(dat.status, 0) << dat.err;
  EXPECT_EQ(sdf.status, 0) << sdf.err;
  EXPECT_NE(dat.out.find("magic_number="), std::string::npos);
  EXPECT_EQ(dat.out, sdf.out);
  const std::string none = dir.file("n\xC3\xB6ne.dat");
  RunResult missing = run_program(TOVREL_INFO_EXE, {none});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err.rfind("tovrel-info: \"" + none + "\": ERR_CANT_OPEN_FILE (", 0), 0u);
}

#ifndef _WIN32
TEST_F(ProgramNames, EightBitNameThatLooksLikeAByteOrderMark) {
  // A Linux name is any bytes; one that starts with FF FE is still an 8-bit
  // name when the user types it, not a UTF-16 one.
  const std::string odd =
      "\xFF\xFE"
      "odd.dat";
  fs::copy_file(native(input), dir.path() / odd);
  RunResult r = run_program("/bin/sh", {"-c", "cd \"$0\" && exec \"$1\" \"$2\" out.sdf",
                                        dir.path().string(), tovrel_exe(), odd});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Converting \"" + odd + "\" to \"out.sdf\"\n" + "Conversion from \"" + odd +
                       "\" to \"out.sdf\" successful\n");
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "out.sdf"));
}
#endif
