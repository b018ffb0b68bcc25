#include <gtest/gtest.h>

#include "common/result.h"
#include "platform/file_handles.h"
#include "testing/temp_dir.h"

namespace orvex::platform {
namespace {

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
