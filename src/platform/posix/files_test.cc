#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "common/result.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/text.h"
#include "testing/temp_dir.h"

namespace orvex::platform {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

void MakeReadOnly(const fs::path& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

// Names in a directory, in byte order, so tests can see the exact letter case on disk.
std::vector<std::string> Names(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(FilesTest, Attributes) {
  testing::ScopedTempDir dir;
  testing::WriteFile(dir.path() / "plain", "x");
  testing::WriteFile(dir.path() / ".hidden", "x");
  testing::WriteFile(dir.path() / "locked", "x");
  fs::permissions(dir.path() / "locked", fs::perms::owner_write, fs::perm_options::remove);
  fs::create_directory(dir.path() / "sub");
  fs::create_symlink(dir.path() / "sub", dir.path() / "link");

  const struct {
    const char* name;
    std::uint32_t error, attributes;
  } cases[] = {
      {"plain", 0, FILE_ATTRIBUTE_NORMAL},
      {".hidden", 0, FILE_ATTRIBUTE_HIDDEN},
      {"locked", 0, FILE_ATTRIBUTE_READONLY},
      {"sub", 0, FILE_ATTRIBUTE_DIRECTORY},
      {"sub/", 0, FILE_ATTRIBUTE_DIRECTORY},
      {"link", 0, FILE_ATTRIBUTE_NORMAL},  // the link itself, not its target
      {"missing", ERROR_FILE_NOT_FOUND, 0},
      {"missing/x", ERROR_PATH_NOT_FOUND, 0},
  };
  for (const auto& c : cases) {
    std::uint32_t attributes = 0;
    EXPECT_EQ(GetFileAttributes(dir.wide(c.name), &attributes), c.error) << c.name;
    if (c.error == 0) {
      EXPECT_EQ(attributes, c.attributes) << c.name;
    }
  }

  ASSERT_EQ(SetFileAttributes(dir.wide("locked"), FILE_ATTRIBUTE_NORMAL), ERROR_SUCCESS);
  std::uint32_t attributes = 0;
  ASSERT_EQ(GetFileAttributes(dir.wide("locked"), &attributes), ERROR_SUCCESS);
  EXPECT_EQ(attributes, FILE_ATTRIBUTE_NORMAL);
}

TEST(FilesTest, DeleteFileRefusesDirectoriesAndReadOnlyFiles) {
  testing::ScopedTempDir dir;
  testing::WriteFile(dir.path() / "locked", "x");
  fs::permissions(dir.path() / "locked", fs::perms::owner_write, fs::perm_options::remove);
  fs::create_directory(dir.path() / "sub");
  fs::create_symlink(dir.path() / "sub", dir.path() / "link");

  EXPECT_EQ(DeleteFile(dir.wide("sub")), ERROR_ACCESS_DENIED);
  EXPECT_EQ(DeleteFile(dir.wide("locked")), ERROR_ACCESS_DENIED);
  EXPECT_EQ(DeleteFile(dir.wide("missing")), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DeleteFile(dir.wide("LINK")), ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path() / "link")));
  EXPECT_TRUE(fs::is_directory(dir.path() / "sub"));
}

TEST(DirectoriesTest, CreateAndRemoveDirectory) {
  testing::ScopedTempDir dir;
  WriteFile(dir.path() / "file", "x");
  WriteFile(dir.path() / "full" / "f", "x");
  fs::create_directory(dir.path() / "AppData");
  fs::create_directory(dir.path() / "empty");
  fs::create_directory(dir.path() / "locked");
  MakeReadOnly(dir.path() / "locked");
  fs::create_symlink(dir.path() / "AppData", dir.path() / "link");

  const struct {
    const char* name;
    std::uint32_t error;
  } creates[] = {
      {"new", ERROR_SUCCESS},
      {"new", ERROR_ALREADY_EXISTS},
      {"APPDATA", ERROR_ALREADY_EXISTS},  // the existing name in another case
      {"file", ERROR_ALREADY_EXISTS},
      {"appdata/Sub/", ERROR_SUCCESS},
      {"missing/x", ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : creates) {
    EXPECT_EQ(CreateDirectory(dir.wide(c.name)), c.error) << c.name;
  }
  EXPECT_TRUE(fs::is_directory(dir.path() / "AppData" / "Sub"));

  const struct {
    const char* name;
    std::uint32_t error;
  } removes[] = {
      {"missing", ERROR_FILE_NOT_FOUND},
      {"missing/x", ERROR_PATH_NOT_FOUND},
      {"file", ERROR_DIRECTORY},
      {"link", ERROR_DIRECTORY},  // a link is never taken for its target
      {"full", ERROR_DIR_NOT_EMPTY},
      {"locked", ERROR_ACCESS_DENIED},
      {"EMPTY", ERROR_SUCCESS},
  };
  for (const auto& c : removes) {
    EXPECT_EQ(RemoveDirectory(dir.wide(c.name)), c.error) << c.name;
  }
  EXPECT_EQ(Names(dir.path()),
            (std::vector<std::string>{"AppData", "file", "full", "link", "locked", "new"}));
  EXPECT_TRUE(fs::exists(dir.path() / "AppData" / "Sub"));
}

TEST(DirectoriesTest, CopyFileKeepsBytesTimeAndReadOnly) {
  testing::ScopedTempDir dir;
  std::string big(300 * 1024, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  WriteFile(dir.path() / "big.bin", big);
  WriteFile(dir.path() / "ro.txt", "ro");
  MakeReadOnly(dir.path() / "ro.txt");
  const auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(50);
  fs::last_write_time(dir.path() / "big.bin", stamp);

  ASSERT_EQ(CopyFile(dir.wide("big.bin"), dir.wide("copy.bin"), true), ERROR_SUCCESS);
  EXPECT_EQ(ReadFile(dir.path() / "copy.bin"), big);
  EXPECT_EQ(fs::last_write_time(dir.path() / "copy.bin"), stamp);

  ASSERT_EQ(CopyFile(dir.wide("ro.txt"), dir.wide("ro-copy.txt"), true), ERROR_SUCCESS);
  std::uint32_t attributes = 0;
  ASSERT_EQ(GetFileAttributes(dir.wide("ro-copy.txt"), &attributes), ERROR_SUCCESS);
  EXPECT_EQ(attributes, FILE_ATTRIBUTE_READONLY);
}

TEST(DirectoriesTest, CopyFileResults) {
  const struct {
    const char* source;
    const char* destination;
    bool fail_if_exists;
    std::uint32_t error;
    const char* stored;   // the name the destination has on disk, if it is to be checked
    const char* content;  // its content afterwards
  } cases[] = {
      {"src.txt", "new.txt", true, ERROR_SUCCESS, "new.txt", "source"},
      {"src.txt", "DST.TXT", false, ERROR_SUCCESS, "dst.txt", "source"},
      {"src.txt", "ro.txt", true, ERROR_FILE_EXISTS, "ro.txt", "old"},
      {"src.txt", "sub", false, ERROR_ACCESS_DENIED, nullptr, nullptr},
      {"src.txt", "Src.txt", false, ERROR_SHARING_VIOLATION, nullptr, nullptr},
      {"sub", "new", false, ERROR_ACCESS_DENIED, nullptr, nullptr},
      {"nodir/missing", "new", false, ERROR_PATH_NOT_FOUND, nullptr, nullptr},
      {"src.txt", "nodir/new", false, ERROR_PATH_NOT_FOUND, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    WriteFile(dir.path() / "src.txt", "source");
    WriteFile(dir.path() / "dst.txt", "old");
    WriteFile(dir.path() / "ro.txt", "old");
    MakeReadOnly(dir.path() / "ro.txt");
    fs::create_directory(dir.path() / "sub");
    const std::string label = std::string(c.source) + " -> " + c.destination;

    EXPECT_EQ(CopyFile(dir.wide(c.source), dir.wide(c.destination), c.fail_if_exists), c.error)
        << label;
    EXPECT_EQ(ReadFile(dir.path() / "src.txt"), "source") << label;
    if (c.stored != nullptr) {
      EXPECT_EQ(ReadFile(dir.path() / c.stored), c.content) << label;
    }
    // No file appears under another letter case beside the one that was meant.
    const bool adds_name = c.error == 0 && std::string(c.destination) == "new.txt";
    EXPECT_EQ(Names(dir.path()).size(), adds_name ? 5u : 4u) << label;
  }
}

TEST(DirectoriesTest, CopyFileCopiesLinksAsLinks) {
  testing::ScopedTempDir dir;
  WriteFile(dir.path() / "target", "target");
  WriteFile(dir.path() / "other", "other");
  fs::create_symlink("target", dir.path() / "link");

  ASSERT_EQ(CopyFile(dir.wide("link"), dir.wide("copy"), true), ERROR_SUCCESS);
  EXPECT_TRUE(fs::is_symlink(dir.path() / "copy"));
  EXPECT_EQ(fs::read_symlink(dir.path() / "copy"), "target");

  // Copying over a link replaces the link and leaves what it pointed to alone.
  ASSERT_EQ(CopyFile(dir.wide("other"), dir.wide("link"), false), ERROR_SUCCESS);
  EXPECT_FALSE(fs::is_symlink(dir.path() / "link"));
  EXPECT_EQ(ReadFile(dir.path() / "link"), "other");
  EXPECT_EQ(ReadFile(dir.path() / "target"), "target");
}

TEST(DirectoriesTest, MoveFileExResults) {
  const struct {
    const char* source;
    const char* destination;
    std::uint32_t flags;
    std::uint32_t error;
    const char* stored;  // where the moved file is on disk afterwards
  } cases[] = {
      {"A.TXT", "SUB/moved.txt", 0, ERROR_SUCCESS, "sub/moved.txt"},
      {"a.txt", "B.TXT", MOVEFILE_REPLACE_EXISTING, ERROR_SUCCESS, "b.txt"},
      {"a.txt", "ro.txt", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED, nullptr},
      {"a.txt", "sub", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED, nullptr},
      {"sub", "other", 0, ERROR_ALREADY_EXISTS, nullptr},
      {"sub", "b.txt", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED, nullptr},
      {"sub", "sub/inner", 0, ERROR_SHARING_VIOLATION, nullptr},
      {"nodir/missing", "x", 0, ERROR_PATH_NOT_FOUND, nullptr},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    WriteFile(dir.path() / "a.txt", "a");
    WriteFile(dir.path() / "b.txt", "b");
    WriteFile(dir.path() / "ro.txt", "ro");
    MakeReadOnly(dir.path() / "ro.txt");
    WriteFile(dir.path() / "sub" / "inside", "i");
    WriteFile(dir.path() / "other" / "kept", "k");
    const std::string label = std::string(c.source) + " -> " + c.destination;

    const std::vector<std::string> before = Names(dir.path());
    EXPECT_EQ(MoveFileEx(dir.wide(c.source), dir.wide(c.destination), c.flags), c.error) << label;
    if (c.stored != nullptr) {
      EXPECT_FALSE(fs::exists(dir.path() / "a.txt")) << label;
      EXPECT_EQ(ReadFile(dir.path() / c.stored), "a") << label;
    } else {
      EXPECT_EQ(Names(dir.path()), before) << label;
      EXPECT_EQ(ReadFile(dir.path() / "b.txt"), "b") << label;
    }
  }
}

TEST(DirectoriesTest, MoveFileExChangesLetterCaseOnly) {
  testing::ScopedTempDir dir;
  WriteFile(dir.path() / "Sub" / "name.txt", "x");
  ASSERT_EQ(MoveFileEx(dir.wide("sub/name.txt"), dir.wide("SUB/Name.TXT"), 0), ERROR_SUCCESS);
  EXPECT_EQ(Names(dir.path() / "Sub"), std::vector<std::string>{"Name.TXT"});
  ASSERT_EQ(MoveFileEx(dir.wide("Sub"), dir.wide("sub/"), 0), ERROR_SUCCESS);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"sub"});
  ASSERT_EQ(MoveFileEx(dir.wide("sub"), dir.wide("sub"), 0), ERROR_SUCCESS);
  EXPECT_EQ(ReadFile(dir.path() / "sub" / "Name.TXT"), "x");
}

TEST(DirectoriesTest, MoveFileExAcrossDevices) {
  const fs::path other_device = "/dev/shm";
  testing::ScopedTempDir dir;
  struct stat here, there;
  if (::stat(dir.path().c_str(), &here) != 0 || ::stat(other_device.c_str(), &there) != 0 ||
      here.st_dev == there.st_dev || ::access(other_device.c_str(), W_OK) != 0) {
    GTEST_SKIP() << "no second writable file system";
  }
  const fs::path target = other_device / dir.path().filename();
  fs::create_directory(target);
  WriteFile(dir.path() / "f.txt", "moved");
  fs::create_directory(dir.path() / "d");
  const std::u16string f = dir.wide("f.txt");
  const std::u16string to = ToUtf16((target / "f.txt").string());

  EXPECT_EQ(MoveFileEx(f, to, 0), ERROR_NOT_SAME_DEVICE);
  EXPECT_EQ(MoveFileEx(dir.wide("d"), ToUtf16((target / "d").string()), MOVEFILE_COPY_ALLOWED),
            ERROR_NOT_SAME_DEVICE);
  EXPECT_EQ(MoveFileEx(f, to, MOVEFILE_COPY_ALLOWED), ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(dir.path() / "f.txt"));
  EXPECT_EQ(ReadFile(target / "f.txt"), "moved");
  fs::remove_all(target);
}

TEST(DirectoriesTest, NameCacheFollowsOwnChanges) {
  testing::ScopedTempDir dir;
  WriteFile(dir.path() / "src", "s");
  const std::u16string src = dir.wide("src");
  NameCacheScope scope;
  ASSERT_EQ(CreateDirectory(dir.wide("Data")), ERROR_SUCCESS);
  ASSERT_EQ(CopyFile(src, dir.wide("data/One"), true), ERROR_SUCCESS);
  EXPECT_EQ(CopyFile(src, dir.wide("DATA/one"), true), ERROR_FILE_EXISTS);
  ASSERT_EQ(DeleteFile(dir.wide("data/ONE")), ERROR_SUCCESS);
  ASSERT_EQ(CopyFile(src, dir.wide("data/oNe"), true), ERROR_SUCCESS);
  ASSERT_EQ(MoveFileEx(dir.wide("data/one"), dir.wide("data/Two"), 0), ERROR_SUCCESS);
  ASSERT_EQ(CopyFile(src, dir.wide("data/ONE"), true), ERROR_SUCCESS);
  EXPECT_EQ(CopyFile(src, dir.wide("data/two"), true), ERROR_FILE_EXISTS);
  EXPECT_EQ(Names(dir.path() / "Data"), (std::vector<std::string>{"ONE", "Two"}));

  // A directory removed and made again starts empty, whatever inode it is given.
  ASSERT_EQ(DeleteFile(dir.wide("data/one")), ERROR_SUCCESS);
  ASSERT_EQ(DeleteFile(dir.wide("data/two")), ERROR_SUCCESS);
  ASSERT_EQ(RemoveDirectory(dir.wide("data")), ERROR_SUCCESS);
  ASSERT_EQ(CreateDirectory(dir.wide("data")), ERROR_SUCCESS);
  ASSERT_EQ(CopyFile(src, dir.wide("DATA/two"), true), ERROR_SUCCESS);
  EXPECT_EQ(Names(dir.path() / "data"), std::vector<std::string>{"two"});
}

}  // namespace
}  // namespace orvex::platform
