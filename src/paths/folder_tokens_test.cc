#include "paths/folder_tokens.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/environment.h"
#include "platform/shell_folders.h"
#include "platform/text.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

TEST(FolderTokensTest, GetParentPath) {
  const struct {
    std::u16string_view path;
    HRESULT result;
    std::u16string_view parent;
  } cases[] = {
      {u"AppData\\A\\B", S_OK, u"AppData\\A"},
      {u"AppData\\A\\", S_OK, u"AppData\\A"},  // a final separator is the last one found
      {u"AppData/x", S_OK, u"AppData"},
      {u"AppData", S_FALSE, u""},
      {u"", S_FALSE, u""},
      {u"C:\\A", S_OK, u"C:\\"},             // never shorter than the root
      {u"C:\\", S_FALSE, u""},               // a root alone has no parent
      {u"C:x\\y", E_INVALIDARG, u""},        // a malformed root
      {u"a|b\\AppData", E_INVALIDARG, u""},  // invalid characters, wherever they stand
      {u"AppData\\<x>", E_INVALIDARG, u""},
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
      {u"UserProfile/a/b", true},
      {u"AppData\\..\\..\\x", true},  // the token check alone does not see the climb
      {u"appdata\\x", false},         // tokens are case-sensitive and exact
      {u"\\AppData\\x", false},       // rooted
      {u"Foo\\AppData", false},
      {u"AppData \\x", false},
      {u"AppData\\a|b", false},  // invalid characters
      {u"C:AppData\\x", false},  // malformed root
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsFolderTokenPath(c.path), c.expected) << ToUtf8(c.path);
  }
}

TEST(FolderTokensTest, ExpandFolderToken) {
  std::u16string desktop, profile;
  ASSERT_HR(S_OK, platform::SHGetFolderPath(platform::CSIDL_DESKTOP, nullptr, 0, &desktop));
  ASSERT_HR(S_OK, platform::SHGetFolderPath(platform::CSIDL_PROFILE, nullptr, 0, &profile));
  const std::u16string long_prefix = platform::NeedsLongPathPrefix() ? u"\\\\?\\" : u"";
  const std::u16string long_name(300, u'x');

  const struct {
    std::u16string path;
    HRESULT result;
    std::u16string expanded;  // the path as it is left, also after a failure
  } cases[] = {
      // Only the leading token is replaced; the rest keeps its own separators and any later
      // occurrence of the token's text.
      {u"Desktop\\Desktop.ini", S_OK, desktop + u"\\Desktop.ini"},
      {u"UserProfile\\", S_OK, profile + u"\\"},
      // A long result takes the long-path prefix where the system needs one.
      {u"Desktop\\" + long_name, S_OK, long_prefix + desktop + u"\\" + long_name},
      {u"appdata\\x", E_INVALIDARG, u"appdata\\x"},
      {u"AppData\\a|b", E_INVALIDARG, u"AppData\\a|b"},
  };
  for (const auto& c : cases) {
    std::u16string path = c.path;
    EXPECT_HR(c.result, ExpandFolderToken(&path)) << ToUtf8(c.path);
    EXPECT_EQ(path, c.expanded) << ToUtf8(c.path);
  }
}

TEST(FolderTokensTest, RebaseRulePath) {
  const testing::ScopedTempDir temp;
  // The resolved paths come from the real current directory, so the archive directory must be
  // spelled without symbolic links, as the working area's is.
  const std::u16string base = ToUtf16(std::filesystem::canonical(temp.path()).string());
  const std::u16string archive = base + testing::NativeSeparators(u"/Archive");
  std::filesystem::create_directories(temp.path() / "Archive" / "AppData");
  const struct {
    std::u16string_view rule_path;
    RebaseOutcome outcome;
    std::u16string_view resolved;  // what follows the temporary directory in the resolved path
  } cases[] = {
      {u"AppData\\Vendor\\", RebaseOutcome::kRebased, u"/Archive/AppData/Vendor/"},
      {u"AppData\\.\\x\\..\\y", RebaseOutcome::kRebased, u"/Archive/AppData/y"},
      {u"AppData", RebaseOutcome::kRebased, u"/Archive/AppData"},
      // Out of the token's folder, into the archive directory or another token's folder.
      {u"AppData\\..", RebaseOutcome::kOutsideFolder, u"/Archive"},
      {u"AppData\\..\\Desktop\\x", RebaseOutcome::kOutsideFolder, u"/Archive/Desktop/x"},
      {u"AppData\\..\\..\\x", RebaseOutcome::kOutsideFolder, u"/x"},
      // A sibling whose name continues the folder's text is still outside.
      {u"AppData\\..\\AppDataX\\y", RebaseOutcome::kOutsideFolder, u"/Archive/AppDataX/y"},
      {u"appdata\\x", RebaseOutcome::kNotTokenPath, u""},
      // Names are judged as written, even one that resolving would take away again.
      {u"AppData\\x:y\\..", RebaseOutcome::kUnfitName, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.rule_path));
    const RebasedPath rebased = RebaseRulePath(c.rule_path, archive);
    EXPECT_EQ(static_cast<int>(rebased.outcome), static_cast<int>(c.outcome));
    EXPECT_HR(c.outcome == RebaseOutcome::kRebased     ? S_OK
              : c.outcome == RebaseOutcome::kUnfitName ? S_FALSE
                                                       : E_INVALIDARG,
              rebased.result);
    // A refused rule path is not resolved at all (empty path, position 0).
    const bool resolved =
        c.outcome == RebaseOutcome::kRebased || c.outcome == RebaseOutcome::kOutsideFolder;
    EXPECT_EQ(rebased.path,
              resolved ? base + testing::NativeSeparators(std::u16string(c.resolved)) : u"");
    EXPECT_EQ(rebased.file_name_position, rebased.path.find_last_of(platform::PathSeparator()) + 1);
  }

  // The failure is the system's own for a directory that is not there.
  const std::u16string missing = base + testing::NativeSeparators(u"/Missing");
  const RebasedPath failed = RebaseRulePath(u"AppData\\x", missing);
  EXPECT_EQ(failed.outcome, RebaseOutcome::kResolveFailed);
  EXPECT_HR(HResultFromWin32(platform::SetCurrentDirectory(missing)), failed.result);
  EXPECT_EQ(failed.path, u"");
}

}  // namespace
}  // namespace orvex
