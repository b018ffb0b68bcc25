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

TEST_F(PathCheckE2eTest, MissingXml) {
  const ToolResult result = RunTool(Args("rules.xml", "in.zip", "out.zip"), dir_.path());
  EXPECT_EQ(result.status, 87);
  EXPECT_EQ(result.console,
            kBanner + std::string("Migration XML file '") + At("rules.xml") + "' was not found.\n");
  EXPECT_EQ(LogLines(dir_.path() / "logs.txt"),
            (std::vector<std::string>{
                "[INFO ] Starting Halvane Application Migration v9.2.0.701",
                "[FATAL] Migration XML file '" + At("rules.xml") + "' was not found"}));
}

TEST_F(PathCheckE2eTest, MissingInput) {
  WriteFile(dir_.path() / "rules.xml", "<x/>");
  const ToolResult result = RunTool(Args("rules.xml", "sub\\..\\in.zip", "out.zip"), dir_.path());
  EXPECT_EQ(result.status, 87);
  EXPECT_EQ(result.console,
            kBanner + std::string("Input profile archive '") + At("in.zip") + "' was not found.\n");
  EXPECT_EQ(LogLines(dir_.path() / "logs.txt"),
            (std::vector<std::string>{
                "[INFO ] Starting Halvane Application Migration v9.2.0.701",
                "[INFO ]    Using migration XML file '" + At("rules.xml") + "'",
                "[FATAL] Input profile archive '" + At("in.zip") + "' was not found"}));
}

TEST_F(PathCheckE2eTest, ExistingOutputNeedsOverwrite) {
  WriteFile(dir_.path() / "rules.xml", "<x/>");
  fs::create_directory(dir_.path() / "in.zip");  // a directory counts as existing
  WriteFile(dir_.path() / "out.zip", "old");
  WriteFile(dir_.path() / "logs.txt", "an old log\r\n");
  const ToolResult result = RunTool(Args("RULES.XML", "in.zip", "out.zip"), dir_.path());
  EXPECT_EQ(result.status, 87);
  EXPECT_EQ(result.console, kBanner + std::string("Output profile archive already exists.\n"
                                                  "Use /OVERWRITE to force overwrite.\n"));
  EXPECT_EQ(
      LogLines(dir_.path() / "logs.txt"),
      (std::vector<std::string>{"[INFO ] Starting Halvane Application Migration v9.2.0.701",
                                "[INFO ]    Using migration XML file '" + At("RULES.XML") + "'",
                                "[INFO ]    Using input profile archive '" + At("in.zip") + "'",
                                "[FATAL] Output profile archive '" + At("out.zip") +
                                    "' already exists (use /OVERWRITE)"}));
  EXPECT_EQ(ReadFile(dir_.path() / "out.zip"), "old");
}

TEST_F(PathCheckE2eTest, NothingIsLoggedWithoutLogFile) {
  const ToolResult result =
      RunTool({"/XML", "rules.xml", "/INPUT", "in.zip", "/OUTPUT", "out.zip"}, dir_.path());
  EXPECT_EQ(result.status, 87);
  EXPECT_TRUE(fs::is_empty(dir_.path()));
}

}  // namespace
}  // namespace orvex::testing
