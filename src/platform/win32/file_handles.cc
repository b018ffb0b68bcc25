// Windows only: open files, mapped views, positions and modification times on kernel32.
#include "platform/file_handles.h"
#include "platform/win32/windows_api.h"

namespace orvex::platform {

std::uint32_t CreateFile(std::u16string_view path, std::uint32_t access, std::uint32_t disposition,
                         FileHandle* file) {
  const std::u16string text(path);
  // Other readers and writers are not locked out, as on the Linux build.
  const HANDLE handle = ::CreateFileW(win32::Wide(text), access,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
  // A device name (CON, a pipe) opens too, and its reads may never end: only files on a disk.
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    return ERROR_OPEN_FAILED;
  }
  *file = FileHandle(reinterpret_cast<std::intptr_t>(handle));
  return ERROR_SUCCESS;
}

std::uint32_t ReadFile(FileHandle& file, void* buffer, std::uint32_t size, std::uint32_t* read) {
  DWORD count = 0;
  const BOOL succeeded = ::ReadFile(win32::NativeHandle(file), buffer, size, &count, nullptr);
  *read = count;
  return win32::LastError(succeeded);
}

std::uint32_t WriteFile(FileHandle& file, const void* buffer, std::uint32_t size,
                        std::uint32_t* written) {
  DWORD count = 0;
  const BOOL succeeded = ::WriteFile(win32::NativeHandle(file), buffer, size, &count, nullptr);
  *written = count;
  return win32::LastError(succeeded);
}

std::uint32_t FlushFileBuffers(FileHandle& file) {
  return win32::LastError(::FlushFileBuffers(win32::NativeHandle(file)));
}

std::uint32_t GetFileSize(FileHandle& file, std::uint64_t* size) {
  LARGE_INTEGER found;
  if (!::GetFileSizeEx(win32::NativeHandle(file), &found)) return ::GetLastError();
  *size = static_cast<std::uint64_t>(found.QuadPart);
  return ERROR_SUCCESS;
}

void CloseHandle(FileHandle& file) {
  if (file.valid()) ::CloseHandle(reinterpret_cast<HANDLE>(file.release()));
}

std::uint32_t MapViewOfFile(FileHandle& file, FileView* view) {
  UnmapViewOfFile(*view);
  std::uint64_t size = 0;
  if (const std::uint32_t error = GetFileSize(file, &size)) return error;
  if (size == 0) return ERROR_SUCCESS;  // a mapping of an empty file is refused
  if (size > SIZE_MAX) return ERROR_NOT_ENOUGH_MEMORY;
  const HANDLE mapping =
      ::CreateFileMappingW(win32::NativeHandle(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return ::GetLastError();
  // The view keeps the mapping alive by itself.
  const void* const data = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  const std::uint32_t error = data == nullptr ? ::GetLastError() : ERROR_SUCCESS;
  ::CloseHandle(mapping);
  if (data == nullptr) return error;
  view->data_ = static_cast<const std::uint8_t*>(data);
  view->size_ = static_cast<std::size_t>(size);
  return ERROR_SUCCESS;
}

void ReleaseViewPages(FileView& /*view*/, std::size_t /*end*/) {}

void UnmapViewOfFile(FileView& view) {
  if (view.data_ != nullptr) ::UnmapViewOfFile(view.data_);
  view.data_ = nullptr;
  view.size_ = 0;
}

std::uint32_t SetFilePointerEx(FileHandle& file, std::int64_t distance, std::uint32_t move_method,
                               std::uint64_t* new_position) {
  LARGE_INTEGER move;
  move.QuadPart = distance;
  LARGE_INTEGER position;
  if (!::SetFilePointerEx(win32::NativeHandle(file), move, &position, move_method)) {
    return ::GetLastError();
  }
  if (new_position != nullptr) *new_position = static_cast<std::uint64_t>(position.QuadPart);
  return ERROR_SUCCESS;
}

std::uint32_t SetEndOfFile(FileHandle& file) {
  return win32::LastError(::SetEndOfFile(win32::NativeHandle(file)));
}

std::uint32_t LockFileEx(FileHandle& file, std::uint32_t flags) {
  // One byte far beyond any file's end: locked ranges keep other handles from their bytes.
  OVERLAPPED place = {};
  place.OffsetHigh = 0x40000000;
  return win32::LastError(::LockFileEx(win32::NativeHandle(file), flags, 0, 1, 0, &place));
}

std::uint32_t SetFileTime(FileHandle& file, std::int64_t last_write_time) {
  const FILETIME time = win32::FileTimeFromSeconds(last_write_time);
  return win32::LastError(::SetFileTime(win32::NativeHandle(file), nullptr, nullptr, &time));
}

std::uint32_t SetFileTime(std::u16string_view path, std::int64_t last_write_time) {
  const std::u16string text(path);
  // Directories open only with backup semantics; a link is opened itself, not its target.
  const HANDLE handle =
      ::CreateFileW(win32::Wide(text), FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
  FileHandle file(reinterpret_cast<std::intptr_t>(handle));
  return SetFileTime(file, last_write_time);
}

}  // namespace orvex::platform
