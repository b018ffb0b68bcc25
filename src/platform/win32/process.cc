// Windows only: the process, its console, environment, paths, time and shell folders.
#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

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

// Windows keeps the command line itself.
void SetProcessArguments(int /*argc*/, const char* const* /*argv*/) {}

std::u16string GetCommandLine() {
  const wchar_t* line = ::GetCommandLineW();
  return win32::FromWide(line, std::wcslen(line));
}

std::uint32_t GetModuleFileName(std::u16string* path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return ::GetLastError();
    if (length < buffer.size()) {
      *path = win32::FromWide(buffer.data(), length);
      return ERROR_SUCCESS;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool AllocConsole() { return ::AllocConsole() != FALSE; }

void FreeConsole() { ::FreeConsole(); }

namespace {

// On a console the text goes through WriteConsoleW; written to a file or a pipe it is UTF-8, the
// bytes the Linux build writes, so that scripts read the same text from both.
void WriteStandardHandle(DWORD handle, std::u16string_view text) {
  const HANDLE output = ::GetStdHandle(handle);
  if (output == nullptr || output == INVALID_HANDLE_VALUE || text.empty()) return;
  DWORD mode = 0;
  DWORD written = 0;
  if (::GetConsoleMode(output, &mode)) {
    ::WriteConsoleW(output, reinterpret_cast<const wchar_t*>(text.data()),
                    static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string utf8 = ToUtf8(text);
  ::WriteFile(output, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

}  // namespace

void WriteConsole(std::u16string_view text) { WriteStandardHandle(STD_OUTPUT_HANDLE, text); }

void WriteConsoleError(std::u16string_view text) { WriteStandardHandle(STD_ERROR_HANDLE, text); }

bool StandardErrorIsConsole() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

int ProcessExitStatus(std::uint32_t exit_code) { return static_cast<int>(exit_code); }

namespace {

// The stop request is a named event of the process, not a variable: the engine DLL holds its own
// copy of this layer and must see the request the program's handler notes.
HANDLE StopEvent() {
  static const HANDLE event = [] {
    const std::wstring name =
        L"Local\\OrvexMigrate.Stop." + std::to_wstring(::GetCurrentProcessId());
    return ::CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  }();
  return event;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  if (StopRequested()) ::TerminateProcess(::GetCurrentProcess(), ERROR_CANCELLED);
  ::SetEvent(StopEvent());
  // Windows ends the process as soon as the handler returns from a close event; waiting here
  // leaves the run the few seconds Windows grants to stop in order.
  if (type == CTRL_CLOSE_EVENT) ::Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void WatchStopRequests() {
  (void)StopEvent();
  ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

bool StopRequested() {
  const HANDLE event = StopEvent();
  return event != nullptr && ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

LocalTime GetLocalTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return {now.wYear, now.wMonth,  now.wDay,         now.wHour,
          now.wMinute, now.wSecond, now.wMilliseconds};
}

bool LocalTimeOf(std::int64_t seconds, LocalTime* local) {
  // By the rules of the moment's own year, as the C library's localtime does; the local file
  // time call would apply today's daylight saving to every date.
  const FILETIME moment = win32::FileTimeFromSeconds(seconds);
  SYSTEMTIME utc, parts;
  if (!::FileTimeToSystemTime(&moment, &utc) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &parts)) {
    return false;
  }
  *local = {parts.wYear, parts.wMonth, parts.wDay, parts.wHour, parts.wMinute, parts.wSecond, 0};
  return true;
}

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
  if (!::SetEnvironmentVariableW(win32::Wide(key), value != nullptr ? win32::Wide(*value) : nullptr)) {
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

HRESULT SHGetFolderPath(int csidl, const void* token, std::uint32_t flags, std::u16string* path) {
  wchar_t buffer[MAX_PATH];
  const HRESULT hr = ::SHGetFolderPathW(nullptr, csidl, const_cast<HANDLE>(token), flags, buffer);
  if (FAILED(hr)) return hr;
  *path = win32::FromWide(buffer, std::wcslen(buffer));
  return S_OK;
}

// The system's heap keeps freed memory for reuse by itself.
void RetainFreedMemory(std::size_t /*bytes*/) {}

void AdviseLargePages(void* /*start*/, std::size_t /*size*/) {}

// Windows hands names to libraries as UTF-16; there is no C-library character set to change.
ScopedUtf8Locale::ScopedUtf8Locale() = default;
ScopedUtf8Locale::~ScopedUtf8Locale() = default;

// Windows matches names ignoring case by itself.
NameCacheScope::NameCacheScope() = default;
NameCacheScope::~NameCacheScope() = default;

}  // namespace orvex::platform
