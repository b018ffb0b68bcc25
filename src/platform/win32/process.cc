// Windows only: the process, its console, its exit status, stop requests and local time.
#include <cwchar>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/text.h"
#include "platform/win32/windows_api.h"

namespace orvex::platform {

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

std::uint32_t RunProcess(std::u16string_view program, std::span<const std::u16string> arguments,
                         std::uint32_t* exit_code) {
  std::u16string line;
  AppendCommandLineArgument(&line, program);
  for (const std::u16string& argument : arguments) AppendCommandLineArgument(&line, argument);
  // The child's standard streams are the null device, the one handle it inherits.
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE null_device =
      ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherited, OPEN_EXISTING, 0, nullptr);
  if (null_device == INVALID_HANDLE_VALUE) return ::GetLastError();
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = null_device;
  PROCESS_INFORMATION process{};
  const std::u16string program_text(program);
  const BOOL started =
      ::CreateProcessW(win32::Wide(program_text), reinterpret_cast<wchar_t*>(line.data()), nullptr,
                       nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  const DWORD error = started ? ERROR_SUCCESS : ::GetLastError();
  ::CloseHandle(null_device);
  if (!started) return error;
  ::CloseHandle(process.hThread);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  const std::uint32_t result = win32::LastError(::GetExitCodeProcess(process.hProcess, &code));
  ::CloseHandle(process.hProcess);
  *exit_code = code;
  return result;
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
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
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

}  // namespace orvex::platform
