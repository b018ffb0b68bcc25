#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "common/result.h"
#include "platform/shell_folders.h"
#include "testing/matchers.h"
#include "testing/scoped_env.h"

namespace orvex::platform {
namespace {

std::u16string FolderPath(int csidl) {
  std::u16string path = u"unchanged";
  const HRESULT hr = SHGetFolderPath(csidl, nullptr, 0, &path);
  return SUCCEEDED(hr) ? path : u"error";
}

TEST(ShellFolderTest, TokenFoldersHaveTheirPlaceUnderHome) {
  orvex::testing::ScopedEnv home("HOME", "/home/u\u00e9/");
  orvex::testing::ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
  orvex::testing::ScopedEnv data("XDG_DATA_HOME", std::nullopt);
  const struct {
    int csidl;
    std::u16string expected;
  } cases[] = {
      {CSIDL_PROFILE, u"/home/u\u00e9"},
      {CSIDL_DESKTOP, u"/home/u\u00e9/Desktop"},
      {CSIDL_APPDATA, u"/home/u\u00e9/.config"},
      {CSIDL_LOCAL_APPDATA, u"/home/u\u00e9/.local/share"},
      {CSIDL_FAVORITES, u"/home/u\u00e9/Favorites"},
      {CSIDL_PROGRAMS, u"/home/u\u00e9/ProgramsMenu"},
      {CSIDL_RECENT, u"/home/u\u00e9/RecentFiles"},
      {CSIDL_STARTUP, u"/home/u\u00e9/StartupMenu"},
      {CSIDL_APPDATA | 0x8000, u"/home/u\u00e9/.config"},
      {36, u"error"},  // the Windows directory is nobody's shell folder here
      {-1, u"error"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FolderPath(c.csidl), c.expected) << c.csidl;
  }
}

TEST(ShellFolderTest, XdgDirectoriesCountOnlyWhenAbsolute) {
  orvex::testing::ScopedEnv home("HOME", "/h");
  {
    orvex::testing::ScopedEnv config("XDG_CONFIG_HOME", "/cfg/");
    orvex::testing::ScopedEnv data("XDG_DATA_HOME", "/data");
    EXPECT_EQ(FolderPath(CSIDL_APPDATA), u"/cfg");
    EXPECT_EQ(FolderPath(CSIDL_LOCAL_APPDATA), u"/data");
  }
  orvex::testing::ScopedEnv config("XDG_CONFIG_HOME", "relative");
  orvex::testing::ScopedEnv data("XDG_DATA_HOME", "");
  EXPECT_EQ(FolderPath(CSIDL_APPDATA), u"/h/.config");
  EXPECT_EQ(FolderPath(CSIDL_LOCAL_APPDATA), u"/h/.local/share");
}

}  // namespace
}  // namespace orvex::platform
