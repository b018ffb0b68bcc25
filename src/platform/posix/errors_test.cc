#include "platform/posix/errors.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "common/result.h"

namespace orvex::platform::posix {
namespace {

TEST(ErrorsTest, ErrnoBecomesWin32Number) {
  const struct {
    int error;
    std::uint32_t win32;
  } cases[] = {
      {0, 0},       {ENOENT, 2},      {EEXIST, 183}, {EACCES, 5}, {EPERM, 5},          {EISDIR, 5},
      {ENOTDIR, 3}, {ENOTEMPTY, 145}, {ENOSPC, 112}, {EROFS, 19}, {ENAMETOOLONG, 206}, {EXDEV, 17},
      {EIO, 1117},  {ELOOP, 31},      {EMFILE, 31},
  };
  for (const auto& c : cases) EXPECT_EQ(Win32ErrorFromErrno(c.error), c.win32) << c.error;
}

}  // namespace
}  // namespace orvex::platform::posix
