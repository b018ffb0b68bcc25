#include "transforms/files/folder_tokens.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "common/text.h"
#include "platform/platform.h"
#include "testing/matchers.h"
#include "testing/scoped_env.h"
#include "testing/temp_dir.h"
#include "transforms/files/paths.h"

namespace orvex {
namespace {

// Sets or clears an environment variable for the length of a test and puts the old value back.

TEST(FolderTokensTest, LookupIsExactAndInTableOrder) {
  const struct {
    std::u16string_view name;
    int id;
  } expected[] = {
      {u"AppData", 26},      {u"Cookies", 33},     {u"Desktop", 0},  {u"Favorites", 6},
      {u"LocalAppData", 28}, {u"NetHood", 19},     {u"Personal", 5}, {u"PrintHood", 27},
      {u"ProgramsMenu", 2},  {u"RecentFiles", 8},  {u"SendTo", 9},   {u"StartMenu", 11},
      {u"StartupMenu", 7},   {u"UserProfile", 40},
  };
  ASSERT_EQ(std::size(expected), FolderTokenTable.size());
  for (std::size_t i = 0; i < FolderTokenTable.size(); ++i) {
    EXPECT_EQ(FolderTokenTable[i].name, expected[i].name);
    EXPECT_EQ(FolderTokenTable[i].csidl, expected[i].id);
    EXPECT_EQ(LookupFolderToken(expected[i].name), expected[i].id);
  }
  for (const std::u16string_view name :
       {u"appdata", u"APPDATA", u"AppData ", u"App", u"", u"Temp"}) {
    EXPECT_EQ(LookupFolderToken(name), -1) << ToUtf8(name);
  }
}

TEST(FolderTokensTest, GetParentPath) {
  const struct {
    std::u16string_view path;
    HRESULT result;
    std::u16string_view parent;
  } cases[] = {
      {u"AppData\\A\\B", S_OK, u"AppData\\A"},
      {u"AppData\\A\\", S_OK, u"AppData\\A"},  // a final separator is the last one found
      {u"AppData/x", S_OK, u"AppData"},
      {u"AppData\\\\x", S_OK, u"AppData\\"},
      {u"AppData", S_FALSE, u""},
      {u"", S_FALSE, u""},
      {u"C:\\A\\B", S_OK, u"C:\\A"},
      {u"C:\\A", S_OK, u"C:\\"},  // never shorter than the root
      {u"C:\\", S_FALSE, u""},    // a root alone has no parent
      {u"\\x", S_OK, u"\\"},
      {u"\\", S_FALSE, u""},
      {u"\\\\srv\\share\\x", S_OK, u"\\\\srv\\share\\"},
      {u"\\\\srv\\share\\", S_FALSE, u""},
      {u"\\\\?\\C:\\x", S_OK, u"\\\\?\\C:\\"},
      {u"AppData\\a b.txt", S_OK, u"AppData"},
      {u"C:", E_INVALIDARG, u""},  // malformed roots
      {u"C:x\\y", E_INVALIDARG, u""},
      {u"\\\\srv", E_INVALIDARG, u""},
      {u"AppData\\a|b", E_INVALIDARG, u""},  // invalid characters, wherever they stand
      {u"a|b\\AppData", E_INVALIDARG, u""},
      {u"AppData\\<x>", E_INVALIDARG, u""},
      {u"AppData\\\"x\"", E_INVALIDARG, u""},
      {u"AppData\\a\tb", E_INVALIDARG, u""},
      {u"AppData\\a\u0001", E_INVALIDARG, u""},
      {u"AppData\\a\u001F", E_INVALIDARG, u""},
  };
  for (const auto& c : cases) {
    std::u16string parent = u"left over";
    EXPECT_HR(c.result, GetParentPath(c.path, &parent)) << ToUtf8(c.path);
    EXPECT_EQ(parent, c.parent) << ToUtf8(c.path);
  }
}

TEST(FolderTokensTest, IsFolderTokenPath) {
  const struct {
    std::u16string_view path;
    bool expected;
  } cases[] = {
      {u"AppData", true},
      {u"AppData\\", true},
      {u"Desktop\\a\\b.txt", true},
      {u"UserProfile/a/b", true},
      {u"AppData\\..\\..\\x", true},  // the token check alone does not see the climb
      {u"appdata\\x", false},         // tokens are case-sensitive
      {u"\\AppData\\x", false},       // rooted
      {u"C:\\Users", false},
      {u"C:\\AppData", false},
      {u"Foo\\AppData", false},
      {u".\\AppData\\x", false},
      {u"AppData \\x", false},
      {u"%APPDATA%\\x", false},
      {u"", false},
      {u"AppData\\a|b", false},  // invalid characters
      {u"C:AppData\\x", false},  // malformed root
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsFolderTokenPath(c.path), c.expected) << ToUtf8(c.path);
  }
}

TEST(FolderTokensTest, ExpandFolderToken) {
  const testing::ScopedTempDir temp;
  const std::string home = temp.path().string() + "/home";
  const std::string config = temp.path().string() + "/config";
  const testing::ScopedEnv home_variable("HOME", home);
  const testing::ScopedEnv config_variable("XDG_CONFIG_HOME", config);
  const testing::ScopedEnv data_variable("XDG_DATA_HOME", std::nullopt);
  const std::u16string h = ToUtf16(home);
  const std::u16string long_name(300, u'x');

  const struct {
    std::u16string path;
    HRESULT result;
    std::u16string expanded;  // the path as it is left, also after a failure
  } cases[] = {
      // Only the leading token is replaced; the rest keeps its own separators and any later
      // occurrence of the token's text.
      {u"Desktop\\Desktop.ini", S_OK, h + u"/Desktop\\Desktop.ini"},
      {u"AppData\\AppData\\x", S_OK, ToUtf16(config) + u"\\AppData\\x"},
      {u"LocalAppData", S_OK, h + u"/.local/share"},
      {u"Personal/Report.doc", S_OK, h + u"/Documents/Report.doc"},
      {u"UserProfile\\", S_OK, h + u"\\"},
      {u"SendTo\\a", S_OK, h + u"/SendTo\\a"},
      // No 260-character limit here: a long result takes no prefix.
      {u"AppData\\" + long_name, S_OK, ToUtf16(config) + u"\\" + long_name},
      {u"appdata\\x", E_INVALIDARG, u"appdata\\x"},
      {u"Foo\\x", E_INVALIDARG, u"Foo\\x"},
      {u"\\AppData\\x", E_INVALIDARG, u"\\AppData\\x"},
      {u"AppData\\a|b", E_INVALIDARG, u"AppData\\a|b"},
      {u"", E_INVALIDARG, u""},
  };
  for (const auto& c : cases) {
    std::u16string path = c.path;
    EXPECT_HR(c.result, ExpandFolderToken(&path)) << ToUtf8(c.path);
    EXPECT_EQ(path, c.expanded) << ToUtf8(c.path);
  }
}

class RebaseRulePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The resolved paths come from the real current directory, so the archive directory must be
    // spelled without symbolic links, as the working area's is.
    base_ = ToUtf16(std::filesystem::canonical(temp_.path()).string());
    ASSERT_HR(S_OK, CombinePath(base_, u"Archive", &archive_));
    std::filesystem::create_directories(std::filesystem::path(ToUtf8(archive_)) / "AppData");
  }

  testing::ScopedTempDir temp_;
  std::u16string base_;
  std::u16string archive_;
};

TEST_F(RebaseRulePathTest, Outcomes) {
  const struct {
    std::u16string_view rule_path;
    RebaseOutcome outcome;
    std::u16string_view resolved;  // what follows the temporary directory in the resolved path
  } cases[] = {
      {u"AppData\\Vendor\\App", RebaseOutcome::kRebased, u"/Archive/AppData/Vendor/App"},
      {u"Desktop/Report.lnk", RebaseOutcome::kRebased, u"/Archive/Desktop/Report.lnk"},
      {u"AppData\\Vendor\\", RebaseOutcome::kRebased, u"/Archive/AppData/Vendor/"},
      {u"AppData\\.\\x\\..\\y", RebaseOutcome::kRebased, u"/Archive/AppData/y"},
      {u"AppData\\..", RebaseOutcome::kRebased, u"/Archive"},  // the archive directory itself
      {u"AppData\\..\\Desktop", RebaseOutcome::kRebased, u"/Archive/Desktop"},
      {u"AppData\\..\\..\\x", RebaseOutcome::kOutsideArchive, u"/x"},
      {u"AppData\\..\\..", RebaseOutcome::kOutsideArchive, u""},
      // A sibling whose name continues the archive directory's text is still outside.
      {u"AppData\\..\\..\\ArchiveX\\y", RebaseOutcome::kOutsideArchive, u"/ArchiveX/y"},
      {u"appdata\\x", RebaseOutcome::kNotTokenPath, u""},
      {u"\\AppData\\x", RebaseOutcome::kNotTokenPath, u""},
      {u"C:\\AppData\\x", RebaseOutcome::kNotTokenPath, u""},
      {u"Vendor\\AppData", RebaseOutcome::kNotTokenPath, u""},
      {u"AppData\\a|b", RebaseOutcome::kNotTokenPath, u""},
  };
  std::u16string before;
  ASSERT_EQ(platform::GetCurrentDirectory(&before), 0u);
  for (const auto& c : cases) {
    const RebasedPath rebased = RebaseRulePath(c.rule_path, archive_);
    EXPECT_EQ(static_cast<int>(rebased.outcome), static_cast<int>(c.outcome))
        << ToUtf8(c.rule_path);
    EXPECT_HR(c.outcome == RebaseOutcome::kRebased ? S_OK : E_INVALIDARG, rebased.result)
        << ToUtf8(c.rule_path);
    if (c.outcome != RebaseOutcome::kNotTokenPath) {
      EXPECT_EQ(rebased.path, base_ + std::u16string(c.resolved)) << ToUtf8(c.rule_path);
      EXPECT_EQ(rebased.file_name_position, rebased.path.find_last_of(u'/') + 1)
          << ToUtf8(c.rule_path);
    } else {
      EXPECT_EQ(rebased.path, u"") << ToUtf8(c.rule_path);
    }
    std::u16string after;
    ASSERT_EQ(platform::GetCurrentDirectory(&after), 0u);
    EXPECT_EQ(after, before) << "current directory not restored after " << ToUtf8(c.rule_path);
  }
}

TEST_F(RebaseRulePathTest, ResolutionFailureIsPassedOn) {
  std::u16string before;
  ASSERT_EQ(platform::GetCurrentDirectory(&before), 0u);
  const RebasedPath rebased = RebaseRulePath(u"AppData\\x", base_ + u"/Missing");
  EXPECT_EQ(rebased.outcome, RebaseOutcome::kResolveFailed);
  EXPECT_HR(HResultFromWin32(ERROR_PATH_NOT_FOUND), rebased.result);
  EXPECT_EQ(rebased.path, u"");
  std::u16string after;
  ASSERT_EQ(platform::GetCurrentDirectory(&after), 0u);
  EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace orvex
