#include "regfile/reg_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

TEST(RegFilesTest, EntriesOfTheRegistryFolderOnly) {
  const auto is = [](std::vector<std::u16string> components, bool directory = false) {
    return IsRegFileEntry(components, directory);
  };
  EXPECT_TRUE(is({u"Registry", u"HKCU.reg"}));
  EXPECT_TRUE(is({u"rEGISTRY", u"a.REG"}));
  EXPECT_FALSE(is({u"Registry", u"a.reg"}, /*directory=*/true));
  EXPECT_FALSE(is({u"Registry", u".reg"}));
  EXPECT_FALSE(is({u"Registry", u"a.reg.txt"}));
  EXPECT_FALSE(is({u"Registry", u"sub", u"a.reg"}));
  EXPECT_FALSE(is({u"Registry"}));
  EXPECT_FALSE(is({u"AppData", u"a.reg"}));
}

TEST(RegFilesTest, ForEachRegFileVisitsTheFilesOfTheRegistryFolder) {
  testing::ScopedTempDir dir;
  std::vector<std::u16string> seen;
  const auto record = [&](const RegFile& file) {
    seen.push_back(std::u16string(file.folder_name) + u"|" + std::u16string(file.name) + u"|" +
                   std::u16string(file.path));
    return S_OK;
  };
  EXPECT_HR(S_OK, ForEachRegFile(dir.wide(), record));  // no registry folder
  EXPECT_TRUE(seen.empty());

  testing::WriteFile(dir.path() / "registry" / "a.reg", "x");
  testing::WriteFile(dir.path() / "registry" / "notes.txt", "x");
  fs::create_directory(dir.path() / "registry" / "sub.reg");
  EXPECT_HR(S_OK, ForEachRegFile(dir.wide(), record));
  EXPECT_EQ(seen, std::vector<std::u16string>{u"registry|a.reg|" + dir.wide("registry/a.reg")});

  testing::WriteFile(dir.path() / "registry" / "b.reg", "x");
  int visits = 0;
  EXPECT_HR(E_FAIL, ForEachRegFile(dir.wide(), [&](const RegFile&) {
              ++visits;
              return E_FAIL;
            }));
  EXPECT_EQ(visits, 1);
}

}  // namespace
}  // namespace orvex
