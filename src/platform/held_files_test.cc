// Files held by their makers: locks between handles, and what a later finder may take as left
// behind by a maker that is gone. The same on every platform.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/file_handles.h"
#include "platform/files.h"
#include "testing/temp_dir.h"

namespace orvex::platform {
namespace {

using testing::ScopedTempDir;

std::uint32_t Write(FileHandle& file, const char* text) {
  std::uint32_t written = 0;
  return WriteFile(file, text, static_cast<std::uint32_t>(std::char_traits<char>::length(text)),
                   &written);
}

TEST(HeldFilesTest, LocksKeepOtherLockersOutUntilClosed) {
  ScopedTempDir dir;
  FileHandle first, second;
  ASSERT_EQ(CreateFile(dir.wide("lock"), GENERIC_WRITE, CREATE_NEW, &first), 0u);
  ASSERT_EQ(CreateFile(dir.wide("lock"), GENERIC_READ, OPEN_EXISTING, &second), 0u);
  ASSERT_EQ(LockFileEx(first, LOCKFILE_EXCLUSIVE_LOCK), 0u);
  // The lock keeps no writer from the file's bytes.
  EXPECT_EQ(Write(first, "data"), 0u);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(LockFileWithin(second, 200), ERROR_LOCK_VIOLATION);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  CloseHandle(first);
  EXPECT_EQ(LockFileWithin(second, 200), 0u);
}

// Only a file whose maker wrote to it and then went is taken, and only while it bears its name.
TEST(HeldFilesTest, OnlyFilesLeftBehindAreTaken) {
  ScopedTempDir dir;
  const std::u16string path = dir.wide("mark");
  FileHandle maker, found;
  EXPECT_EQ(TakeAbandonedFile(path, &found), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(CreateHeldFile(path, &maker), 0u);
  EXPECT_EQ(CreateHeldFile(path, &found), ERROR_FILE_EXISTS);
  CloseHandle(maker);
  // Empty: its maker may be about to lock it.
  EXPECT_EQ(TakeAbandonedFile(path, &found), ERROR_LOCK_VIOLATION);
  ASSERT_EQ(DeleteFile(path), 0u);
  ASSERT_EQ(CreateHeldFile(path, &maker), 0u);
  ASSERT_EQ(Write(maker, "1"), 0u);
  EXPECT_EQ(TakeAbandonedFile(path, &found), ERROR_LOCK_VIOLATION);
  CloseHandle(maker);
  ASSERT_EQ(TakeAbandonedFile(path, &found), 0u);
  FileHandle again;
  EXPECT_EQ(TakeAbandonedFile(path, &again), ERROR_LOCK_VIOLATION) << "one finder takes it";
}

// A temporary file beside a target that its maker left is removed before a new one is made; one
// still held stays.
TEST(HeldFilesTest, FilesBesideATargetReplaceThoseLeftBehind) {
  ScopedTempDir dir;
  const std::u16string target = dir.wide("out.zip");
  FileHandle left, held, made;
  std::u16string name;
  ASSERT_EQ(CreateFileBeside(target, &left, &name), 0u);
  ASSERT_EQ(Write(left, "left"), 0u);
  CloseHandle(left);
  ASSERT_EQ(CreateHeldFile(target + u".2.tmp", &held), 0u);
  ASSERT_EQ(Write(held, "held"), 0u);
  ASSERT_EQ(CreateFileBeside(target, &made, &name), 0u);
  EXPECT_EQ(name, target + u".1.tmp");
  FileHandle taken;
  EXPECT_EQ(TakeAbandonedFile(target + u".2.tmp", &taken), ERROR_LOCK_VIOLATION);
  std::uint64_t size = 1;
  ASSERT_EQ(GetFileSize(made, &size), 0u);
  EXPECT_EQ(size, 0u) << "a new file, not the one left";
}

}  // namespace
}  // namespace orvex::platform
