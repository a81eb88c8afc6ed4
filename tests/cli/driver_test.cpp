// The tovrel command line, run as a real program: exit status, the exact
// standard error, an empty standard output, and files left as they were.
#include <gtest/gtest.h>

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
      {"-x", input, output},
      {"-", input, output},
      {"-f", input},
      {input, "-f"},
      {"-f", "-f", input},
  };
  for (const auto& args : bad) {
    RunResult r = run(args);
    EXPECT_EQ(r.status, 1) << args.size();
    EXPECT_EQ(r.err, kUsage);
    EXPECT_FALSE(std::filesystem::exists(output));
  }
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
}

TEST_F(DriverTest, ForceNeverWritesOverTheInputItself) {
  RunResult r = run({"-f", input, input});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, unable(input, input) + "\t\"" + input + "\" already exists\n");
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
  // A directory is not an existing file: the writer is asked and cannot
  // create it.
  std::string out_dir = dir.path().string();
  RunResult r = run({input, out_dir});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, failure(out_dir, "ERR_CANT_CREATE_FILE"));
  std::string nowhere = dir.file("missing/out.sdf");
  r = run({input, nowhere});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, failure(nowhere, "ERR_CANT_CREATE_FILE"));
#ifdef __linux__
  // A full disk is a failure, never a success with a truncated file.
  r = run({input, "/dev/full"});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, failure("/dev/full", "ERR_CANT_WRITE_FILE"));
#endif
}
