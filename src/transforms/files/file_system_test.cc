#include "transforms/files/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/platform.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;
using platform::FILE_ATTRIBUTE_DIRECTORY;
using platform::FILE_ATTRIBUTE_HIDDEN;
using platform::FILE_ATTRIBUTE_NORMAL;
using platform::FILE_ATTRIBUTE_READONLY;
using testing::ReadFile;
using testing::WriteFile;

void MakeReadOnly(const fs::path& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

// Every path below `root` (directories with a final '/') with each file's content, in byte
// order, so that a test states a whole tree in one line.
std::vector<std::string> Tree(const fs::path& root) {
  std::vector<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = entry.path().lexically_relative(root).string();
    if (entry.is_symlink()) {
      entries.push_back(relative + " -> " + fs::read_symlink(entry.path()).string());
    } else if (entry.is_directory()) {
      entries.push_back(relative + "/");
    } else {
      entries.push_back(relative + "=" + ReadFile(entry.path()));
    }
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

using Entries = std::vector<std::string>;

TEST(FileSystemTest, ExistenceQueries) {
  testing::ScopedTempDir dir;
  WriteFile(dir.path() / "file", "x");
  WriteFile(dir.path() / ".hidden", "x");
  WriteFile(dir.path() / "ro", "x");
  MakeReadOnly(dir.path() / "ro");
  fs::create_directory(dir.path() / "Dir");

  constexpr std::uint32_t kMissing = platform::INVALID_FILE_ATTRIBUTES;
  const struct {
    const char* name;
    bool exists;
    std::uint32_t attributes;
    HRESULT file_result, directory_result;
  } cases[] = {
      {"file", true, FILE_ATTRIBUTE_NORMAL, S_OK, S_FALSE},
      {".hidden", true, FILE_ATTRIBUTE_HIDDEN, S_OK, S_FALSE},
      {"ro", true, FILE_ATTRIBUTE_READONLY, S_OK, S_FALSE},
      {"dir", true, FILE_ATTRIBUTE_DIRECTORY, S_FALSE, S_OK},
      {"DIR/", true, FILE_ATTRIBUTE_DIRECTORY, S_FALSE, S_OK},
      {"missing", false, kMissing, S_OK, S_OK},
      {"missing/below", false, kMissing, S_OK, S_OK},
      {"file/below", false, kMissing, S_OK, S_OK},
  };
  for (const auto& c : cases) {
    const std::u16string path = dir.wide(c.name);
    bool exists = !c.exists;
    std::uint32_t attributes = 0;
    EXPECT_HR(FileExists(path, &exists, &attributes), c.file_result) << c.name;
    EXPECT_EQ(exists, c.exists) << c.name;
    EXPECT_EQ(attributes, c.attributes) << c.name;
    exists = !c.exists;
    attributes = 0;
    EXPECT_HR(DirectoryExists(path, &exists, &attributes), c.directory_result) << c.name;
    EXPECT_EQ(exists, c.exists) << c.name;
    EXPECT_EQ(attributes, c.attributes) << c.name;
    // GetPathAttributes leaves the attribute word alone for a missing name.
    attributes = 0;
    EXPECT_HR(GetPathAttributes(path, &exists, &attributes), S_OK) << c.name;
    EXPECT_EQ(attributes, c.exists ? c.attributes : 0u) << c.name;
  }
  EXPECT_HR(GetPathAttributes(dir.wide("file"), nullptr), E_INVALIDARG);
  EXPECT_HR(FileExists(dir.wide("file"), nullptr), E_INVALIDARG);
  EXPECT_HR(DirectoryExists(dir.wide("file"), nullptr), E_INVALIDARG);
}

TEST(FileSystemTest, CreateDirectoryPath) {
  const struct {
    const char* path;
    HRESULT result;
    Entries tree;
  } cases[] = {
      {"a/b/c", S_OK, {"AppData/", "a/", "a/b/", "a/b/c/", "file=x"}},
      {"a\\b\\c\\", S_OK, {"AppData/", "a/", "a/b/", "a/b/c/", "file=x"}},
      {"APPDATA/new", S_OK, {"AppData/", "AppData/new/", "file=x"}},
      {"appdata", S_OK, {"AppData/", "file=x"}},
      {"file", HResultFromWin32(ERROR_DIRECTORY), {"AppData/", "file=x"}},
      {"file/a/b", HResultFromWin32(ERROR_DIRECTORY), {"AppData/", "file=x"}},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    WriteFile(dir.path() / "file", "x");
    fs::create_directory(dir.path() / "AppData");
    EXPECT_HR(CreateDirectoryPath(dir.wide(c.path)), c.result) << c.path;
    EXPECT_EQ(Tree(dir.path()), c.tree) << c.path;
  }
}

TEST(FileSystemTest, ForceDeleteFile) {
  testing::ScopedTempDir dir;
  WriteFile(dir.path() / "ro", "x");
  MakeReadOnly(dir.path() / "ro");
  WriteFile(dir.path() / ".hidden", "x");
  WriteFile(dir.path() / "Plain.txt", "x");
  WriteFile(dir.path() / "sub" / "kept", "x");
  fs::create_symlink("sub", dir.path() / "link");

  const struct {
    const char* name;
    HRESULT result;
  } cases[] = {
      {"ro", S_OK},      {".hidden", S_OK},   {"plain.TXT", S_OK},
      {"missing", S_OK}, {"missing/x", S_OK}, {"sub", HResultFromWin32(ERROR_ACCESS_DENIED)},
      {"link", S_OK},  // the link goes, its target stays
  };
  for (const auto& c : cases) {
    EXPECT_HR(ForceDeleteFile(dir.wide(c.name)), c.result) << c.name;
  }
  EXPECT_EQ(Tree(dir.path()), (Entries{"sub/", "sub/kept=x"}));
}

TEST(FileSystemTest, DeleteDirectoryTree) {
  const auto make_tree = [](const fs::path& root) {
    WriteFile(root / "t" / "a.txt", "a");
    WriteFile(root / "t" / "sub" / ".hidden", "h");
    WriteFile(root / "t" / "sub" / "ro", "r");
    MakeReadOnly(root / "t" / "sub" / "ro");
    MakeReadOnly(root / "t" / "sub");
    WriteFile(root / "t" / "z.txt", "z");
    WriteFile(root / "target" / "kept", "k");
    fs::create_symlink("../target", root / "t" / "link");
    WriteFile(root / "file", "f");
  };
  const Entries untouched = {
      "file=f",     "t/",        "t/a.txt=a", "t/link -> ../target", "t/sub/", "t/sub/.hidden=h",
      "t/sub/ro=r", "t/z.txt=z", "target/",   "target/kept=k"};
  const struct {
    const char* path;
    bool delete_files, recursive;
    HRESULT result;
    Entries tree;
  } cases[] = {
      {"t", true, true, S_OK, {"file=f", "target/", "target/kept=k"}},
      {"T/", true, true, S_OK, {"file=f", "target/", "target/kept=k"}},
      {"missing", true, true, S_OK, untouched},
      {"file", true, true, HResultFromWin32(ERROR_DIRECTORY), untouched},
      {"t", false, false, HResultFromWin32(ERROR_DIR_NOT_EMPTY), untouched},
      // Without recursion the walk meets "sub" after "a.txt" and "link", fails to delete it as
      // a file and stops there.
      {"t",
       true,
       false,
       HResultFromWin32(ERROR_ACCESS_DENIED),
       {"file=f", "t/", "t/sub/", "t/sub/.hidden=h", "t/sub/ro=r", "t/z.txt=z", "target/",
        "target/kept=k"}},
      // Recursion alone empties the subdirectories of their directories only.
      {"t", false, true, HResultFromWin32(ERROR_DIR_NOT_EMPTY), untouched},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    make_tree(dir.path());
    EXPECT_HR(DeleteDirectoryTree(dir.wide(c.path), c.delete_files, c.recursive), c.result)
        << c.path << " " << c.delete_files << c.recursive;
    EXPECT_EQ(Tree(dir.path()), c.tree) << c.path << " " << c.delete_files << c.recursive;
  }
  EXPECT_HR(DeleteDirectoryTree(u"", true, true), E_INVALIDARG);

  testing::ScopedTempDir dir;
  WriteFile(dir.path() / "locked" / "f", "x");
  MakeReadOnly(dir.path() / "locked");
  EXPECT_HR(DeleteDirectoryTree(dir.wide("locked"), true, true), S_OK);
  EXPECT_FALSE(fs::exists(dir.path() / "locked"));
}

TEST(FileSystemTest, CopyPathOfFiles) {
  const struct {
    const char* source;
    const char* destination;
    bool overwrite;
    HRESULT result;
    Entries tree;
  } cases[] = {
      {"missing", "new", true, S_OK, {"dst=old", "ro=old", "src=new"}},
      {"src", "dst", false, S_FALSE, {"dst=old", "ro=old", "src=new"}},
      {"src", "DST", true, S_OK, {"dst=new", "ro=old", "src=new"}},
      {"src",
       "x/y/z/copy",
       false,
       S_OK,
       {"dst=old", "ro=old", "src=new", "x/", "x/y/", "x/y/z/", "x/y/z/copy=new"}},
      {"src", "ro", true, HResultFromWin32(ERROR_ACCESS_DENIED), {"dst=old", "ro=old", "src=new"}},
      {"src", "dst/x", true, HResultFromWin32(ERROR_DIRECTORY), {"dst=old", "ro=old", "src=new"}},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    WriteFile(dir.path() / "src", "new");
    WriteFile(dir.path() / "dst", "old");
    WriteFile(dir.path() / "ro", "old");
    MakeReadOnly(dir.path() / "ro");
    const std::string label = std::string(c.source) + " -> " + c.destination;
    EXPECT_HR(CopyPath(dir.wide(c.source), dir.wide(c.destination), c.overwrite), c.result)
        << label;
    EXPECT_EQ(Tree(dir.path()), c.tree) << label;
  }
}

TEST(FileSystemTest, CopyPathOfTrees) {
  const auto make_trees = [](const fs::path& root) {
    WriteFile(root / "src" / "a.txt", "new a");
    fs::create_directories(root / "src" / "empty");
    WriteFile(root / "src" / "sub" / "b.txt", "new b");
    WriteFile(root / "dest" / "a.txt", "old a");
    WriteFile(root / "dest" / "keep.txt", "keep");
  };
  const Entries source = {"src/", "src/a.txt=new a", "src/empty/", "src/sub/",
                          "src/sub/b.txt=new b"};
  const auto with_source = [&](Entries entries) {
    entries.insert(entries.end(), source.begin(), source.end());
    std::sort(entries.begin(), entries.end());
    return entries;
  };
  const struct {
    const char* destination;
    bool overwrite;
    HRESULT result;
    Entries tree;
  } cases[] = {
      // Merged: same names replaced, other files kept, empty directories made.
      {"DEST", true, S_OK,
       with_source({"dest/", "dest/a.txt=new a", "dest/empty/", "dest/keep.txt=keep", "dest/sub/",
                    "dest/sub/b.txt=new b"})},
      // Without overwrite the first existing file ends the walk, before "empty" and "sub".
      {"dest", false, S_FALSE, with_source({"dest/", "dest/a.txt=old a", "dest/keep.txt=keep"})},
      {"new/deeper/", false, S_OK,
       with_source({"dest/", "dest/a.txt=old a", "dest/keep.txt=keep", "new/", "new/deeper/",
                    "new/deeper/a.txt=new a", "new/deeper/empty/", "new/deeper/sub/",
                    "new/deeper/sub/b.txt=new b"})},
      // A sibling whose name merely starts like the source is no copy into itself.
      {"src2", true, S_OK,
       with_source({"dest/", "dest/a.txt=old a", "dest/keep.txt=keep", "src2/", "src2/a.txt=new a",
                    "src2/empty/", "src2/sub/", "src2/sub/b.txt=new b"})},
      {"src", true, kCopyIntoItself,
       with_source({"dest/", "dest/a.txt=old a", "dest/keep.txt=keep"})},
      {"SRC/sub/copy", true, kCopyIntoItself,
       with_source({"dest/", "dest/a.txt=old a", "dest/keep.txt=keep"})},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    make_trees(dir.path());
    EXPECT_HR(CopyPath(dir.wide("src"), dir.wide(c.destination), c.overwrite), c.result)
        << c.destination;
    EXPECT_EQ(Tree(dir.path()), c.tree) << c.destination;
  }
}

TEST(FileSystemTest, MovePath) {
  const struct {
    const char* source;
    const char* destination;
    bool replace;
    HRESULT result;
    Entries tree;
  } cases[] = {
      {"f", "g", false, S_FALSE, {"d/", "d/in=i", "e/", "f=f", "g=g"}},
      {"f", "G", true, S_OK, {"d/", "d/in=i", "e/", "g=f"}},
      {"f",
       "x/y/z/f",
       false,
       S_OK,
       {"d/", "d/in=i", "e/", "g=g", "x/", "x/y/", "x/y/z/", "x/y/z/f=f"}},
      {"D", "x/y/d", false, S_OK, {"e/", "f=f", "g=g", "x/", "x/y/", "x/y/d/", "x/y/d/in=i"}},
      {"d", "e", true, HResultFromWin32(ERROR_ACCESS_DENIED), {"d/", "d/in=i", "e/", "f=f", "g=g"}},
      {"d", "e", false, S_FALSE, {"d/", "d/in=i", "e/", "f=f", "g=g"}},
      {"missing",
       "m",
       true,
       HResultFromWin32(ERROR_FILE_NOT_FOUND),
       {"d/", "d/in=i", "e/", "f=f", "g=g"}},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    WriteFile(dir.path() / "f", "f");
    WriteFile(dir.path() / "g", "g");
    WriteFile(dir.path() / "d" / "in", "i");
    fs::create_directory(dir.path() / "e");
    const std::string label = std::string(c.source) + " -> " + c.destination;
    EXPECT_HR(MovePath(dir.wide(c.source), dir.wide(c.destination), c.replace, false), c.result)
        << label;
    EXPECT_EQ(Tree(dir.path()), c.tree) << label;
  }
}

}  // namespace
}  // namespace orvex
