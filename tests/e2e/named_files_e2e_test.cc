// What a run may write over and what it leaves behind, through the built binary: the output is the
// file the checks looked at, never one another run finished, a log that cannot be made is said,
// and what ended runs left behind goes while what live runs hold stays.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/testing/test_zip.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/text.h"
#include "testing/temp_dir.h"
#include "tool_runner.h"

namespace orvex::testing {
namespace {

namespace fs = std::filesystem;

class NamedFilesE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(temp_);
    WriteTestZip(dir_.path() / "in.zip", {{"Desktop/a.txt", TestEntry::kFile, "a"}});
    WriteFile(dir_.path() / "rules.xml", "<m/>");
  }

  ToolResult Run(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"/XML", "rules.xml", "/INPUT", "in.zip"};
    all.insert(all.end(), args.begin(), args.end());
    return RunTool(all, dir_.path(), {"TMPDIR=" + temp_.string()});
  }

  std::string Path(const std::string& name) { return ToolPath(dir_.path() / name); }

  ScopedTempDir dir_;
  fs::path temp_ = dir_.path() / "tmp";
};

// A final separator names the file written without it: the checks see that file.
TEST_F(NamedFilesE2eTest, AFinalSeparatorNamesTheFileWritten) {
  WriteFile(dir_.path() / "other.zip", "other");
  const std::string input = ReadFile(dir_.path() / "in.zip");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string console;
  } cases[] = {
      {{"/OUTPUT", "in.zip/"},
       87,
       "Output profile archive '" + Path("in.zip") + "' is the input profile archive.\n"},
      {{"/OUTPUT", "rules.xml\\", "/OVERWRITE"},
       87,
       "Output profile archive '" + Path("rules.xml") + "' is the migration XML file.\n"},
      {{"/OUTPUT", "other.zip/"},
       87,
       "Output profile archive already exists.\nUse /OVERWRITE to force overwrite.\n"},
      {{"/OUTPUT", "new.zip/"}, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const ToolResult result = Run(c.args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.console, kBanner + c.console);
    EXPECT_EQ(ReadFile(dir_.path() / "in.zip"), input);
    EXPECT_EQ(ReadFile(dir_.path() / "rules.xml"), "<m/>");
    EXPECT_EQ(ReadFile(dir_.path() / "other.zip"), "other");
  }
  EXPECT_TRUE(fs::is_regular_file(dir_.path() / "new.zip"));
}

// Two runs to one output without /OVERWRITE: one writes it, the other fails, however close their
// ends. Each packs 16 MiB afresh (a copy is a new file), so both pass the early check.
TEST_F(NamedFilesE2eTest, RacingRunsNeverReplaceEachOthersOutput) {
  std::mt19937 random(7);
  std::string data(16 << 20, 'a');
  for (char& c : data) c = static_cast<char>('a' + random() % 16);
  WriteTestZip(dir_.path() / "in.zip", {{"Desktop/big.txt", TestEntry::kFile, data}});
  WriteFile(dir_.path() / "rules.xml",
            "<m><file action='copy' source='Desktop\\big.txt' destination='Desktop\\c.txt'/></m>");
  for (int attempt = 0; attempt < 5; ++attempt) {
    SCOPED_TRACE(attempt);
    fs::remove(dir_.path() / "out.zip");
    int status[2] = {-1, -1};
    {
      std::jthread first([&] { status[0] = Run({"/OUTPUT", "out.zip"}).status; });
      status[1] = Run({"/OUTPUT", "out.zip"}).status;
    }
    // The other found the output at its start (87) or saw it appear (183).
    ASSERT_EQ(std::min(status[0], status[1]), 0);
    const int other = std::max(status[0], status[1]);
    ASSERT_TRUE(other == 87 || other == 183) << other;
  }
  EXPECT_TRUE(fs::is_empty(temp_));
}

// What a killed run leaves, its working directory with its mark and a partial archive beside the
// output, goes with the next run; a directory kept on request, and what a live run holds, stay.
TEST_F(NamedFilesE2eTest, WhatEndedRunsLeftGoesAndWhatLiveRunsHoldStays) {
  WriteFile(temp_ / "KVA00001" / "run.lock", "1");
  WriteFile(temp_ / "KVA00001" / "in.zip" / "Desktop" / "a.txt", "a");
  WriteFile(dir_.path() / "out.zip.1.tmp", "partial");
  WriteFile(temp_ / "KVA00002" / "in.zip" / "Desktop" / "a.txt", "kept on request");
  std::vector<std::string> expected = {"KVA00002/", "KVA00002/in.zip/", "KVA00002/in.zip/Desktop/",
                                       "KVA00002/in.zip/Desktop/a.txt"};
  // The test's own locks stand for a live run's where they are the tool's kind: not across Wine.
  platform::FileHandle marks[2];
  if (!ToolIsWindows()) {
    fs::create_directories(temp_ / "KVA00003");
    const fs::path held[] = {temp_ / "KVA00003" / "run.lock", dir_.path() / "out.zip.2.tmp"};
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(platform::CreateHeldFile(ToUtf16(held[i].string()), &marks[i]), 0u);
      std::uint32_t written = 0;
      ASSERT_EQ(platform::WriteFile(marks[i], "1", 1, &written), 0u);
    }
    expected.insert(expected.end(), {"KVA00003/", "KVA00003/run.lock"});
  }
  EXPECT_EQ(Run({"/OUTPUT", "out.zip"}).status, 0);
  EXPECT_EQ(ListTree(temp_), expected);
  EXPECT_FALSE(fs::exists(dir_.path() / "out.zip.1.tmp"));
  EXPECT_EQ(fs::exists(dir_.path() / "out.zip.2.tmp"), !ToolIsWindows());
}

// An input archive cut short while it is unpacked fails the run, which says why.
TEST_F(NamedFilesE2eTest, AnInputChangedDuringTheRunIsSaid) {
  if (ToolIsWindows()) GTEST_SKIP() << "the moment is caught by the engine's log, read at once";
  std::mt19937 random(3);
  std::string data(32 << 20, 'a');
  for (char& c : data) c = static_cast<char>('a' + random() % 16);
  WriteTestZip(dir_.path() / "in.zip", {{"Desktop/big.txt", TestEntry::kFile, data}});
  const fs::path input = dir_.path() / "in.zip", engine_log = temp_ / "KVA00001" / "in.log";
  int status = -1;
  std::jthread run([&] {
    status = Run({"/OUTPUT", "out.zip", "/LOGFILE", "run.log", "/nocleanup"}).status;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!fs::exists(engine_log) || ReadFile(engine_log).find("Unzip: '") == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the unpacking never began";
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  fs::resize_file(input, fs::file_size(input) / 2);
  run.join();
  EXPECT_NE(status, 0);
  const std::vector<std::string> log = LogLines(dir_.path() / "run.log");
  EXPECT_TRUE(log.back().starts_with(
      "[FATAL] Failed to unzip input profile archive to working directory: the input profile "
      "archive changed during the run. (Error "))
      << log.back();
  EXPECT_FALSE(fs::exists(dir_.path() / "out.zip"));
}

// A log that cannot be made is said on the console, once, and the run goes on; a folder as the
// log stops it as before.
TEST_F(NamedFilesE2eTest, ALogThatCannotBeMadeIsSaid) {
  fs::create_directories(dir_.path() / "folder");
  const struct {
    std::string log;
    int status, error;
  } cases[] = {
      {"missing/run.log", 0, 3},
      {"run.log/", 0, ToolIsWindows() ? 123 : 5},
      {"folder", 5, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log);
    fs::remove(dir_.path() / "out.zip");
    const ToolResult result = Run({"/OUTPUT", "out.zip", "/LOGFILE", c.log});
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.console, kBanner + (c.error == 0 ? ""
                                                      : "Cannot create log file '" + Path(c.log) +
                                                            "' (Error " + std::to_string(c.error) +
                                                            "): the run is not logged\n"));
    EXPECT_EQ(fs::exists(dir_.path() / "out.zip"), c.status == 0);
  }
}

}  // namespace
}  // namespace orvex::testing
