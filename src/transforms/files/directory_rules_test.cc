#include "transforms/files/directory_rules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/text.h"
#include "testing/capture_logger.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;
using Lines = std::vector<std::string>;

class DirectoryRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    archive_ = dir_.path() / "Profile.zip";
    WriteFile(archive_ / "AppData" / "Old" / "a.ini", "a");
    WriteFile(archive_ / "AppData" / "Old" / "sub" / "b.ini", "b");
    fs::create_directories(archive_ / "AppData" / "Old" / "empty");
    WriteFile(archive_ / "Desktop" / "file.txt", "f");
  }

  HRESULT Run(const char16_t* action, const char16_t* source, const char16_t* destination = u"") {
    return ProcessDirectory(ToUtf16(archive_.string()), {action, destination, source});
  }
  // The archive directory followed by `rest`, as the messages show resolved paths.
  std::string At(const std::string& rest) { return archive_.string() + rest; }

  testing::ScopedTempDir dir_;
  fs::path archive_;
  testing::ScopedCaptureLogger log_;
};

TEST_F(DirectoryRulesTest, RefusedPathsAndActionsStopTheRun) {
  const struct {
    const char16_t *action, *source, *destination;
    Lines lines;
  } cases[] = {
      {u"copy",
       u"appdata\\Old",
       u"AppData\\New",
       {"[FATAL] ProcessDirectory: Invalid source directory 'appdata\\Old'"}},
      {u"delete",
       u"\\AppData\\Old",
       u"",
       {"[FATAL] ProcessDirectory: Invalid source directory '\\AppData\\Old'"}},
      {u"delete",
       u"AppData\\..\\..\\x",
       u"",
       {"[ERROR] ProcessDirectory: Invalid source directory '" + dir_.path().string() + "/x'"}},
      {u"delete",
       u"AppData\\..\\..\\Profile.zipX\\y",
       u"",
       {"[ERROR] ProcessDirectory: Invalid source directory '" + dir_.path().string() +
        "/Profile.zipX/y'"}},
      {u"copy",
       u"AppData\\Old",
       u"Old",
       {"[DEBUG] ProcessDirectory: Copying directory 'AppData\\Old' to 'Old'",
        "[FATAL] ProcessDirectory: Invalid destination directory 'Old'"}},
      {u"move",
       u"AppData\\Old",
       u"AppData\\..\\..",
       {"[DEBUG] ProcessDirectory: Moving directory 'AppData\\Old' to 'AppData\\..\\..'",
        "[ERROR] ProcessDirectory: Invalid destination directory '" + dir_.path().string() + "'"}},
      {u"copy ", u"AppData\\Old", u"bad", {"[ERROR] ProcessDirectory: Unknown action 'copy '"}},
      {u"", u"AppData\\Old", u"", {"[ERROR] ProcessDirectory: Unknown action ''"}},
  };
  for (const auto& c : cases) {
    EXPECT_HR(E_INVALIDARG, Run(c.action, c.source, c.destination)) << ToUtf8(c.source);
    EXPECT_EQ(log_.Take(), c.lines);
  }
  EXPECT_TRUE(fs::exists(archive_ / "AppData" / "Old" / "a.ini"));
}

TEST_F(DirectoryRulesTest, CopyMergesAndReportsMissingSources) {
  WriteFile(archive_ / "AppData" / "New" / "a.ini", "old a");
  WriteFile(archive_ / "AppData" / "New" / "keep.ini", "keep");
  EXPECT_HR(S_OK, Run(u"COPY", u"AppData\\Old", u"AppData\\New"));
  EXPECT_EQ(log_.Take(),
            (Lines{"[DEBUG] ProcessDirectory: Copying directory 'AppData\\Old' to 'AppData\\New'",
                   "[DEBUG] ProcessDirectory: Copied directory 'AppData\\Old' to 'AppData\\New'"}));
  EXPECT_EQ(ReadFile(archive_ / "AppData" / "New" / "a.ini"), "a");
  EXPECT_EQ(ReadFile(archive_ / "AppData" / "New" / "sub" / "b.ini"), "b");
  EXPECT_EQ(ReadFile(archive_ / "AppData" / "New" / "keep.ini"), "keep");
  EXPECT_TRUE(fs::is_directory(archive_ / "AppData" / "New" / "empty"));
  EXPECT_TRUE(fs::exists(archive_ / "AppData" / "Old" / "a.ini"));

  EXPECT_HR(S_FALSE, Run(u"copy", u"AppData\\Missing", u"AppData\\X"));
  EXPECT_EQ(log_.Take()[1], "[ERROR] ProcessDirectory: Failed to copy directory '" +
                                At("/AppData/Missing") + "' to '" + At("/AppData/X") +
                                "'. (Error 3)");
  EXPECT_HR(S_FALSE, Run(u"copy", u"Desktop\\file.txt", u"AppData\\X"));
  EXPECT_EQ(log_.Take()[1], "[ERROR] ProcessDirectory: Failed to copy directory '" +
                                At("/Desktop/file.txt") + "' to '" + At("/AppData/X") +
                                "'. (Error 267)");
  EXPECT_FALSE(fs::exists(archive_ / "AppData" / "X"));
}

TEST_F(DirectoryRulesTest, CreateAndDelete) {
  EXPECT_HR(S_OK, Run(u"create", u"AppData\\Vendor\\App\\Data"));
  EXPECT_TRUE(fs::is_directory(archive_ / "AppData" / "Vendor" / "App" / "Data"));
  log_.Take();
  EXPECT_HR(S_OK, Run(u"Create", u"AppData\\Old"));
  EXPECT_EQ(log_.Take(), (Lines{"[DEBUG] ProcessDirectory: Creating directory 'AppData\\Old'",
                                "[DEBUG] ProcessDirectory: Created directory 'AppData\\Old'"}));
  EXPECT_HR(S_FALSE, Run(u"create", u"Desktop\\file.txt"));
  EXPECT_EQ(log_.Take()[1], "[ERROR] ProcessDirectory: Failed to create directory '" +
                                At("/Desktop/file.txt") + "'. (Error 267)");
  EXPECT_HR(S_OK, Run(u"create", u"AppData\\.."));  // the archive directory itself
  log_.Take();

  fs::permissions(archive_ / "AppData" / "Old" / "a.ini", fs::perms::owner_write,
                  fs::perm_options::remove);
  EXPECT_HR(S_OK, Run(u"delete", u"AppData\\old"));  // existing names match ignoring case
  EXPECT_EQ(log_.Take(), (Lines{"[DEBUG] ProcessDirectory: Deleting directory 'AppData\\old'",
                                "[DEBUG] ProcessDirectory: Deleted directory 'AppData\\old'"}));
  EXPECT_FALSE(fs::exists(archive_ / "AppData" / "Old"));
  EXPECT_HR(S_OK, Run(u"delete", u"AppData\\Old"));  // nothing there: still success
  EXPECT_EQ(log_.Take().size(), 2u);
}

TEST_F(DirectoryRulesTest, Move) {
  EXPECT_HR(S_OK, Run(u"move", u"AppData\\Old", u"AppData\\Vendor\\New"));
  EXPECT_EQ(
      log_.Take(),
      (Lines{
          "[DEBUG] ProcessDirectory: Moving directory 'AppData\\Old' to 'AppData\\Vendor\\New'",
          "[DEBUG] ProcessDirectory: Moved directory 'AppData\\Old' to 'AppData\\Vendor\\New'"}));
  EXPECT_EQ(ReadFile(archive_ / "AppData" / "Vendor" / "New" / "sub" / "b.ini"), "b");
  EXPECT_FALSE(fs::exists(archive_ / "AppData" / "Old"));

  fs::create_directories(archive_ / "Desktop" / "Taken");
  EXPECT_HR(S_FALSE, Run(u"move", u"AppData\\Vendor", u"Desktop\\Taken"));
  EXPECT_EQ(log_.Take()[1], "[ERROR] ProcessDirectory: Failed to move directory '" +
                                At("/AppData/Vendor") + "' to '" + At("/Desktop/Taken") +
                                "'. (Error 5)");
  EXPECT_HR(S_FALSE, Run(u"move", u"AppData\\Gone", u"Desktop\\Gone"));
  EXPECT_EQ(log_.Take()[1], "[ERROR] ProcessDirectory: Failed to move directory '" +
                                At("/AppData/Gone") + "' to '" + At("/Desktop/Gone") +
                                "'. (Error 3)");
}

}  // namespace
}  // namespace orvex
