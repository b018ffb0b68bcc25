#pragma once
// Open files: reading, writing, positions and times, and whole files mapped into memory.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/result.h"

namespace orvex::platform {

constexpr std::uint32_t GENERIC_READ = 0x80000000;
constexpr std::uint32_t GENERIC_WRITE = 0x40000000;
constexpr std::uint32_t FILE_APPEND_DATA = 0x4;  ///< every write goes to the end of the file

constexpr std::uint32_t CREATE_NEW = 1;
constexpr std::uint32_t CREATE_ALWAYS = 2;
constexpr std::uint32_t OPEN_EXISTING = 3;
constexpr std::uint32_t OPEN_ALWAYS = 4;
constexpr std::uint32_t TRUNCATE_EXISTING = 5;

/// An open file; closed when it goes away or by CloseHandle.
class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  /// Takes ownership of an operating-system handle (the platform implementation's business).
  explicit FileHandle(std::intptr_t native) : native_(native) {}
  bool valid() const { return native_ != -1; }
  std::intptr_t native() const { return native_; }
  /// Gives up ownership without closing.
  std::intptr_t release() {
    const std::intptr_t native = native_;
    native_ = -1;
    return native;
  }

 private:
  std::intptr_t native_ = -1;
};

/// CreateFileW with an access mask (GENERIC_READ, GENERIC_WRITE, FILE_APPEND_DATA) and a
/// creation disposition (CREATE_NEW ... TRUNCATE_EXISTING). Sharing modes do not exist here.
/// Only regular files are opened: a FIFO or a device (whose reads may never end) gives
/// ERROR_OPEN_FAILED, a directory ERROR_ACCESS_DENIED.
std::uint32_t CreateFile(std::u16string_view path, std::uint32_t access, std::uint32_t disposition,
                         FileHandle* file);
/// ReadFile: reads up to `size` bytes; `*read` is 0 at the end of the file.
std::uint32_t ReadFile(FileHandle& file, void* buffer, std::uint32_t size, std::uint32_t* read);
/// WriteFile: writes all `size` bytes or fails.
std::uint32_t WriteFile(FileHandle& file, const void* buffer, std::uint32_t size,
                        std::uint32_t* written);
std::uint32_t FlushFileBuffers(FileHandle& file);
std::uint32_t GetFileSize(FileHandle& file, std::uint64_t* size);
void CloseHandle(FileHandle& file);

/// The bytes of a whole file mapped read-only into memory; unmapped when it goes away or by
/// UnmapViewOfFile. Reading it takes the file's pages from the system's cache without copying
/// them. The file must keep its size while mapped: reading a part that has gone ends the process.
class FileView {
 public:
  FileView() = default;
  ~FileView();
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;

  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  friend std::uint32_t MapViewOfFile(FileHandle& file, FileView* view);
  friend void UnmapViewOfFile(FileView& view);
  friend void ReleaseViewPages(FileView& view, std::size_t end);

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t released_ = 0;  // the bytes before this are released
};

/// CreateFileMapping and MapViewOfFile of all of a file open for reading (an empty file gives an
/// empty view); any view already held is unmapped first.
std::uint32_t MapViewOfFile(FileHandle& file, FileView* view);
void UnmapViewOfFile(FileView& view);
/// Gives the pages of a view before `end` (whole pages only) back to the system, for a reader
/// that has passed them for good: they stay in the system's cache but no longer count as the
/// process's memory, so that reading a file from start to end holds little of it at any time.
/// Reading them again maps them again (Linux; Windows trims a working set by itself).
void ReleaseViewPages(FileView& view, std::size_t end);

constexpr std::uint32_t FILE_BEGIN = 0;
constexpr std::uint32_t FILE_CURRENT = 1;
constexpr std::uint32_t FILE_END = 2;

/// SetFilePointerEx: moves the position of an open file; `new_position` may be null.
std::uint32_t SetFilePointerEx(FileHandle& file, std::int64_t distance, std::uint32_t move_method,
                               std::uint64_t* new_position);
/// SetEndOfFile: the open file ends at its position; what lay beyond is cut off.
std::uint32_t SetEndOfFile(FileHandle& file);
constexpr std::uint32_t LOCKFILE_FAIL_IMMEDIATELY = 0x1;
constexpr std::uint32_t LOCKFILE_EXCLUSIVE_LOCK = 0x2;

/// LockFileEx: locks an open file against other lockers until it is closed (by whatever ends the
/// process too). The lock keeps no reader or writer out: it covers a byte no file reaches. With
/// LOCKFILE_EXCLUSIVE_LOCK against every other lock, else only against exclusive ones; waits for
/// a lock held elsewhere unless LOCKFILE_FAIL_IMMEDIATELY, which gives ERROR_LOCK_VIOLATION.
/// Two opens of one file in one process are two lockers.
std::uint32_t LockFileEx(FileHandle& file, std::uint32_t flags);
/// LockFileEx with LOCKFILE_EXCLUSIVE_LOCK, tried again for up to `milliseconds` while it is held
/// elsewhere; ERROR_LOCK_VIOLATION when it still is.
std::uint32_t LockFileWithin(FileHandle& file, std::uint32_t milliseconds);

/// SetFileTime on an open file: its modification time, in seconds since the Unix epoch.
std::uint32_t SetFileTime(FileHandle& file, std::int64_t last_write_time);
/// SetFileTime by name, for directories too (they cannot be opened as a FileHandle here); a
/// symbolic link gets its own time, never its target's.
std::uint32_t SetFileTime(std::u16string_view path, std::int64_t last_write_time);

}  // namespace orvex::platform
