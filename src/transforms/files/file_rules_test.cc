#include "transforms/files/file_rules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "testing/image_files.h"
#include "testing/matchers.h"
#include "transforms/files/rules_test_support.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;
using Lines = std::vector<std::string>;

class FileRulesTest : public testing::UnpackedArchiveTest {
 protected:
  void SetUp() override {
    WriteFile(archive_ / "AppData" / "App" / "a.ini", "a");
    fs::create_directories(archive_ / "AppData" / "Dir");
  }

  HRESULT Run(const char16_t* action, const char16_t* source, const char16_t* destination = u"",
              const char16_t* content = u"") {
    return ProcessFile(ToUtf16(archive_.string()), {action, destination, source, content});
  }
};

TEST_F(FileRulesTest, RefusalsComeBeforeTheAction) {
  const struct {
    const char16_t *action, *source, *destination;
    Lines lines;
  } cases[] = {
      {u"bogus", u"Appdata\\a", u"", {"[FATAL] ProcessFile: Invalid source file 'Appdata\\a'"}},
      {u"", u"AppData\\App\\a.ini", u"", {"[ERROR] ProcessFile: Unknown action ''"}},
      {u"copy",
       u"AppData\\App\\a.ini",
       u"x.ini",
       {"[DEBUG] ProcessFile: Copying file 'AppData\\App\\a.ini' to 'x.ini'",
        "[FATAL] ProcessFile: Invalid destination file 'x.ini'"}},
      {u"move",
       u"AppData\\..\\..\\outside.ini",
       u"AppData\\x.ini",
       {"[ERROR] ProcessFile: Invalid source file '" + (dir_.path() / "outside.ini").string() +
        "'"}},
  };
  for (const auto& c : cases) {
    EXPECT_HR(E_INVALIDARG, Run(c.action, c.source, c.destination));
    EXPECT_EQ(log_.Take(), c.lines);
  }
}

TEST_F(FileRulesTest, CopyMoveAndDelete) {
  EXPECT_HR(S_OK, Run(u"Copy", u"AppData\\app\\A.INI", u"Desktop\\New\\b.ini"));
  EXPECT_EQ(
      log_.Take(),
      (Lines{"[DEBUG] ProcessFile: Copying file 'AppData\\app\\A.INI' to 'Desktop\\New\\b.ini'",
             "[DEBUG] ProcessFile: Copied file 'AppData\\app\\A.INI' to 'Desktop\\New\\b.ini'"}));
  EXPECT_HR(S_OK, Run(u"move", u"Desktop\\New\\b.ini", u"Desktop\\Deeper\\c.ini"));
  log_.Take();
  EXPECT_EQ(ReadFile(archive_ / "Desktop" / "Deeper" / "c.ini"), "a");
  EXPECT_FALSE(fs::exists(archive_ / "Desktop" / "New" / "b.ini"));

  EXPECT_HR(S_OK, Run(u"delete", u"AppData\\App\\a.ini"));
  EXPECT_EQ(log_.Take(), (Lines{"[DEBUG] ProcessFile: Deleting file 'AppData\\App\\a.ini'",
                                "[DEBUG] ProcessFile: Deleted file 'AppData\\App\\a.ini'"}));
  EXPECT_FALSE(fs::exists(archive_ / "AppData" / "App" / "a.ini"));
}

TEST_F(FileRulesTest, FailuresAreLoggedAndTheRunGoesOn) {
  const std::string dir = At("/AppData/Dir"), none = At("/AppData/none.ini"), x = At("/Desktop/x");
  const struct {
    const char16_t *action, *source, *destination;
    std::string message;
  } cases[] = {
      {u"copy", u"AppData\\none.ini", u"Desktop\\x",
       "copy file '" + none + "' to '" + x + "'. (Error 2)"},
      {u"move", u"AppData\\Dir", u"Desktop\\x",
       "move file '" + dir + "' to '" + x + "'. (Error 5)"},
      {u"delete", u"AppData\\Dir", u"", "delete file '" + dir + "'. (Error 5)"},
      {u"convert", u"AppData\\pic.png", u"AppData\\pic.bmp",
       "convert '" + At("/AppData/pic.png") + "' to '" + At("/AppData/pic.bmp") +
           "'. (Error 16385)"},
  };
  for (const auto& c : cases) {
    EXPECT_HR(S_FALSE, Run(c.action, c.source, c.destination));
    EXPECT_EQ(log_.Take().back(), "[ERROR] ProcessFile: Failed to " + c.message);
  }
  EXPECT_FALSE(fs::exists(archive_ / "Desktop"));
}

TEST_F(FileRulesTest, CreateDecodesTrimmedBase64) {
  const struct {
    const char16_t* content;
    std::string bytes, last_line;
  } cases[] = {
      {u"SGVs\n    bG8s\r\n\tIHdvcmxk", "Hello, world",
       "[DEBUG] ProcessFile: Created file 'AppData\\New\\f.bin', 12 bytes long"},
      {u"  \n\u3000 \t", "", "[DEBUG] ProcessFile: Created empty file 'AppData\\New\\f.bin'"},
  };
  for (const auto& c : cases) {
    EXPECT_HR(S_OK, Run(u"create", u"AppData\\New\\f.bin", u"", c.content));
    EXPECT_EQ(ReadFile(archive_ / "AppData" / "New" / "f.bin"), c.bytes);
    EXPECT_EQ(log_.Take(),
              (Lines{"[DEBUG] ProcessFile: Creating file 'AppData\\New\\f.bin'", c.last_line}));
  }

  EXPECT_TRUE(FAILED(Run(u"create", u"AppData\\Dir", u"", u"QUJD")));
  EXPECT_EQ(log_.Take().back(),
            "[ERROR] ProcessFile: Failed to create file '" + At("/AppData/Dir") + "'. (Error 5)");
  EXPECT_TRUE(FAILED(Run(u"create", u"AppData\\App\\a.ini\\x", u"", u"QUJD")));
  EXPECT_EQ(log_.Take().back(), "[ERROR] ProcessFile: Failed to create directory '" +
                                    At("/AppData/App/a.ini/") + "'. (Error 267)");
}

TEST_F(FileRulesTest, Convert) {
  WriteFile(archive_ / "Personal" / "pic.BMP",
            testing::Bmp24File(8, 6, testing::GradientPicture(8, 6)));
  EXPECT_HR(S_OK, Run(u"convert", u"Personal\\pic.BMP", u"Personal\\Out\\pic.Jpeg"));
  EXPECT_EQ(
      log_.Take(),
      (Lines{
          "[DEBUG] ProcessFile: Converting file 'Personal\\pic.BMP' to 'Personal\\Out\\pic.Jpeg'",
          "[DEBUG] ProcessFile: Converted file 'Personal\\pic.BMP' to 'Personal\\Out\\pic.Jpeg'"}));
  EXPECT_EQ(ReadFile(archive_ / "Personal" / "Out" / "pic.Jpeg").substr(0, 2), "\xFF\xD8");
}

// A missing source of a copy or move is nothing to act on; a source of the wrong kind, a failed
// operation or a refused path is a failure; deleting what is not there acts, as its log says.
TEST_F(FileRulesTest, OutcomeTellsNothingFoundFromFailed) {
  const struct {
    const char16_t *action, *source, *destination;
    HRESULT result;
    RuleOutcome outcome;
  } cases[] = {
      {u"copy", u"AppData\\App\\a.ini", u"AppData\\b.ini", S_OK, RuleOutcome::kActed},
      {u"move", u"AppData\\App\\none.ini", u"AppData\\c.ini", S_FALSE, RuleOutcome::kFoundNothing},
      {u"copy", u"AppData\\Dir", u"AppData\\d.ini", S_FALSE, RuleOutcome::kFailed},
      {u"delete", u"AppData\\App\\none.ini", u"", S_OK, RuleOutcome::kActed},
      {u"delete", u"AppData\\Dir", u"", S_FALSE, RuleOutcome::kFailed},
      {u"copy", u"Appdata\\a", u"AppData\\e.ini", E_INVALIDARG, RuleOutcome::kFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(std::u16string(c.action) + u' ' + c.source));
    RuleOutcome outcome = RuleOutcome::kActed;
    EXPECT_HR(c.result, ProcessFile(ToUtf16(archive_.string()),
                                    {c.action, c.destination, c.source, u""}, &outcome));
    EXPECT_EQ(c.outcome, outcome);
  }
}

}  // namespace
}  // namespace orvex
