// Windows only: file attributes, identity, deletion, directories, copies and moves on kernel32.
#include "platform/files.h"
#include "platform/win32/windows_api.h"

namespace orvex::platform {

std::uint32_t GetFileAttributesEx(std::u16string_view path, FileAttributeData* data) {
  const std::u16string text(path);
  WIN32_FILE_ATTRIBUTE_DATA found;
  if (!::GetFileAttributesExW(win32::Wide(text), GetFileExInfoStandard, &found)) {
    return ::GetLastError();
  }
  data->attributes = found.dwFileAttributes;
  data->size = (std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow;
  data->last_write_time = win32::SecondsFromFileTime(found.ftLastWriteTime);
  return ERROR_SUCCESS;
}

std::uint32_t GetFileAttributes(std::u16string_view path, std::uint32_t* attributes) {
  const std::u16string text(path);
  const DWORD found = ::GetFileAttributesW(win32::Wide(text));
  if (found == INVALID_FILE_ATTRIBUTES) return ::GetLastError();
  *attributes = found;
  return ERROR_SUCCESS;
}

std::uint32_t SetFileAttributes(std::u16string_view path, std::uint32_t attributes) {
  const std::u16string text(path);
  return win32::LastError(::SetFileAttributesW(win32::Wide(text), attributes));
}

std::uint32_t DeleteFile(std::u16string_view path) {
  const std::u16string text(path);
  return win32::LastError(::DeleteFileW(win32::Wide(text)));
}

namespace {

// A handle on the file or directory `text` names, opened for none of its data: enough to ask
// which file it is.
HANDLE OpenForQuery(const std::u16string& text) {
  return ::CreateFileW(win32::Wide(text), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

std::uint32_t GetFileState(std::u16string_view path, FileState* state) {
  const HANDLE handle = OpenForQuery(std::u16string(path));
  if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
  return GetFileState(FileHandle(reinterpret_cast<std::intptr_t>(handle)), state);
}

std::uint32_t GetFileState(const FileHandle& file, FileState* state) {
  const HANDLE handle = win32::NativeHandle(file);
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO times;
  std::uint32_t error = win32::LastError(::GetFileInformationByHandle(handle, &info));
  if (error == ERROR_SUCCESS) {
    error = win32::LastError(
        ::GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times));
  }
  if (error != ERROR_SUCCESS) return error;
  state->identity = {.volume = info.dwVolumeSerialNumber,
                     .index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  state->size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  state->last_write_time = times.LastWriteTime.QuadPart;
  state->change_time = times.ChangeTime.QuadPart;
  return ERROR_SUCCESS;
}

std::uint32_t GetFinalPathName(std::u16string_view path, std::u16string* final_path) {
  const HANDLE handle = OpenForQuery(std::u16string(path));
  if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
  std::u16string text(MAX_PATH, u'\0');
  DWORD length = 0;
  for (;;) {
    length = ::GetFinalPathNameByHandleW(handle, reinterpret_cast<wchar_t*>(text.data()),
                                         static_cast<DWORD>(text.size()), FILE_NAME_NORMALIZED);
    if (length < text.size()) break;
    text.resize(length);  // the size asked for, terminator included
  }
  const std::uint32_t error = length == 0 ? ::GetLastError() : ERROR_SUCCESS;
  ::CloseHandle(handle);
  if (error != ERROR_SUCCESS) return error;
  text.resize(length);
  // Windows answers in the long-path form; a path on a drive letter that needs no such form
  // reads as the user would write it.
  constexpr std::u16string_view kLongPathPrefix = u"\\\\?\\";
  if (text.starts_with(kLongPathPrefix) && text.size() < kLongPathPrefix.size() + MAX_PATH &&
      text.size() > kLongPathPrefix.size() + 1 && text[kLongPathPrefix.size() + 1] == u':') {
    text.erase(0, kLongPathPrefix.size());
  }
  *final_path = std::move(text);
  return ERROR_SUCCESS;
}

std::uint32_t CreateDirectory(std::u16string_view path) {
  const std::u16string text(path);
  return win32::LastError(::CreateDirectoryW(win32::Wide(text), nullptr));
}

std::uint32_t RemoveDirectory(std::u16string_view path) {
  const std::u16string text(path);
  return win32::LastError(::RemoveDirectoryW(win32::Wide(text)));
}

std::uint32_t CopyFile(std::u16string_view source, std::u16string_view destination,
                       bool fail_if_exists) {
  const std::u16string from(source);
  const std::u16string to(destination);
  return win32::LastError(::CopyFileW(win32::Wide(from), win32::Wide(to), fail_if_exists));
}

std::uint32_t CreateHardLink(std::u16string_view link, std::u16string_view existing) {
  const std::u16string link_text(link), existing_text(existing);
  return win32::LastError(
      ::CreateHardLinkW(win32::Wide(link_text), win32::Wide(existing_text), nullptr));
}

std::uint32_t MoveFileEx(std::u16string_view source, std::u16string_view destination,
                         std::uint32_t flags) {
  const std::u16string from(source);
  const std::u16string to(destination);
  return win32::LastError(::MoveFileExW(win32::Wide(from), win32::Wide(to), flags));
}

// Windows matches names ignoring case by itself.
NameCacheScope::NameCacheScope() = default;
NameCacheScope::~NameCacheScope() = default;

}  // namespace orvex::platform
