// Linux only: attributes, identity and deletion of files, directories, copies and moves.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/result.h"
#include "platform/files.h"
#include "platform/posix/errors.h"
#include "platform/posix/file_info.h"
#include "platform/posix/name_cache.h"
#include "platform/posix/native_path.h"
#include "platform/text.h"

namespace orvex::platform {
namespace {

using posix::AttributesOf;
using posix::IsReadOnly;
using posix::Stat;

bool SameEntry(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Closes a descriptor on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, reporting what close says (a delayed write error shows up here).
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// Copies the bytes of one open file into another; the kernel copies in place where it can.
std::uint32_t CopyBytes(int from, int to) {
  bool in_kernel = true;
  std::vector<char> buffer;
  for (;;) {
    if (in_kernel) {
      const ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
      if (n == 0) return ERROR_SUCCESS;
      if (n > 0) continue;
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
          errno != EPERM) {
        return posix::Win32ErrorFromErrno(errno);
      }
      in_kernel = false;
      buffer.resize(64 * 1024);
    }
    const ssize_t n = ::read(from, buffer.data(), buffer.size());
    if (n == 0) return ERROR_SUCCESS;
    if (n < 0) {
      if (errno == EINTR) continue;
      return posix::Win32ErrorFromErrno(errno);
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(to, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return posix::Win32ErrorFromErrno(errno);
      }
      done += w;
    }
  }
}

// A regular file's bytes, permission bits and modification time into a new file (or over an
// existing one when `replace`). A partly written destination is removed, as Windows does.
std::uint32_t CopyRegularFile(const std::string& source, const struct stat& source_st,
                              const std::string& destination, bool replace) {
  Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (in.get() < 0) return posix::Win32ErrorForPath(errno, source);
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
  flags |= replace ? O_TRUNC : O_EXCL;
  Descriptor out(::open(destination.c_str(), flags, 0600));
  if (out.get() < 0) {
    if (errno == EEXIST) return ERROR_FILE_EXISTS;
    return posix::Win32ErrorForPath(errno, destination);
  }
  std::uint32_t error = CopyBytes(in.get(), out.get());
  // The read-only attribute travels with the copy, as on Windows.
  if (error == ERROR_SUCCESS && ::fchmod(out.get(), source_st.st_mode & 0777) != 0) {
    error = posix::Win32ErrorFromErrno(errno);
  }
  const timespec times[2] = {{0, UTIME_OMIT}, source_st.st_mtim};
  if (error == ERROR_SUCCESS && ::futimens(out.get(), times) != 0) {
    error = posix::Win32ErrorFromErrno(errno);
  }
  if (out.Close() != 0 && error == ERROR_SUCCESS) error = posix::Win32ErrorFromErrno(errno);
  if (error != ERROR_SUCCESS) {
    ::unlink(destination.c_str());
    posix::NoteNameRemoved(destination);
    return error;
  }
  posix::NoteNameAdded(destination);
  return ERROR_SUCCESS;
}

// A symbolic link is copied as the link itself, never as what it points to.
std::uint32_t CopyLink(const std::string& source, const struct stat& source_st,
                       const std::string& destination) {
  std::vector<char> target(static_cast<std::size_t>(source_st.st_size) + 1);
  const ssize_t length = ::readlink(source.c_str(), target.data(), target.size());
  if (length < 0) return posix::Win32ErrorForPath(errno, source);
  if (static_cast<std::size_t>(length) >= target.size()) return ERROR_GEN_FAILURE;  // it changed
  target[static_cast<std::size_t>(length)] = '\0';
  if (::symlink(target.data(), destination.c_str()) != 0) {
    if (errno == EEXIST) return ERROR_FILE_EXISTS;
    return posix::Win32ErrorForPath(errno, destination);
  }
  posix::NoteNameAdded(destination);
  const timespec times[2] = {{0, UTIME_OMIT}, source_st.st_mtim};
  ::utimensat(AT_FDCWD, destination.c_str(), times, AT_SYMLINK_NOFOLLOW);  // best effort
  return ERROR_SUCCESS;
}

// CopyFile on native paths, the source already examined.
std::uint32_t CopyNative(const std::string& source, const struct stat& source_st,
                         const std::string& destination, bool fail_if_exists) {
  // Windows refuses directories here; devices and pipes have no bytes to copy.
  if (!S_ISREG(source_st.st_mode) && !S_ISLNK(source_st.st_mode)) return ERROR_ACCESS_DENIED;
  struct stat st;
  bool replace = false;
  if (::lstat(destination.c_str(), &st) == 0) {
    if (fail_if_exists) return ERROR_FILE_EXISTS;
    if (SameEntry(st, source_st)) return ERROR_SHARING_VIOLATION;
    if (S_ISDIR(st.st_mode) || IsReadOnly(st)) return ERROR_ACCESS_DENIED;
    replace = true;
    // A link or another file type in the way is replaced itself, never written through.
    if (!S_ISREG(st.st_mode) || S_ISLNK(source_st.st_mode)) {
      if (::unlink(destination.c_str()) != 0) return posix::Win32ErrorForPath(errno, destination);
      posix::NoteNameRemoved(destination);
      replace = false;
    }
  }
  if (S_ISLNK(source_st.st_mode)) return CopyLink(source, source_st, destination);
  return CopyRegularFile(source, source_st, destination, replace);
}

// The final component of a path text as the kernel will see it.
std::string FinalComponent(std::u16string_view path) {
  while (!path.empty() && (path.back() == u'/' || path.back() == u'\\')) path.remove_suffix(1);
  const std::size_t separator = path.find_last_of(u"/\\");
  return ToUtf8(separator == std::u16string_view::npos ? path : path.substr(separator + 1));
}

// The destination of a rename that only changes the letter case of a name: letter-case matching
// found the source itself, so the name is taken as written.
std::string CaseRenameTarget(const std::string& native, std::u16string_view written) {
  const std::string_view trimmed = posix::WithoutFinalSlashes(native);
  const std::size_t slash = trimmed.find_last_of('/');
  const std::string parent(slash == std::string::npos ? "" : trimmed.substr(0, slash + 1));
  return parent + FinalComponent(written);
}

// rename(2) that refuses to replace an existing name unless `replace`; 0 or the errno value.
int Rename(const std::string& source, const std::string& destination, bool replace) {
  if (!replace) {
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) ==
        0) {
      return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system that cannot refuse in a rename: a hard link refuses a taken name as well, and
    // the source's name goes after. Only where neither works does the check the caller made just
    // before have to do.
    if (::link(source.c_str(), destination.c_str()) == 0) {
      return ::unlink(source.c_str()) == 0 ? 0 : errno;
    }
    if (errno == EEXIST) return EEXIST;
  }
  return ::rename(source.c_str(), destination.c_str()) == 0 ? 0 : errno;
}

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

namespace {

FileState StateOf(const struct stat& st) {
  const auto ticks = [](const struct timespec& time) {
    return std::int64_t{time.tv_sec} * 10'000'000 + time.tv_nsec / 100;
  };
  return {.identity = {.volume = st.st_dev, .index = st.st_ino},
          .size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size),
          .last_write_time = ticks(st.st_mtim),
          .change_time = ticks(st.st_ctim)};
}

}  // namespace

std::uint32_t GetFileState(std::u16string_view path, FileState* state) {
  std::string native;
  struct stat st;
  if (const std::uint32_t error = posix::Stat(path, &native, &st)) return error;
  if (S_ISLNK(st.st_mode) && ::stat(native.c_str(), &st) != 0) {
    return posix::Win32ErrorForPath(errno, native);
  }
  *state = StateOf(st);
  return ERROR_SUCCESS;
}

std::uint32_t GetFileState(const FileHandle& file, FileState* state) {
  struct stat st;
  if (::fstat(static_cast<int>(file.native()), &st) != 0) return posix::Win32ErrorFromErrno(errno);
  *state = StateOf(st);
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

std::uint32_t CreateDirectory(std::u16string_view path) {
  std::string native;
  if (const std::uint32_t error = posix::ToNativePath(path, &native)) return error;
  if (::mkdir(native.c_str(), 0777) != 0) {
    // A missing parent is the one reason for ENOENT here, and Windows calls it a missing path.
    if (errno == ENOENT || errno == ENOTDIR) return ERROR_PATH_NOT_FOUND;
    return posix::Win32ErrorFromErrno(errno);
  }
  posix::NoteNameAdded(native);
  return ERROR_SUCCESS;
}

std::uint32_t RemoveDirectory(std::u16string_view path) {
  std::string native;
  struct stat st;
  if (const std::uint32_t error = Stat(path, &native, &st)) return error;
  if (!S_ISDIR(st.st_mode)) return ERROR_DIRECTORY;
  if (IsReadOnly(st)) return ERROR_ACCESS_DENIED;
  posix::ForgetDirectory(st);
  if (::rmdir(native.c_str()) != 0) {
    return errno == EEXIST ? ERROR_DIR_NOT_EMPTY : posix::Win32ErrorForPath(errno, native);
  }
  posix::NoteNameRemoved(native);
  return ERROR_SUCCESS;
}

std::uint32_t CopyFile(std::u16string_view source, std::u16string_view destination,
                       bool fail_if_exists) {
  std::string source_native, destination_native;
  struct stat source_st;
  if (const std::uint32_t error = Stat(source, &source_native, &source_st)) return error;
  if (const std::uint32_t error = posix::ToNativePath(destination, &destination_native)) {
    return error;
  }
  return CopyNative(source_native, source_st, destination_native, fail_if_exists);
}

std::uint32_t CreateHardLink(std::u16string_view link, std::u16string_view existing) {
  std::string existing_native, link_native;
  struct stat st;
  if (const std::uint32_t error = Stat(existing, &existing_native, &st)) return error;
  if (const std::uint32_t error = posix::ToNativePath(link, &link_native)) return error;
  if (::link(existing_native.c_str(), link_native.c_str()) != 0) {
    return errno == EEXIST ? ERROR_ALREADY_EXISTS : posix::Win32ErrorForPath(errno, link_native);
  }
  posix::NoteNameAdded(link_native);
  return ERROR_SUCCESS;
}

std::uint32_t MoveFileEx(std::u16string_view source, std::u16string_view destination,
                         std::uint32_t flags) {
  const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
  std::string source_native, destination_native;
  struct stat source_st;
  if (const std::uint32_t error = Stat(source, &source_native, &source_st)) return error;
  if (const std::uint32_t error = posix::ToNativePath(destination, &destination_native)) {
    return error;
  }
  source_native.resize(posix::WithoutFinalSlashes(source_native).size());
  destination_native.resize(posix::WithoutFinalSlashes(destination_native).size());

  struct stat st;
  const bool exists = ::lstat(destination_native.c_str(), &st) == 0;
  if (exists && destination_native == source_native) {
    // Letter-case matching led back to the source: rename it to the case written, if different.
    destination_native = CaseRenameTarget(destination_native, destination);
    if (destination_native == source_native) return ERROR_SUCCESS;
  } else if (exists) {
    if (!replace) return ERROR_ALREADY_EXISTS;
    // Windows replaces only a file, and never a read-only one or with a directory.
    if (S_ISDIR(st.st_mode) || S_ISDIR(source_st.st_mode) || IsReadOnly(st)) {
      return ERROR_ACCESS_DENIED;
    }
  }

  const int error = Rename(source_native, destination_native, replace);
  if (error == 0) {
    posix::NoteNameRemoved(source_native);
    posix::NoteNameAdded(destination_native);
    return ERROR_SUCCESS;
  }
  switch (error) {
    case EXDEV: {
      // Another device: a file may be copied and its source deleted; a directory never moves.
      if ((flags & MOVEFILE_COPY_ALLOWED) == 0 || S_ISDIR(source_st.st_mode)) {
        return ERROR_NOT_SAME_DEVICE;
      }
      if (const std::uint32_t copy_error =
              CopyNative(source_native, source_st, destination_native, !replace)) {
        return copy_error == ERROR_FILE_EXISTS ? ERROR_ALREADY_EXISTS : copy_error;
      }
      if (::unlink(source_native.c_str()) != 0) {
        return posix::Win32ErrorForPath(errno, source_native);
      }
      posix::NoteNameRemoved(source_native);
      return ERROR_SUCCESS;
    }
    case EEXIST:
    case ENOTEMPTY:
      return replace ? ERROR_ACCESS_DENIED : ERROR_ALREADY_EXISTS;
    case EINVAL:  // a directory into its own subtree
      return ERROR_SHARING_VIOLATION;
    case ENOTDIR:
    case ENOENT:
      return posix::Win32ErrorForPath(ENOENT, destination_native);
    default:
      return posix::Win32ErrorFromErrno(error);
  }
}

NameCacheScope::NameCacheScope() { posix::EnterNameCacheScope(); }

NameCacheScope::~NameCacheScope() { posix::LeaveNameCacheScope(); }

}  // namespace orvex::platform
