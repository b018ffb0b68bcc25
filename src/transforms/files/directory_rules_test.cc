#include "transforms/files/directory_rules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "testing/matchers.h"
#include "transforms/files/rules_test_support.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;
using Lines = std::vector<std::string>;

class DirectoryRulesTest : public testing::UnpackedArchiveTest {
 protected:
  void SetUp() override {
    WriteFile(archive_ / "AppData" / "Old" / "a.ini", "a");
    WriteFile(archive_ / "AppData" / "Old" / "sub" / "b.ini", "b");
    WriteFile(archive_ / "Desktop" / "file.txt", "f");
  }

  HRESULT Run(const char16_t* action, const char16_t* source, const char16_t* destination = u"") {
    return ProcessDirectory(ToUtf16(archive_.string()), {action, destination, source});
  }
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
      // Out of its token's folder, even when still inside the archive.
      {u"delete",
       u"Desktop\\..",
       u"",
       {"[ERROR] ProcessDirectory: Invalid source directory '" + archive_.string() + "'"}},
      {u"copy ", u"AppData\\Old", u"bad", {"[ERROR] ProcessDirectory: Unknown action 'copy '"}},
  };
  for (const auto& c : cases) {
    EXPECT_HR(E_INVALIDARG, Run(c.action, c.source, c.destination)) << ToUtf8(c.source);
    EXPECT_EQ(log_.Take(), c.lines);
  }
  EXPECT_TRUE(fs::exists(archive_ / "AppData" / "Old" / "a.ini"));
}

TEST_F(DirectoryRulesTest, Actions) {
  WriteFile(archive_ / "AppData" / "New" / "a.ini", "old a");
  EXPECT_HR(S_OK, Run(u"COPY", u"AppData\\Old", u"AppData\\New"));
  EXPECT_EQ(log_.Take(),
            (Lines{"[DEBUG] ProcessDirectory: Copying directory 'AppData\\Old' to 'AppData\\New'",
                   "[DEBUG] ProcessDirectory: Copied directory 'AppData\\Old' to 'AppData\\New'"}));
  EXPECT_EQ(ReadFile(archive_ / "AppData" / "New" / "sub" / "b.ini"), "b");
  EXPECT_EQ(ReadFile(archive_ / "AppData" / "Old" / "a.ini"), "a");

  EXPECT_HR(S_OK, Run(u"move", u"AppData\\New", u"Desktop\\Vendor\\New"));
  EXPECT_EQ(log_.Take(), (Lines{"[DEBUG] ProcessDirectory: Moving directory 'AppData\\New' to "
                                "'Desktop\\Vendor\\New'",
                                "[DEBUG] ProcessDirectory: Moved directory 'AppData\\New' to "
                                "'Desktop\\Vendor\\New'"}));
  EXPECT_EQ(ReadFile(archive_ / "Desktop" / "Vendor" / "New" / "a.ini"), "a");
  EXPECT_FALSE(fs::exists(archive_ / "AppData" / "New"));

  EXPECT_HR(S_OK, Run(u"Create", u"AppData\\New"));
  EXPECT_EQ(log_.Take(), (Lines{"[DEBUG] ProcessDirectory: Creating directory 'AppData\\New'",
                                "[DEBUG] ProcessDirectory: Created directory 'AppData\\New'"}));
  EXPECT_TRUE(fs::is_directory(archive_ / "AppData" / "New"));

  EXPECT_HR(S_OK, Run(u"delete", u"AppData\\old"));
  EXPECT_EQ(log_.Take(), (Lines{"[DEBUG] ProcessDirectory: Deleting directory 'AppData\\old'",
                                "[DEBUG] ProcessDirectory: Deleted directory 'AppData\\old'"}));
  EXPECT_FALSE(fs::exists(archive_ / "AppData" / "Old"));
}

TEST_F(DirectoryRulesTest, FailuresAreLoggedAndTheRunGoesOn) {
  fs::create_directories(archive_ / "Desktop" / "Taken");
  const std::string file = At("/Desktop/file.txt");
  const struct {
    const char16_t *action, *source, *destination;
    std::string message;
  } cases[] = {
      {u"copy", u"AppData\\Missing", u"AppData\\X",
       "copy directory '" + At("/AppData/Missing") + "' to '" + At("/AppData/X") + "'. (Error 3)"},
      {u"copy", u"Desktop\\file.txt", u"AppData\\X",
       "copy directory '" + file + "' to '" + At("/AppData/X") + "'. (Error 267)"},
      {u"move", u"AppData\\Old", u"Desktop\\Taken",
       "move directory '" + At("/AppData/Old") + "' to '" + At("/Desktop/Taken") + "'. (Error 5)"},
      {u"move", u"AppData\\Gone", u"Desktop\\Gone",
       "move directory '" + At("/AppData/Gone") + "' to '" + At("/Desktop/Gone") + "'. (Error 3)"},
      {u"create", u"Desktop\\file.txt", u"", "create directory '" + file + "'. (Error 267)"},
  };
  for (const auto& c : cases) {
    EXPECT_HR(S_FALSE, Run(c.action, c.source, c.destination));
    EXPECT_EQ(log_.Take().back(), "[ERROR] ProcessDirectory: Failed to " + c.message);
  }
  EXPECT_FALSE(fs::exists(archive_ / "AppData" / "X"));
}

}  // namespace
}  // namespace orvex
