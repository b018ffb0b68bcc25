// Linux only: attributes, deletion and file handles.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "common/result.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/posix/errors.h"
#include "platform/posix/file_info.h"
#include "platform/posix/name_cache.h"
#include "platform/posix/native_path.h"

namespace orvex::platform {
namespace {

using posix::AttributesOf;
using posix::Stat;

}  // namespace

std::uint32_t GetFileAttributesEx(std::u16string_view path, FileAttributeData* data) {
  std::string native;
  struct stat st;
  if (const std::uint32_t error = Stat(path, &native, &st)) return error;
  data->attributes = AttributesOf(native, st);
  data->size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
  data->last_write_time = st.st_mtim.tv_sec;
  return ERROR_SUCCESS;
}

std::uint32_t GetFileAttributes(std::u16string_view path, std::uint32_t* attributes) {
  FileAttributeData data;
  if (const std::uint32_t error = GetFileAttributesEx(path, &data)) return error;
  *attributes = data.attributes;
  return ERROR_SUCCESS;
}

std::uint32_t SetFileAttributes(std::u16string_view path, std::uint32_t attributes) {
  std::string native;
  struct stat st;
  if (const std::uint32_t error = Stat(path, &native, &st)) return error;
  if (S_ISLNK(st.st_mode)) return ERROR_SUCCESS;
  mode_t mode = st.st_mode & 07777;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  if (::chmod(native.c_str(), mode) != 0) return posix::Win32ErrorForPath(errno, native);
  return ERROR_SUCCESS;
}

std::uint32_t DeleteFile(std::u16string_view path) {
  std::string native;
  struct stat st;
  if (const std::uint32_t error = Stat(path, &native, &st)) return error;
  // Windows refuses to delete directories and read-only files here, whoever asks.
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  if ((AttributesOf(native, st) & FILE_ATTRIBUTE_READONLY) != 0) return ERROR_ACCESS_DENIED;
  if (::unlink(native.c_str()) != 0) return posix::Win32ErrorForPath(errno, native);
  posix::NoteNameRemoved(native);
  return ERROR_SUCCESS;
}

std::uint32_t GetFileState(std::u16string_view path, FileState* state) {
  std::string native;
  if (const std::uint32_t error = posix::ToNativePath(path, &native)) return error;
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return posix::Win32ErrorForPath(errno, native);
  const auto ticks = [](const struct timespec& time) {
    return std::int64_t{time.tv_sec} * 10'000'000 + time.tv_nsec / 100;
  };
  state->identity = {.volume = st.st_dev, .index = st.st_ino};
  state->size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
  state->last_write_time = ticks(st.st_mtim);
  state->change_time = ticks(st.st_ctim);
  return ERROR_SUCCESS;
}

std::uint32_t GetFinalPathName(std::u16string_view path, std::u16string* final_path) {
  std::string native;
  if (const std::uint32_t error = posix::ToNativePath(path, &native)) return error;
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(native.c_str(), nullptr),
                                                         &std::free);
  if (real == nullptr) return posix::Win32ErrorForPath(errno, native);
  *final_path = ToUtf16(real.get());
  return ERROR_SUCCESS;
}

std::uint32_t CreateFile(std::u16string_view path, std::uint32_t access,
                         std::uint32_t disposition, FileHandle* file) {
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
  if (absent && (disposition == CREATE_NEW || disposition == CREATE_ALWAYS ||
                 disposition == OPEN_ALWAYS)) {
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
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default: return ERROR_INVALID_PARAMETER;
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

}  // namespace orvex::platform
