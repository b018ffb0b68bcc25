#include "paths/file_finder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <vector>

#include "platform/text.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

struct Entry {
  std::u16string full_path;
  bool is_directory;
  bool operator==(const Entry&) const = default;
  friend void PrintTo(const Entry& entry, std::ostream* out) {
    *out << ToUtf8(entry.full_path) << (entry.is_directory ? " (directory)" : "");
  }
};

std::vector<Entry> FindAll(FileFinder& finder, std::u16string_view pattern) {
  std::vector<Entry> entries;
  for (bool more = finder.FindFirst(pattern); more; more = finder.FindNext()) {
    entries.push_back({finder.FullPath(), finder.IsDirectory()});
  }
  finder.Close();
  return entries;
}

TEST(FileFinderTest, GivesFullPaths) {
  testing::ScopedTempDir dir;
  testing::WriteFile(dir.path() / "Registry" / "a.reg", "x");
  testing::WriteFile(dir.path() / "Registry" / "notes.txt", "x");
  fs::create_directory(dir.path() / "Registry" / "sub.reg");

  FileFinder finder;
  EXPECT_EQ(FindAll(finder, dir.wide("Registry/*.reg")),
            (std::vector<Entry>{{dir.wide("Registry/a.reg"), false},
                                {dir.wide("Registry/sub.reg"), true}}));
  // The directory is kept as the pattern wrote it, the name as the directory holds it.
  EXPECT_EQ(FindAll(finder, dir.wide("Registry\\..\\registry\\A.REG")),
            (std::vector<Entry>{{dir.wide("registry/a.reg"), false}}));
  EXPECT_FALSE(finder.FindFirst(dir.wide("Registry/*.none")));
  EXPECT_FALSE(finder.FindNext());
}

}  // namespace
}  // namespace orvex
