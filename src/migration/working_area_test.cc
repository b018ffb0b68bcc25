#include "migration/working_area.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <iterator>
#include <thread>
#include <vector>

#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

TEST(WorkingAreaTest, CreateUniqueDirectoryTakesTheFirstFreeNumber) {
  testing::ScopedTempDir dir;
  fs::create_directory(dir.path() / "KVA00001");
  fs::create_directory(dir.path() / "KVA00002");
  testing::WriteFile(dir.path() / "KVA00004", "a file takes its number too");

  std::u16string path;
  ASSERT_HR(
      CreateUniqueDirectory(dir.wide(), kWorkingDirectoryPattern, kWorkingDirectoryTries, &path),
      S_OK);
  EXPECT_EQ(path, dir.wide("KVA00003/"));
  EXPECT_TRUE(fs::is_directory(dir.path() / "KVA00003"));

  path = u"unchanged";
  EXPECT_HR(CreateUniqueDirectory(dir.wide(), u"KVA%05u", 4, &path),
            HResultFromWin32(ERROR_ALREADY_EXISTS));
  EXPECT_HR(CreateUniqueDirectory(dir.wide(), u"", 5, &path), E_INVALIDARG);
  EXPECT_HR(CreateUniqueDirectory(dir.wide(), u"KVA%05u", 0, &path), E_INVALIDARG);
  EXPECT_HR(CreateUniqueDirectory(dir.wide(), u"KVA%s", 5, &path), E_INVALIDARG);
  EXPECT_EQ(path, u"unchanged");

  // A missing base is made first.
  ASSERT_HR(CreateUniqueDirectory(dir.wide("a/b/c"), u"KVA%05u", 3, &path), S_OK);
  EXPECT_EQ(path, dir.wide("a/b/c/KVA00001/"));
}

TEST(WorkingAreaTest, RunsStartedTogetherNeverShareADirectory) {
  testing::ScopedTempDir dir;
  std::atomic<int> created = 0;
  {
    std::vector<std::jthread> runs;
    for (int r = 0; r < 4; ++r) {
      runs.emplace_back([&] {
        for (int i = 0; i < 25; ++i) {
          std::u16string path;
          if (SUCCEEDED(CreateUniqueDirectory(dir.wide(), u"KVA%05u", 1000, &path))) ++created;
        }
      });
    }
  }
  // Two runs given the same number would show as fewer directories than successes.
  EXPECT_EQ(created, 100);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 100);
}

}  // namespace
}  // namespace orvex
