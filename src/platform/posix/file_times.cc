// Linux only: positions and modification times of files, and the thread's C-library character
// set.
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/result.h"
#include "platform/platform.h"
#include "platform/posix/errors.h"
#include "platform/posix/native_path.h"

namespace orvex::platform {
namespace {

void TimesFor(std::int64_t last_write_time, struct timespec times[2]) {
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time is not ours to change
  times[1].tv_sec = static_cast<time_t>(last_write_time);
  times[1].tv_nsec = 0;
}

}  // namespace

std::uint32_t SetFilePointerEx(FileHandle& file, std::int64_t distance, std::uint32_t move_method,
                               std::uint64_t* new_position) {
  int whence;
  switch (move_method) {
    case FILE_BEGIN:
      whence = SEEK_SET;
      break;
    case FILE_CURRENT:
      whence = SEEK_CUR;
      break;
    case FILE_END:
      whence = SEEK_END;
      break;
    default:
      return ERROR_INVALID_PARAMETER;
  }
  const off_t position = ::lseek(static_cast<int>(file.native()), distance, whence);
  // Windows answers a position before the start with ERROR_NEGATIVE_SEEK; EINVAL maps to 87.
  if (position < 0) return posix::Win32ErrorFromErrno(errno);
  if (new_position != nullptr) *new_position = static_cast<std::uint64_t>(position);
  return ERROR_SUCCESS;
}

std::uint32_t SetFileTime(FileHandle& file, std::int64_t last_write_time) {
  struct timespec times[2];
  TimesFor(last_write_time, times);
  if (::futimens(static_cast<int>(file.native()), times) != 0) {
    return posix::Win32ErrorFromErrno(errno);
  }
  return ERROR_SUCCESS;
}

std::uint32_t SetFileTime(std::u16string_view path, std::int64_t last_write_time) {
  std::string native;
  if (const std::uint32_t error = posix::ToNativePath(path, &native)) return error;
  struct timespec times[2];
  TimesFor(last_write_time, times);
  if (::utimensat(AT_FDCWD, native.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    return posix::Win32ErrorForPath(errno, native);
  }
  return ERROR_SUCCESS;
}

ScopedUtf8Locale::ScopedUtf8Locale() {
  locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (utf8 == static_cast<locale_t>(nullptr)) {
    utf8 = ::newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(nullptr));
  }
  if (utf8 == static_cast<locale_t>(nullptr)) return;
  locale_ = utf8;
  previous_ = ::uselocale(utf8);
}

ScopedUtf8Locale::~ScopedUtf8Locale() {
  if (locale_ == nullptr) return;
  ::uselocale(static_cast<locale_t>(previous_));
  ::freelocale(static_cast<locale_t>(locale_));
}

}  // namespace orvex::platform
