// Windows only: what this layer does on its own rather than pass through.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/windows_api.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex::platform {
namespace {

TEST(Win32LayerTest, RedirectedConsoleTextIsUtf8) {
  testing::ScopedTempDir dir;
  const std::u16string path = dir.wide("console.txt");
  FileHandle file;
  ASSERT_EQ(CreateFile(path, GENERIC_WRITE, CREATE_ALWAYS, &file), ERROR_SUCCESS);
  const HANDLE saved = ::GetStdHandle(STD_OUTPUT_HANDLE);
  ::SetStdHandle(STD_OUTPUT_HANDLE, win32::NativeHandle(file));
  WriteConsole(u"Grüße\n");
  ::SetStdHandle(STD_OUTPUT_HANDLE, saved);
  CloseHandle(file);
  EXPECT_EQ(testing::ReadFile(dir.path() / "console.txt"),
            "Gr\xC3\xBC\xC3\x9F"
            "e\n");
}

TEST(Win32LayerTest, PathsAsWindowsGivesThem) {
  std::u16string temp;
  ASSERT_EQ(GetTempPath(&temp), ERROR_SUCCESS);
  EXPECT_EQ(temp.back(), u'\\');

  // A path beyond 259 characters, in its long-path form.
  testing::ScopedTempDir dir;
  const std::u16string folder = u"\\\\?\\" + dir.wide() + u"\\" + std::u16string(150, u'd');
  const std::u16string long_path = folder + u"\\" + std::u16string(150, u'f');
  ASSERT_EQ(CreateDirectory(folder), ERROR_SUCCESS);
  FileHandle file;
  EXPECT_EQ(CreateFile(long_path, GENERIC_WRITE, CREATE_NEW, &file), ERROR_SUCCESS);
  CloseHandle(file);
  FileAttributeData data;
  EXPECT_EQ(GetFileAttributesEx(long_path, &data), ERROR_SUCCESS);
  EXPECT_EQ(DeleteFile(long_path), ERROR_SUCCESS);
  EXPECT_EQ(RemoveDirectory(folder), ERROR_SUCCESS);

  std::u16string full;
  std::size_t file_part = 0;
  ASSERT_EQ(GetFullPathName(u"C:\\a\\.\\b\\..\\c.txt", &full, &file_part), ERROR_SUCCESS);
  EXPECT_EQ(full, u"C:\\a\\c.txt");
  EXPECT_EQ(file_part, 5u);
  ASSERT_EQ(GetFullPathName(u"C:\\a\\", &full, &file_part), ERROR_SUCCESS);
  EXPECT_EQ(file_part, full.size());
}

}  // namespace
}  // namespace orvex::platform
