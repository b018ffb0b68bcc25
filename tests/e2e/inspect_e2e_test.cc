// OrvexInspect through the built binary on the example: its rule file checks clean, and diff shows
// what migrating the example profile changes, the same bytes from either build, as preview's
// report does.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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

}  // namespace
}  // namespace orvex::testing
