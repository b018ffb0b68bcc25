// The tool's first steps seen from outside: command line, banner, usage, path checks, log file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testing/temp_dir.h"
#include "tool_runner.h"

namespace orvex::testing {
namespace {

namespace fs = std::filesystem;

const std::string kUsage =
    "Usage: " + ToolProgram() +
    " [/OVERWRITE] [/LOGFILE <log-file>] [/IMPORT] [/VERBOSE] /INPUT <input profile archive> "
    "/OUTPUT <output profile archive> /XML <migration XML file>\n";

TEST(CommandLineE2eTest, UnacceptableCommandLinesPrintUsageAndExit87) {
  ScopedTempDir dir;
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"/xmlfile", "x"},
      {"xml", "x", "/input", "i", "/output", "o"},
      {"/XML", "x", "/INPUT", "i", "/OUTPUT"},
      {"/XML", "x", "/INPUT", "i"},
      {"/XML", "x", "/INPUT", "i", "/OUTPUT", "o", ""},
      {"/XML", "x", "/INPUT", "i", "/OUTPUT", "o", "/LOGFILE", "run.log", "/bogus"},
  };
  for (const auto& args : cases) {
    const ToolResult result = RunTool(args, dir.path());
    EXPECT_EQ(result.status, 87);
    EXPECT_EQ(result.console, kBanner + kUsage);
  }
  EXPECT_TRUE(fs::is_empty(dir.path())) << "nothing may be logged for a bad command line";
}

class PathCheckE2eTest : public ::testing::Test {
 protected:
  std::vector<std::string> Args(const std::string& xml, const std::string& input,
                                const std::string& output) {
    return {"/XML", xml, "/INPUT", input, "/OUTPUT", output, "/LOGFILE", "logs.txt"};
  }
  std::string At(const std::string& name) { return ToolPath(dir_.path() / name); }

  ScopedTempDir dir_;
};

// The three paths are checked in order, each run here on what the one before left: no XML file,
// no input archive, then an output archive that exists (and a log from before, which is replaced).
TEST_F(PathCheckE2eTest, MissingOrExistingPathsStopTheRun) {
  // Without /LOGFILE a failed run writes nothing at all.
  EXPECT_EQ(
      RunTool({"/XML", "rules.xml", "/INPUT", "in.zip", "/OUTPUT", "out.zip"}, dir_.path()).status,
      87);
  EXPECT_TRUE(fs::is_empty(dir_.path()));
  const auto expect = [&](const std::vector<std::string>& args, const std::string& console,
                          const std::vector<std::string>& log) {
    const ToolResult result = RunTool(args, dir_.path());
    EXPECT_EQ(result.status, 87);
    EXPECT_EQ(result.console, kBanner + console);
    EXPECT_EQ(LogLines(dir_.path() / "logs.txt"), log);
  };
  const std::string start = "[INFO ] Starting Halvane Application Migration v9.2.0.701";
  expect(Args("rules.xml", "in.zip", "out.zip"),
         "Migration XML file '" + At("rules.xml") + "' was not found.\n",
         {start, "[FATAL] Migration XML file '" + At("rules.xml") + "' was not found"});

  WriteFile(dir_.path() / "rules.xml", "<x/>");
  expect(Args("rules.xml", "sub\\..\\in.zip", "out.zip"),
         "Input profile archive '" + At("in.zip") + "' was not found.\n",
         {start, "[INFO ]    Using migration XML file '" + At("rules.xml") + "'",
          "[FATAL] Input profile archive '" + At("in.zip") + "' was not found"});

  fs::create_directory(dir_.path() / "in.zip");  // a directory counts as existing
  WriteFile(dir_.path() / "out.zip", "old");
  WriteFile(dir_.path() / "logs.txt", "an old log\r\n");
  expect(
      Args("RULES.XML", "in.zip", "out.zip"),
      "Output profile archive already exists.\nUse /OVERWRITE to force overwrite.\n",
      {start, "[INFO ]    Using migration XML file '" + At("RULES.XML") + "'",
       "[INFO ]    Using input profile archive '" + At("in.zip") + "'",
       "[FATAL] Output profile archive '" + At("out.zip") + "' already exists (use /OVERWRITE)"});
  EXPECT_EQ(ReadFile(dir_.path() / "out.zip"), "old");
}

}  // namespace
}  // namespace orvex::testing
