#include "platform/posix/native_path.h"

#include <gtest/gtest.h>

#include "common/result.h"
#include "platform/text.h"
#include "testing/temp_dir.h"

namespace orvex::platform::posix {
namespace {

TEST(NativePathTest, FullPathText) {
  const struct {
    std::u16string_view path, expected;
  } cases[] = {
      {u"a\\b.txt", u"/cwd/dir/a/b.txt"},
      {u"..\\x", u"/cwd/x"},
      {u".", u"/cwd/dir"},
      {u"a\\", u"/cwd/dir/a/"},
      {u"/x//y/./z/../", u"/x/y/"},
      {u"/..", u"/"},
      {u"\\\\?\\/abs\\p", u"/abs/p"},
      {u"C:\\a\\..\\b", u"C:/b"},
      {u"\\\\srv\\share\\x", u"//srv/share/x"},
      {u"\\\\?\\UNC\\srv\\share\\x", u"//srv/share/x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FullPathText(c.path, u"/cwd/dir"), c.expected) << ToUtf8(c.path);
  }
}

TEST(NativePathTest, MatchesExistingNamesIgnoringCase) {
  testing::ScopedTempDir dir;
  testing::WriteFile(dir.path() / "AppData" / "Vendor" / "Settings.INI", "x");
  testing::WriteFile(dir.path() / "AppData" / "vendor2", "x");
  const std::string root = dir.path().string();
  const struct {
    std::string path, expected;
  } cases[] = {
      {"/appdata/VENDOR/settings.ini", "/AppData/Vendor/Settings.INI"},
      {"\\APPDATA\\vendor\\new.txt", "/AppData/Vendor/new.txt"},
      {"/appdata/missing/Settings.ini", "/AppData/missing/Settings.ini"},
      {"/AppData/Vendor2", "/AppData/vendor2"},
  };
  for (const auto& c : cases) {
    std::string native;
    ASSERT_EQ(ToNativePath(ToUtf16(root + c.path), &native), ERROR_SUCCESS);
    EXPECT_EQ(native, root + c.expected);
  }
  std::string native;
  EXPECT_EQ(ToNativePath(u"C:\\x", &native), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(ToNativePath(u"\\\\srv\\share\\x", &native), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(ToNativePath(std::u16string(u"a\0b", 3), &native), ERROR_INVALID_NAME);
}

TEST(NativePathTest, NameOrderIgnoresCaseThenBytes) {
  EXPECT_LT(CompareFileNames("a", "B"), 0);
  EXPECT_LT(CompareFileNames("a1", "B"), 0);
  EXPECT_LT(CompareFileNames("AB", "aB"), 0);
  EXPECT_TRUE(FileNamesEqualIgnoreCase("Straße", "STRASSE"));
}

}  // namespace
}  // namespace orvex::platform::posix
