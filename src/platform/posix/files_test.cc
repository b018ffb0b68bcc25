#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "common/result.h"
#include "platform/platform.h"
#include "testing/temp_dir.h"

namespace orvex::platform {
namespace {

namespace fs = std::filesystem;

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

TEST(FilesTest, HandlesWriteAppendAndRead) {
  testing::ScopedTempDir dir;
  const std::u16string path = dir.wide("f.bin");
  FileHandle file;
  ASSERT_EQ(CreateFile(path, GENERIC_WRITE, CREATE_NEW, &file), ERROR_SUCCESS);
  std::uint32_t done = 0;
  ASSERT_EQ(WriteFile(file, "abc", 3, &done), ERROR_SUCCESS);
  EXPECT_EQ(done, 3u);
  CloseHandle(file);
  EXPECT_FALSE(file.valid());

  EXPECT_EQ(CreateFile(path, GENERIC_WRITE, CREATE_NEW, &file), ERROR_FILE_EXISTS);
  ASSERT_EQ(CreateFile(path, FILE_APPEND_DATA, OPEN_ALWAYS, &file), ERROR_SUCCESS);
  ASSERT_EQ(WriteFile(file, "de", 2, &done), ERROR_SUCCESS);
  file = FileHandle();

  ASSERT_EQ(CreateFile(path, GENERIC_READ, OPEN_EXISTING, &file), ERROR_SUCCESS);
  std::uint64_t size = 0;
  ASSERT_EQ(GetFileSize(file, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  char buffer[8] = {};
  ASSERT_EQ(ReadFile(file, buffer, sizeof buffer, &done), ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, done), "abcde");

  EXPECT_EQ(CreateFile(dir.wide("no/f"), GENERIC_READ, OPEN_EXISTING, &file), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(CreateFile(dir.wide(""), GENERIC_READ, OPEN_EXISTING, &file), ERROR_ACCESS_DENIED);

  // Opening a FIFO nobody writes to would wait forever; a device's reads may never end.
  ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(CreateFile(dir.wide("fifo"), GENERIC_READ, OPEN_EXISTING, &file), ERROR_OPEN_FAILED);
  EXPECT_EQ(CreateFile(dir.wide("fifo"), GENERIC_WRITE, CREATE_ALWAYS, &file), ERROR_OPEN_FAILED);
  EXPECT_EQ(CreateFile(u"/dev/zero", GENERIC_READ, OPEN_EXISTING, &file), ERROR_OPEN_FAILED);
}

}  // namespace
}  // namespace orvex::platform
