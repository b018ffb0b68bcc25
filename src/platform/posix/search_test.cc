#include "platform/posix/search.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/result.h"
#include "platform/file_handles.h"
#include "platform/search.h"
#include "platform/text.h"
#include "testing/temp_dir.h"

namespace orvex::platform {
namespace {

namespace fs = std::filesystem;

TEST(SearchTest, WildcardsFollowWindowsRules) {
  const struct {
    std::u16string_view pattern, name;
    bool matches;
  } cases[] = {
      {u"*", u".", true},
      {u"*.*", u"noext", true},
      {u"*.*", u"..", true},
      {u"*.reg", u"User.REG", true},
      {u"*.reg", u"a.b.reg", true},
      {u"*.reg", u"a.reg.bak", false},
      {u"*.", u"noext", true},
      {u"*.", u"has.ext", false},
      {u"a.*", u"a", true},
      {u"a.*", u"ab", false},
      {u"?.txt", u".txt", true},  // a ? may stand for nothing before a dot
      {u"??.txt", u"xyz.txt", false},
      {u"a?c", u"a.c", false},
      {u"file??", u"file1", true},          // or at the end of the name
      {u"straße*", u"STRASSE.txt", false},  // one character stands for one character
      {u"ÄB*", u"äbc", true},
      {u"data", u"data2", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(posix::NameMatchesPattern(c.pattern, c.name), c.matches)
        << ToUtf8(c.pattern) << " vs " << ToUtf8(c.name);
  }
}

struct Found {
  std::uint32_t error;
  std::vector<std::string> names;
};

Found Search(const std::u16string& pattern) {
  Found found{0, {}};
  FindHandle search;
  FindData data;
  found.error = FindFirstFile(pattern, &search, &data);
  if (found.error != ERROR_SUCCESS) return found;
  std::uint32_t next = ERROR_SUCCESS;
  for (; next == ERROR_SUCCESS; next = FindNextFile(search, &data)) {
    found.names.push_back(ToUtf8(data.name));
  }
  EXPECT_EQ(next, ERROR_NO_MORE_FILES);
  FindClose(search);
  EXPECT_EQ(FindNextFile(search, &data), ERROR_INVALID_HANDLE);
  return found;
}

TEST(SearchTest, FindsInNameOrderWithDotsFirst) {
  testing::ScopedTempDir dir;
  for (const char* name : {"b.REG", "a.reg", "C.txt", "_x", ".hidden", "noext", "x.reg.bak"}) {
    testing::WriteFile(dir.path() / name, "x");
  }
  fs::create_directory(dir.path() / "Sub");
  fs::create_symlink(dir.path() / "Sub", dir.path() / "link");
  using Names = std::vector<std::string>;
  const Names all = {".",     "..",   ".hidden", "_x",  "a.reg",    "b.REG",
                     "C.txt", "link", "noext",   "Sub", "x.reg.bak"};

  const struct {
    std::string pattern;
    Found expected;
  } cases[] = {
      {"/*", {0, all}},
      {"\\*.*", {0, all}},
      {"/*.reg", {0, {"a.reg", "b.REG"}}},
      {"/*.", {0, {".", "..", "_x", "link", "noext", "Sub"}}},
      {"/A.REG", {0, {"a.reg"}}},  // one name, reported as it is stored
      {"/SUB/*", {0, {".", ".."}}},
      {"/*.none", {ERROR_FILE_NOT_FOUND, {}}},
      {"/missing", {ERROR_FILE_NOT_FOUND, {}}},
      {"/", {ERROR_FILE_NOT_FOUND, {}}},
      {"/nodir/*", {ERROR_PATH_NOT_FOUND, {}}},
      {"/a.reg/*", {ERROR_DIRECTORY, {}}},
      {"/link/*", {ERROR_DIRECTORY, {}}},  // links are not followed
  };
  for (const auto& c : cases) {
    const Found found = Search(dir.wide() + ToUtf16(c.pattern));
    EXPECT_EQ(found.error, c.expected.error) << c.pattern;
    EXPECT_EQ(found.names, c.expected.names) << c.pattern;
  }
}

}  // namespace
}  // namespace orvex::platform
