#include "transforms/files/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_handles.h"
#include "platform/files.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;
using Entries = std::vector<std::string>;

void MakeReadOnly(const fs::path& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

#ifdef _WIN32
// The C++ library makes no symbolic links on Windows: trees there are built without them, and a
// freshly written file is marked for archiving.
constexpr bool kLinks = false;
constexpr std::uint32_t kWrittenFile = platform::FILE_ATTRIBUTE_ARCHIVE;
#else
constexpr bool kLinks = true;
constexpr std::uint32_t kWrittenFile = platform::FILE_ATTRIBUTE_NORMAL;
#endif

bool IsLink(const std::string& entry) { return entry.find(" -> ") != std::string::npos; }

// `entries` without links where no links are made.
Entries Portable(Entries entries) {
  if (!kLinks) std::erase_if(entries, IsLink);
  return entries;
}

// Every path below `root` in byte order: "dir/", "file=content" or "link -> target", so that a
// test states a whole tree in one line.
Entries Tree(const fs::path& root) {
  Entries entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = entry.path().lexically_relative(root).generic_string();
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

// Builds the tree that Tree would describe with `entries`.
void MakeTree(const fs::path& root, const Entries& entries) {
  for (const std::string& entry : Portable(entries)) {
    if (const auto arrow = entry.find(" -> "); arrow != std::string::npos) {
      fs::create_symlink(entry.substr(arrow + 4), root / entry.substr(0, arrow));
    } else if (const auto equals = entry.find('='); equals != std::string::npos) {
      WriteFile(root / entry.substr(0, equals), entry.substr(equals + 1));
    } else {
      fs::create_directories(root / entry);
    }
  }
}

// `before` with `added` and without `gone`, in Tree's order.
Entries Changed(Entries before, const Entries& added, const Entries& gone = {}) {
  std::erase_if(before, [&](const std::string& e) { return std::ranges::count(gone, e) != 0; });
  before.insert(before.end(), added.begin(), added.end());
  std::sort(before.begin(), before.end());
  return before;
}

TEST(FileSystemTest, ExistenceQueries) {
  testing::ScopedTempDir dir;
  MakeTree(dir.path(), {"file=x", "Dir/"});
  const struct {
    const char* name;
    bool exists;
    std::uint32_t attributes;
    HRESULT file_result, directory_result;
  } cases[] = {
      {"file", true, kWrittenFile, S_OK, S_FALSE},
      {"DIR/", true, platform::FILE_ATTRIBUTE_DIRECTORY, S_FALSE, S_OK},
      {"missing", false, platform::INVALID_FILE_ATTRIBUTES, S_OK, S_OK},
      {"file/below", false, platform::INVALID_FILE_ATTRIBUTES, S_OK, S_OK},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string path = dir.wide(c.name);
    bool exists = !c.exists;
    std::uint32_t attributes = 0;
    EXPECT_HR(FileExists(path, &exists, &attributes), c.file_result);
    EXPECT_EQ(exists, c.exists);
    EXPECT_EQ(attributes, c.attributes);
    EXPECT_HR(DirectoryExists(path, &exists), c.directory_result);
    // GetPathAttributes leaves the attribute word alone for a missing name.
    attributes = 0;
    EXPECT_HR(GetPathAttributes(path, &exists, &attributes), S_OK);
    EXPECT_EQ(attributes, c.exists ? c.attributes : 0u);
  }
  EXPECT_HR(GetPathAttributes(dir.wide("file"), nullptr), E_INVALIDARG);
  EXPECT_HR(FileExists(dir.wide("file"), nullptr), E_INVALIDARG);
}

TEST(FileSystemTest, CreateDirectoryPath) {
  const Entries before = {"AppData/", "file=x"};
  const struct {
    const char* path;
    HRESULT result;
    Entries tree;
  } cases[] = {
      {"a\\b\\c\\", S_OK, {"AppData/", "a/", "a/b/", "a/b/c/", "file=x"}},
      {"APPDATA/new", S_OK, {"AppData/", "AppData/new/", "file=x"}},
      {"appdata", S_OK, before},
      {"file/a/b", HResultFromWin32(ERROR_DIRECTORY), before},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    MakeTree(dir.path(), before);
    EXPECT_HR(CreateDirectoryPath(dir.wide(c.path)), c.result) << c.path;
    EXPECT_EQ(Tree(dir.path()), c.tree) << c.path;
  }
}

TEST(FileSystemTest, ForceDeleteFile) {
  testing::ScopedTempDir dir;
  MakeTree(dir.path(), {"ro=x", ".hidden=x", "sub/kept=x", "link -> sub"});
  MakeReadOnly(dir.path() / "ro");
  const struct {
    const char* name;
    HRESULT result;
  } cases[] = {
      {"ro", S_OK},      {".hidden", S_OK},
      {"missing", S_OK}, {"sub", HResultFromWin32(ERROR_ACCESS_DENIED)},
      {"link", S_OK},  // the link goes, its target stays
  };
  for (const auto& c : cases) {
    EXPECT_HR(ForceDeleteFile(dir.wide(c.name)), c.result) << c.name;
  }
  EXPECT_EQ(Tree(dir.path()), (Entries{"sub/", "sub/kept=x"}));
}

TEST(FileSystemTest, DeleteDirectoryTree) {
  const Entries before = {
      "file=f",     "t/",        "t/a.txt=a", "t/link -> ../target", "t/sub/", "t/sub/.hidden=h",
      "t/sub/ro=r", "t/z.txt=z", "target/",   "target/kept=k"};
  const struct {
    const char* path;
    bool delete_files, recursive;
    HRESULT result;
    Entries tree;
  } cases[] = {
      // Read-only files and directories go too; a link goes, not its target.
      {"T/", true, true, S_OK, {"file=f", "target/", "target/kept=k"}},
      {"missing", true, true, S_OK, before},
      {"file", true, true, HResultFromWin32(ERROR_DIRECTORY), before},
      // Without recursion the walk meets "sub" after "a.txt" and "link", fails to delete it as
      // a file and stops there.
      {"t", true, false, HResultFromWin32(ERROR_ACCESS_DENIED),
       Changed(before, {}, {"t/a.txt=a", "t/link -> ../target"})},
      // Recursion alone empties the subdirectories of their directories only.
      {"t", false, true, HResultFromWin32(ERROR_DIR_NOT_EMPTY), before},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    MakeTree(dir.path(), before);
    MakeReadOnly(dir.path() / "t" / "sub" / "ro");
    MakeReadOnly(dir.path() / "t" / "sub");
    SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.delete_files) +
                 std::to_string(c.recursive));
    EXPECT_HR(DeleteDirectoryTree(dir.wide(c.path), c.delete_files, c.recursive), c.result);
    EXPECT_EQ(Tree(dir.path()), Portable(c.tree));
  }
  EXPECT_HR(DeleteDirectoryTree(u"", true, true), E_INVALIDARG);
}

TEST(FileSystemTest, CopyPath) {
  const Entries before = {
      "dest/",           "dest/a.txt=old a", "dest/keep.txt=keep", "file=new",           "src/",
      "src/a.txt=new a", "src/empty/",       "src/sub/",           "src/sub/b.txt=new b"};
  const struct {
    const char *source, *destination;
    bool overwrite;
    HRESULT result;
    Entries tree;
  } cases[] = {
      {"missing", "new", true, S_OK, before},
      {"file", "dest/a.txt", false, S_FALSE, before},
      {"file", "x/y/copy", false, S_OK, Changed(before, {"x/", "x/y/", "x/y/copy=new"})},
      {"file", "file/x", true, HResultFromWin32(ERROR_DIRECTORY), before},
      // A tree is merged: same names replaced, other files kept, empty directories made.
      {"src", "DEST", true, S_OK,
       Changed(before, {"dest/a.txt=new a", "dest/empty/", "dest/sub/", "dest/sub/b.txt=new b"},
               {"dest/a.txt=old a"})},
      // Without overwrite the first existing file ends the walk, before "empty" and "sub".
      {"src", "dest", false, S_FALSE, before},
      // A sibling whose name merely starts like the source is no copy into itself.
      {"src", "src2", true, S_OK,
       Changed(before,
               {"src2/", "src2/a.txt=new a", "src2/empty/", "src2/sub/", "src2/sub/b.txt=new b"})},
      {"src", "src", true, kCopyIntoItself, before},
      {"src", "SRC/sub/copy", true, kCopyIntoItself, before},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    MakeTree(dir.path(), before);
    SCOPED_TRACE(std::string(c.source) + " -> " + c.destination);
    EXPECT_HR(CopyPath(dir.wide(c.source), dir.wide(c.destination), c.overwrite), c.result);
    EXPECT_EQ(Tree(dir.path()), c.tree);
  }
}

TEST(FileSystemTest, MovePath) {
  const Entries before = {"d/", "d/in=i", "e/", "f=f", "g=g"};
  const struct {
    const char *source, *destination;
    bool replace;
    HRESULT result;
    Entries tree;
  } cases[] = {
      {"f", "g", false, S_FALSE, before},
      {"f", "G", true, S_OK, Changed(before, {"g=f"}, {"f=f", "g=g"})},
      {"D", "x/y/d", false, S_OK,
       Changed(before, {"x/", "x/y/", "x/y/d/", "x/y/d/in=i"}, {"d/", "d/in=i"})},
      {"missing", "m", true, HResultFromWin32(ERROR_FILE_NOT_FOUND), before},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    MakeTree(dir.path(), before);
    SCOPED_TRACE(std::string(c.source) + " -> " + c.destination);
    EXPECT_HR(MovePath(dir.wide(c.source), dir.wide(c.destination), c.replace, false), c.result);
    EXPECT_EQ(Tree(dir.path()), c.tree);
  }
}

}  // namespace
}  // namespace orvex
