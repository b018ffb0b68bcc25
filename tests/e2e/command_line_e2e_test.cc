// The tool's first steps seen from outside: command line, banner, usage, path checks, log file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/testing/test_zip.h"
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

// Names that lead to a file the run must not replace are refused before anything is written: the
// log over a named file (refused on the console alone, since the log is that file), the output
// archive over the input or the rules, either inside the working directory the run removes.
TEST_F(PathCheckE2eTest, NamesOfOneFileAreRefused) {
  const fs::path temp = dir_.path() / "tmp";
  const std::string in_work = ToolPath(temp / "KVA00001" / "x");
  const struct {
    std::vector<std::string> args;  // after /XML rules.xml /INPUT in.zip
    std::string refusal;            // the console line; the FATAL line too when a log is kept
    bool logged;
  } cases[] = {
      {{"/OUTPUT", "out.zip", "/LOGFILE", "in.zip"},
       "Log file '" + At("in.zip") + "' is the input profile archive",
       false},
      {{"/OUTPUT", "out.zip", "/LOGFILE", "sub\\..\\rules.xml"},
       "Log file '" + At("rules.xml") + "' is the migration XML file",
       false},
      {{"/OUTPUT", "out.zip", "/LOGFILE", "hard.zip"},
       "Log file '" + At("hard.zip") + "' is the input profile archive",
       false},
      {{"/OUTPUT", "new.zip", "/LOGFILE", "NEW.ZIP"},
       "Log file '" + At("NEW.ZIP") + "' is the output profile archive",
       false},
      {{"/OUTPUT", "old.zip", "/LOGFILE", "old.zip", "/OVERWRITE"},
       "Log file '" + At("old.zip") + "' is the output profile archive",
       false},
      {{"/OUTPUT", "IN.ZIP", "/LOGFILE", "logs.txt", "/OVERWRITE"},
       "Output profile archive '" + At("IN.ZIP") + "' is the input profile archive",
       true},
      {{"/OUTPUT", "link.zip", "/LOGFILE", "logs.txt", "/OVERWRITE"},
       "Output profile archive '" + At("link.zip") + "' is the input profile archive",
       true},
      {{"/OUTPUT", "rules.xml", "/LOGFILE", "logs.txt", "/OVERWRITE"},
       "Output profile archive '" + At("rules.xml") + "' is the migration XML file",
       true},
      {{"/OUTPUT", in_work, "/LOGFILE", "logs.txt"},
       "Output profile archive '" + in_work + "' lies inside the working directory",
       true},
      // The log is tried before the working directory exists.
      {{"/OUTPUT", "out.zip", "/LOGFILE", in_work},
       "Cannot create log file '" + in_work + "' (Error 3): the run is not logged\nLog file '" +
           in_work + "' lies inside the working directory",
       false},
  };
  WriteTestZip(dir_.path() / "in.zip", {{"Desktop/a.txt", TestEntry::kFile, "a"}});
  WriteFile(dir_.path() / "rules.xml", "<migration/>");
  WriteFile(dir_.path() / "old.zip", "old");
  fs::create_hard_link(dir_.path() / "in.zip", dir_.path() / "hard.zip");
  fs::create_symlink("in.zip", dir_.path() / "link.zip");
  fs::create_directory(temp);
  const auto files = [&] {
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      if (entry.is_regular_file() && entry.path().filename() != "logs.txt") {
        found.emplace_back(entry.path().filename().string(), ReadFile(entry.path()));
      }
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  const auto before = files();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusal);
    fs::remove(dir_.path() / "logs.txt");
    std::vector<std::string> args = {"/XML", "rules.xml", "/INPUT", "in.zip"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ToolResult result = RunTool(args, dir_.path(), {"TMPDIR=" + temp.string()});
    EXPECT_EQ(result.status, 87);
    EXPECT_EQ(result.console, kBanner + c.refusal + ".\n");
    if (c.logged) {
      EXPECT_EQ(LogLines(dir_.path() / "logs.txt").back(), "[FATAL] " + c.refusal);
    } else {
      EXPECT_FALSE(fs::exists(dir_.path() / "logs.txt"));
    }
    EXPECT_EQ(files(), before);
    EXPECT_TRUE(fs::is_empty(temp));
  }
}

}  // namespace
}  // namespace orvex::testing
