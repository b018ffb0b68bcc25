#include "paths/paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/environment.h"
#include "platform/text.h"
#include "testing/matchers.h"
#include "testing/scoped_env.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

TEST(PathsTest, GetRootLength) {
  const struct {
    std::u16string_view path;
    HRESULT result;
    int length;
  } cases[] = {
      {u"c:/x", S_OK, 3},
      {u"\\x", S_OK, 1},
      {u"\\\\srv\\share\\x", S_OK, 12},
      {u"\\\\?\\C:\\x", S_OK, 7},
      {u"\\\\?\\UNC\\srv\\share\\x", S_OK, 18},
      {u"AppData\\x", S_FALSE, 0},
      {u"", S_FALSE, 0},
      {u"\\\\?\\", S_FALSE, 0},
      {u"ab:\\x", S_FALSE, 0},
      {u"C:", E_INVALIDARG, 0},
      {u"\\\\srv", E_INVALIDARG, 0},
      {u"\\\\srv\\share", E_INVALIDARG, 0},
      {u"\\\\?\\\\x", E_INVALIDARG, 0},
  };
  for (const auto& c : cases) {
    int length = -1;
    EXPECT_HR(c.result, GetRootLength(c.path, &length)) << ToUtf8(c.path);
    EXPECT_EQ(length, c.length) << ToUtf8(c.path);
  }
}

TEST(PathsTest, FindExtensionAndFileName) {
  const struct {
    std::u16string_view path, extension, file_name;
  } cases[] = {
      {u"C:\\dir.b\\readme", u"", u"readme"},
      {u"x.tar.gz", u".gz", u"x.tar.gz"},
      {u"a.b c", u"", u"a.b c"},
      {u"C:name", u"", u"name"},
      {u"/tmp/KVA00001/", u"", u""},
      {u"", u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.path.substr(FindExtension(c.path)), c.extension) << ToUtf8(c.path);
    EXPECT_EQ(c.path.substr(FindFileName(c.path)), c.file_name) << ToUtf8(c.path);
  }
}

TEST(PathsTest, AddLongPathPrefix) {
  const struct {
    std::u16string_view path;
    HRESULT result;
    std::u16string_view prefixed;
  } cases[] = {
      {u"C:\\x", S_OK, u"\\\\?\\C:\\x"},
      {u"\\\\srv\\s\\x", S_OK, u"\\\\?\\UNC\\srv\\s\\x"},
      {u"\\\\?\\UNC\\srv\\s\\x", S_OK, u"\\\\?\\UNC\\srv\\s\\x"},
      {u"\\\\?\\C:\\x", S_OK, u"\\\\?\\C:\\x"},
      {u"x\\y", E_INVALIDARG, u""},
      {u"C:/x", E_INVALIDARG, u""},
  };
  for (const auto& c : cases) {
    std::u16string prefixed;
    EXPECT_HR(c.result, AddLongPathPrefix(c.path, &prefixed)) << ToUtf8(c.path);
    EXPECT_EQ(prefixed, c.prefixed);
  }
}

TEST(PathsTest, CombinePath) {
  const std::u16string sep(1, platform::PathSeparator());
  const std::u16string working = u"/tmp/KVA00001" + sep;
  const struct {
    std::u16string_view directory, name;
    std::u16string expected;
  } cases[] = {
      {u"C:\\a", u"D:\\b", u"D:\\b"},
      {u"C:\\a\\", u"b", u"C:\\a\\b"},
      {working, u"in.zip", working + u"in.zip"},
      {u"C:\\a", u"b", u"C:\\a" + sep + u"b"},
      {u"C:\\a", u"", u"C:\\a"},
      {u"", u"b", u"b"},
      {u"/w", u"C:x", u"/w" + sep + u"C:x"},  // a malformed root counts as relative
  };
  for (const auto& c : cases) {
    std::u16string out;
    EXPECT_HR(S_OK, CombinePath(c.directory, c.name, &out));
    EXPECT_EQ(out, c.expected);
  }
}

class ResolveFullPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.path() / "base" / "sub");
#ifndef _WIN32  // the C++ library makes no symbolic links on Windows
    std::filesystem::create_directory_symlink(dir_.path() / "base", dir_.path() / "link");
#endif
    saved_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(saved_); }

  testing::ScopedTempDir dir_;
  std::filesystem::path saved_;
};

TEST_F(ResolveFullPathTest, AgainstTheCurrentOrABaseDirectory) {
  const struct {
    std::u16string_view path;
    const char* base;
    std::u16string_view expected;
    std::size_t file_name_position;  // counted from the end of the expected text
  } cases[] = {
      {u"a\\", nullptr, u"/a/", 0},
      {u"AppData\\..\\..\\x", "base", u"/x", 1},
      // A base reached through a link keeps the name it was given.
      {u"AppData\\x", "link", u"/link/AppData/x", 1},
  };
  for (const auto& c : cases) {
    if (!std::filesystem::exists(dir_.path() / (c.base == nullptr ? "" : c.base))) continue;
    std::u16string path(c.path);
    std::size_t position = 0;
    EXPECT_HR(S_OK, ResolveFullPath(&path, c.base == nullptr ? u"" : dir_.wide(c.base), &position));
    EXPECT_EQ(path, dir_.wide() + testing::NativeSeparators(std::u16string(c.expected)));
    EXPECT_EQ(path.size() - position, c.file_name_position) << ToUtf8(path);
    EXPECT_EQ(std::filesystem::current_path(), dir_.path());
  }
}

TEST_F(ResolveFullPathTest, FailuresLeaveThePathAndTheCurrentDirectory) {
  std::u16string path = u"x";
  // The failure is the system's own for a directory that is not there.
  EXPECT_HR(HResultFromWin32(platform::SetCurrentDirectory(dir_.wide("missing"))),
            ResolveFullPath(&path, dir_.wide("missing")));
  EXPECT_EQ(path, u"x");

  std::u16string empty;
  EXPECT_TRUE(FAILED(ResolveFullPath(&empty, dir_.wide("base"))));
  EXPECT_EQ(std::filesystem::current_path(), dir_.path());
}

TEST_F(ResolveFullPathTest, ExpandsEnvironmentOnlyWhenAsked) {
  const testing::ScopedEnv variable("ORVEX_TEST_DIR", "base/sub");
  std::u16string expanded = u"%ORVEX_TEST_DIR%\\f";
  EXPECT_HR(S_OK, ResolveFullPath(&expanded, {}, nullptr, true));
  EXPECT_EQ(expanded, dir_.wide() + testing::NativeSeparators(u"/base/sub/f"));

  std::u16string kept = u"%ORVEX_TEST_DIR%\\f";
  EXPECT_HR(S_OK, ResolveFullPath(&kept));
  EXPECT_EQ(kept, dir_.wide() + testing::NativeSeparators(u"/%ORVEX_TEST_DIR%/f"));
}

}  // namespace
}  // namespace orvex
