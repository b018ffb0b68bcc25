// OrvexInspect through the built binary on the example: its rule file checks clean, and diff shows
// what migrating the example profile changes, the same bytes from either build, as preview's
// report does.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/testing/test_zip.h"
#include "testing/temp_dir.h"
#include "tool_runner.h"

namespace orvex::testing {
namespace {

TEST(InspectE2eTest, ChecksAndDiffsTheExample) {
  ScopedTempDir dir;
  const std::string source = ORVEX_SOURCE_DIR;
  const std::string make = "python3 '" + source + "/examples/make_profile.py' '" +
                           (dir.path() / "Profile.zip").string() + "'";
  ASSERT_EQ(std::system(make.c_str()), 0);
  WriteFile(dir.path() / "migration.xml", ReadFile(source + "/examples/migration.xml"));
  ASSERT_EQ(RunTool({"/INPUT", "Profile.zip", "/OUTPUT", "Migrated.zip", "/XML", "migration.xml"},
                    dir.path())
                .status,
            0);

  const ToolResult check = RunTool({"check", "migration.xml"}, dir.path(), {}, Tool::kInspect);
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.console, "");
  const ToolResult diff =
      RunTool({"diff", "Profile.zip", "Migrated.zip"}, dir.path(), {}, Tool::kInspect);
  EXPECT_EQ(diff.status, 1);
  // The summary, the tree and the first .reg file's move; the values are unit-tested.
  const std::string tree =
      "keys: 4 added, 1 removed, 2 changed, 3 moved\n"
      "values: 7 added, 2 removed, 2 changed, 1 moved\n"
      "files: 2 added, 3 removed, 0 changed, 2 moved\n"
      "\n"
      "- AppData/Larkspur/ (directory)\n"
      "+ AppData/Larkspur Labs/ (directory)\n"
      "+ AppData/Larkspur Labs/Quillmark/welcome.txt (84 bytes)\n"
      "> AppData/Larkspur/Notes/ -> AppData/Larkspur Labs/Quillmark/ (directory, 2 files)\n"
      "- AppData/Larkspur/Notes/cache/ (directory, 1 file)\n"
      "- Desktop/Old Notes.lnk (22 bytes)\n"
      "+ Personal/Quillmark/background.bmp (9270 bytes)\n"
      "- Personal/Quillmark/background.jpg (1041 bytes)\n"
      "~ Registry/Plugins.reg\n"
      "  > [HKEY_CURRENT_USER\\Software\\Larkspur\\Notes] -> "
      "[HKEY_CURRENT_USER\\Software\\Larkspur Labs\\Quillmark Notes] (1 key)\n";
  EXPECT_EQ(diff.console.substr(0, tree.size()), tree);

  // preview sees the files by the states they had, diff by their bytes: the same changes.
  ASSERT_EQ(RunTool({"diff", "--html", "diff.html", "Profile.zip", "Migrated.zip"}, dir.path(), {},
                    Tool::kInspect)
                .status,
            1);
  ASSERT_EQ(RunTool({"preview", "--html", "preview.html", "migration.xml", "Profile.zip"},
                    dir.path(), {}, Tool::kInspect)
                .status,
            0);
  const auto changes = [&](const char* page_name) {
    const std::string page = ReadFile(dir.path() / page_name);
    const std::size_t start = page.find("<details", page.find("<section class=\"profile\">"));
    if (start == std::string::npos) return page;
    return page.substr(start, page.find("</section>", start) - start);
  };
  EXPECT_EQ(changes("preview.html"), changes("diff.html"));
}

// preview over a folder takes what the migration would: a link to a profile is read through; a
// folder it cannot search and a name the migration cannot be given are failed profiles of the
// report, and the rest is previewed all the same.
TEST(InspectE2eTest, PreviewOverAFolderReportsWhatItCannotTake) {
  if (ToolIsWindows()) GTEST_SKIP() << "links, backslashes in names and over-long paths of Linux";
  ScopedTempDir dir;
  const std::filesystem::path profiles = dir.path() / "profiles";
  WriteTestZip(dir.path() / "real.zip", {{"Desktop/a.txt", TestEntry::kFile, "a"}});
  WriteFile(profiles / "good.zip", ReadFile(dir.path() / "real.zip"));
  WriteFile(profiles / "a\\b.zip", ReadFile(dir.path() / "real.zip"));
  std::filesystem::create_symlink("../real.zip", profiles / "link.zip");
  std::filesystem::create_symlink("..", profiles / "folder-link.zip");
  // A folder whose path is too long to search, as an unreadable one is to other users than root.
  std::string deep = "deep";
  for (int i = 0; i < 20; ++i) deep += "/" + std::string(250, 'd');
  ASSERT_EQ(std::system(("cd '" + profiles.string() + "' && mkdir -p " + deep).c_str()), 0);
  WriteFile(dir.path() / "rules.xml", "<m/>");
  const ToolResult result =
      RunTool({"preview", "rules.xml", "profiles"}, dir.path(), {}, Tool::kInspect);
  EXPECT_EQ(result.status, 1);
  std::string ok = ": exit code 0";
  for (const char* kind : {"keys", "values", "files", "folders"}) {
    ok += std::string("; ") + kind + ": 0 added, 0 removed, 0 changed, 0 moved";
  }
  ok += "\n";
  const std::string expected =
      "Rules of rules.xml:\nProfiles:\n"
      "  a\\b.zip: exit code 87, its name holds '\\', which OrvexMigrate reads as a separator: it "
      "cannot be migrated\n  deep/";
  EXPECT_EQ(result.console.substr(0, expected.size()), expected);
  const std::string rest = "/: exit code 206, cannot search the folder (error 206)\n  good.zip" +
                           ok + "  link.zip" + ok +
                           "Total: 4 profiles: 2 would succeed, 2 would fail, 0 would change; 0 "
                           "of 0 rules acted nowhere\n";
  EXPECT_TRUE(result.console.ends_with(rest)) << result.console;
}

}  // namespace
}  // namespace orvex::testing
