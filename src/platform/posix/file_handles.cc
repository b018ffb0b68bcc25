// Linux only: open files, mapped views, positions and modification times.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "common/result.h"
#include "platform/file_handles.h"
#include "platform/posix/errors.h"
#include "platform/posix/name_cache.h"
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

std::uint32_t CreateFile(std::u16string_view path, std::uint32_t access, std::uint32_t disposition,
                         FileHandle* file) {
  std::string native;
  bool absent = false;
  if (const std::uint32_t error = posix::ToNativePath(path, &native, &absent)) return error;
  const bool reads = (access & GENERIC_READ) != 0;
  const bool writes = (access & (GENERIC_WRITE | FILE_APPEND_DATA)) != 0;
  int flags = O_CLOEXEC | O_NOFOLLOW;
  flags |= reads && writes ? O_RDWR : (writes ? O_WRONLY : O_RDONLY);
  if ((access & FILE_APPEND_DATA) != 0) flags |= O_APPEND;
  // A name that was just found free is taken by a new regular file, or by nothing: that needs
  // none of the checks below. Should the name have been taken meanwhile, they apply after all.
  if (absent &&
      (disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)) {
    const int fd = ::open(native.c_str(), flags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
      posix::NoteNameAdded(native);
      *file = FileHandle(fd);
      return ERROR_SUCCESS;
    }
    if (errno != EEXIST) return posix::Win32ErrorForPath(errno, native);
  }
  // Never wait in open(2) for the other end of a FIFO or for a device.
  flags |= O_NONBLOCK;
  switch (disposition) {
    case CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      flags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      flags |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      flags |= O_TRUNC;
      break;
    default:
      return ERROR_INVALID_PARAMETER;
  }
  struct stat st;
  const bool existed = ::lstat(native.c_str(), &st) == 0;
  // A new file is refused for any name that is taken, a directory's too.
  if (existed && disposition == CREATE_NEW) return ERROR_FILE_EXISTS;
  if (existed && S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  // A FIFO, a device or a socket has no end to read to: only regular files are opened.
  if (existed && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return ERROR_OPEN_FAILED;
  // A read-only file cannot be opened for writing, even by a privileged user.
  if (existed && writes && (st.st_mode & S_IWUSR) == 0 && !S_ISLNK(st.st_mode)) {
    return ERROR_ACCESS_DENIED;
  }
  const int fd = ::open(native.c_str(), flags, 0666);
  if (fd < 0) {
    if (errno == EEXIST) return ERROR_FILE_EXISTS;
    return posix::Win32ErrorForPath(errno, native);
  }
  // The name may have changed hands since it was looked at.
  struct stat opened;
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return ERROR_OPEN_FAILED;
  }
  if (!existed) posix::NoteNameAdded(native);
  *file = FileHandle(fd);
  return ERROR_SUCCESS;
}

std::uint32_t ReadFile(FileHandle& file, void* buffer, std::uint32_t size, std::uint32_t* read) {
  *read = 0;
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(file.native()), buffer, size);
    if (n >= 0) {
      *read = static_cast<std::uint32_t>(n);
      return ERROR_SUCCESS;
    }
    if (errno != EINTR) return posix::Win32ErrorFromErrno(errno);
  }
}

std::uint32_t WriteFile(FileHandle& file, const void* buffer, std::uint32_t size,
                        std::uint32_t* written) {
  *written = 0;
  const char* bytes = static_cast<const char*>(buffer);
  while (*written < size) {
    const ssize_t n = ::write(static_cast<int>(file.native()), bytes + *written, size - *written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return posix::Win32ErrorFromErrno(errno);
    }
    *written += static_cast<std::uint32_t>(n);
  }
  return ERROR_SUCCESS;
}

std::uint32_t FlushFileBuffers(FileHandle& file) {
  if (::fsync(static_cast<int>(file.native())) != 0) return posix::Win32ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

std::uint32_t GetFileSize(FileHandle& file, std::uint64_t* size) {
  struct stat st;
  if (::fstat(static_cast<int>(file.native()), &st) != 0) return posix::Win32ErrorFromErrno(errno);
  *size = static_cast<std::uint64_t>(st.st_size);
  return ERROR_SUCCESS;
}

void CloseHandle(FileHandle& file) {
  if (file.valid()) ::close(static_cast<int>(file.release()));
}

std::uint32_t MapViewOfFile(FileHandle& file, FileView* view) {
  UnmapViewOfFile(*view);
  std::uint64_t size = 0;
  if (const std::uint32_t error = GetFileSize(file, &size)) return error;
  if (size == 0) return ERROR_SUCCESS;  // nothing to map, and mmap refuses a length of 0
  if (size > SIZE_MAX) return ERROR_NOT_ENOUGH_MEMORY;
  void* const data = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE,
                            static_cast<int>(file.native()), 0);
  if (data == MAP_FAILED) return posix::Win32ErrorFromErrno(errno);
  view->data_ = static_cast<const std::uint8_t*>(data);
  view->size_ = static_cast<std::size_t>(size);
  view->released_ = 0;
  return ERROR_SUCCESS;
}

void ReleaseViewPages(FileView& view, std::size_t end) {
  static const auto kPageBytes = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  end = std::min(end, view.size_) / kPageBytes * kPageBytes;
  if (end <= view.released_) return;
  // The mapping is private and never written, so its pages come back from the file if needed.
  (void)::madvise(const_cast<std::uint8_t*>(view.data_) + view.released_, end - view.released_,
                  MADV_DONTNEED);
  view.released_ = end;
}

void UnmapViewOfFile(FileView& view) {
  if (view.data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(view.data_), view.size_);
  view.data_ = nullptr;
  view.size_ = 0;
}

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

std::uint32_t SetEndOfFile(FileHandle& file) {
  const int descriptor = static_cast<int>(file.native());
  const off_t position = ::lseek(descriptor, 0, SEEK_CUR);
  if (position < 0 || ::ftruncate(descriptor, position) != 0) {
    return posix::Win32ErrorFromErrno(errno);
  }
  return ERROR_SUCCESS;
}

std::uint32_t LockFileEx(FileHandle& file, std::uint32_t flags) {
  // flock(2) locks the open file itself, as LockFileEx does: another open of the same file is
  // another locker, in this process too.
  int operation = (flags & LOCKFILE_EXCLUSIVE_LOCK) != 0 ? LOCK_EX : LOCK_SH;
  if ((flags & LOCKFILE_FAIL_IMMEDIATELY) != 0) operation |= LOCK_NB;
  while (::flock(static_cast<int>(file.native()), operation) != 0) {
    if (errno == EWOULDBLOCK) return ERROR_LOCK_VIOLATION;
    if (errno != EINTR) return posix::Win32ErrorFromErrno(errno);
  }
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

}  // namespace orvex::platform
