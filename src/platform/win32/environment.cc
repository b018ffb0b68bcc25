// Windows only: environment variables, the current directory, full paths, the temporary folder.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/win32/windows_api.h"

namespace orvex::platform {
namespace {

// Calls `get(buffer, size)`, which answers like the Windows calls that fill a buffer: the length
// written, or the size needed when the buffer is too small, or 0 on failure.
template <typename Get>
std::uint32_t GrowingBuffer(Get get, std::u16string* text) {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (;;) {
    const DWORD length = get(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_SUCCESS) return error;
    }
    if (length < buffer.size()) {
      *text = win32::FromWide(buffer.data(), length);
      return ERROR_SUCCESS;
    }
    buffer.resize(std::max<std::size_t>(length + 1, buffer.size() * 2));
  }
}

}  // namespace

std::uint32_t ExpandEnvironmentStrings(std::u16string_view text, std::u16string* expanded) {
  const std::u16string source(text);
  std::u16string result;
  // The length the call reports counts the terminating NUL.
  const std::uint32_t error = GrowingBuffer(
      [&](wchar_t* buffer, DWORD size) {
        const DWORD needed = ::ExpandEnvironmentStringsW(win32::Wide(source), buffer, size);
        return needed <= size && needed > 0 ? needed - 1 : needed;
      },
      &result);
  if (error == ERROR_SUCCESS) *expanded = std::move(result);
  return error;
}

bool GetEnvironmentVariable(std::u16string_view name, std::u16string* value) {
  const std::u16string key(name);
  std::u16string result;
  ::SetLastError(ERROR_SUCCESS);
  const std::uint32_t error = GrowingBuffer(
      [&](wchar_t* buffer, DWORD size) {
        return ::GetEnvironmentVariableW(win32::Wide(key), buffer, size);
      },
      &result);
  if (error != ERROR_SUCCESS) return false;
  *value = std::move(result);
  return true;
}

std::uint32_t SetEnvironmentVariable(std::u16string_view name, const std::u16string* value) {
  const std::u16string key(name);
  if (!::SetEnvironmentVariableW(win32::Wide(key),
                                 value != nullptr ? win32::Wide(*value) : nullptr)) {
    return ::GetLastError();
  }
  return ERROR_SUCCESS;
}

char16_t PathSeparator() { return u'\\'; }

bool NeedsLongPathPrefix() { return true; }

std::uint32_t GetCurrentDirectory(std::u16string* path) {
  return GrowingBuffer(
      [](wchar_t* buffer, DWORD size) { return ::GetCurrentDirectoryW(size, buffer); }, path);
}

std::uint32_t SetCurrentDirectory(std::u16string_view path) {
  const std::u16string text(path);
  return ::SetCurrentDirectoryW(win32::Wide(text)) ? ERROR_SUCCESS : ::GetLastError();
}

std::uint32_t GetFullPathName(std::u16string_view path, std::u16string* full,
                              std::size_t* file_part) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return ERROR_INVALID_NAME;
  const std::u16string text(path);
  wchar_t* name = nullptr;
  const std::uint32_t error = GrowingBuffer(
      [&](wchar_t* out, DWORD size) {
        return ::GetFullPathNameW(win32::Wide(text), size, out, &name);
      },
      full);
  if (error != ERROR_SUCCESS) return error;
  // The call points at the final name component, or nowhere when the path ends in a separator;
  // the pointer is into a buffer that is gone, so the index comes from the text itself.
  if (file_part != nullptr) {
    *file_part = name == nullptr ? full->size() : full->find_last_of(u"\\/") + 1;
  }
  return ERROR_SUCCESS;
}

std::uint32_t GetTempPath(std::u16string* path) {
  return GrowingBuffer([](wchar_t* buffer, DWORD size) { return ::GetTempPathW(size, buffer); },
                       path);
}

// Windows hands names to libraries as UTF-16; there is no C-library character set to change.
ScopedUtf8Locale::ScopedUtf8Locale() = default;
ScopedUtf8Locale::~ScopedUtf8Locale() = default;

}  // namespace orvex::platform
