// Linux only: process, console, time, environment and path services.
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "common/result.h"
#include "platform/platform.h"
#include "platform/posix/errors.h"
#include "platform/posix/native_path.h"
#include "platform/text.h"

extern char** environ;

namespace orvex::platform {
namespace {

std::u16string& CommandLine() {
  static std::u16string command_line;
  return command_line;
}

}  // namespace

void SetProcessArguments(int argc, const char* const* argv) {
  std::u16string& line = CommandLine();
  line.clear();
  for (int i = 0; i < argc; ++i) {
    const std::u16string arg = ToUtf16(argv[i]);
    if (i > 0) line += u' ';
    const bool quote = arg.empty() || arg.find_first_of(u" \t") != std::u16string::npos;
    if (quote) line += u'"';
    line += arg;
    if (quote) line += u'"';
  }
}

std::u16string GetCommandLine() { return CommandLine(); }

std::uint32_t GetModuleFileName(std::u16string* path) {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return posix::Win32ErrorFromErrno(errno);
    if (static_cast<std::size_t>(length) < buffer.size()) {
      *path = ToUtf16(std::string_view(buffer.data(), static_cast<std::size_t>(length)));
      return ERROR_SUCCESS;
    }
    buffer.resize(buffer.size() * 2);
  }
}

// A Linux process always has its standard streams; there is no console to obtain.
bool AllocConsole() { return false; }

void FreeConsole() {}

void WriteConsole(std::u16string_view text) {
  const std::string utf8 = ToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

void WriteConsoleError(std::u16string_view text) {
  const std::string utf8 = ToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
  std::fflush(stderr);
}

bool StandardErrorIsConsole() { return ::isatty(STDERR_FILENO) == 1; }

namespace {

// The signal that asked the process to stop; 0 before any.
volatile std::sig_atomic_t stop_signal = 0;

void OnStopSignal(int signal) {
  if (stop_signal != 0) {
    // Asked a second time: the signal's own effect, ending the process.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    return;
  }
  stop_signal = signal;
}

}  // namespace

int ProcessExitStatus(std::uint32_t exit_code) {
  if (exit_code == ERROR_CANCELLED && stop_signal != 0) return 128 + stop_signal;
  return exit_code <= 255 ? static_cast<int>(exit_code) : 255;
}

void WatchStopRequests() {
  struct sigaction action = {};
  action.sa_handler = &OnStopSignal;
  // Reads and writes under way go on; the run looks at the flag between its steps.
  action.sa_flags = SA_RESTART;
  ::sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal the process was started ignoring (nohup, a background job) stays ignored.
    struct sigaction inherited = {};
    if (::sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

bool StopRequested() { return stop_signal != 0; }

LocalTime GetLocalTime() {
  timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  ::localtime_r(&now.tv_sec, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
          local.tm_min,         local.tm_sec,     static_cast<int>(now.tv_nsec / 1000000)};
}

bool LocalTimeOf(std::int64_t seconds, LocalTime* local) {
  const time_t moment = static_cast<time_t>(seconds);
  tm parts;
  if (::localtime_r(&moment, &parts) == nullptr) return false;
  *local = {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
            parts.tm_min,         parts.tm_sec,     0};
  return true;
}

std::uint32_t ExpandEnvironmentStrings(std::u16string_view text, std::u16string* expanded) {
  std::u16string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t open = text.find(u'%', pos);
    if (open == std::u16string_view::npos) break;
    out.append(text.substr(pos, open - pos));
    const std::size_t close = text.find(u'%', open + 1);
    if (close == std::u16string_view::npos) {
      pos = open;
      break;
    }
    std::u16string value;
    const std::u16string_view name = text.substr(open + 1, close - open - 1);
    if (!name.empty() && GetEnvironmentVariable(name, &value)) {
      out += value;
      pos = close + 1;
    } else {
      // Not a variable: keep "%name" and let the closing '%' open the next reference.
      out.append(text.substr(open, close - open));
      pos = close;
    }
  }
  out.append(text.substr(pos));
  *expanded = std::move(out);
  return ERROR_SUCCESS;
}

bool GetEnvironmentVariable(std::u16string_view name, std::u16string* value) {
  const std::string narrow = ToUtf8(name);
  if (const char* exact = std::getenv(narrow.c_str())) {
    *value = ToUtf16(exact);
    return true;
  }
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    if (EqualsIgnoreCase(ToUtf16(text.substr(0, equals)), name)) {
      *value = ToUtf16(text.substr(equals + 1));
      return true;
    }
  }
  return false;
}

std::uint32_t SetEnvironmentVariable(std::u16string_view name, const std::u16string* value) {
  const std::string narrow = ToUtf8(name);
  const int result = value != nullptr ? ::setenv(narrow.c_str(), ToUtf8(*value).c_str(), 1)
                                      : ::unsetenv(narrow.c_str());
  return result == 0 ? ERROR_SUCCESS : posix::Win32ErrorFromErrno(errno);
}

char16_t PathSeparator() { return u'/'; }

// There is no 260-character limit on Linux.
bool NeedsLongPathPrefix() { return false; }

namespace {

// The current directory as it was last named, like Windows keeps it: the kernel only knows the
// physical path, which differs from the named one when a symbolic link lies on the way.
std::string& NamedCurrentDirectory() {
  static std::string named;
  return named;
}

// Whether `path` names the directory the process is in now.
bool IsCurrentDirectory(const std::string& path) {
  struct stat named, actual;
  return !path.empty() && ::stat(path.c_str(), &named) == 0 && ::stat(".", &actual) == 0 &&
         named.st_dev == actual.st_dev && named.st_ino == actual.st_ino;
}

}  // namespace

std::uint32_t GetCurrentDirectory(std::u16string* path) {
  const char* pwd = std::getenv("PWD");
  for (const std::string& named : {NamedCurrentDirectory(), std::string(pwd ? pwd : "")}) {
    if (!named.empty() && named[0] == '/' && IsCurrentDirectory(named)) {
      *path = ToUtf16(named);
      return ERROR_SUCCESS;
    }
  }
  std::vector<char> buffer(PATH_MAX);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return posix::Win32ErrorFromErrno(errno);
    buffer.resize(buffer.size() * 2);
  }
  *path = ToUtf16(buffer.data());
  return ERROR_SUCCESS;
}

std::uint32_t SetCurrentDirectory(std::u16string_view path) {
  std::string native;
  if (const std::uint32_t error = posix::ToNativePath(path, &native)) return error;
  std::u16string current;
  if (const std::uint32_t error = GetCurrentDirectory(&current)) return error;
  std::string named = ToUtf8(posix::FullPathText(ToUtf16(native), current));
  if (named.size() > 1 && named.back() == '/') named.pop_back();
  if (::chdir(native.c_str()) != 0) {
    return errno == ENOENT ? ERROR_PATH_NOT_FOUND : posix::Win32ErrorFromErrno(errno);
  }
  NamedCurrentDirectory() = std::move(named);
  return ERROR_SUCCESS;
}

std::uint32_t GetFullPathName(std::u16string_view path, std::u16string* full,
                              std::size_t* file_part) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return ERROR_INVALID_NAME;
  std::u16string current;
  if (const std::uint32_t error = GetCurrentDirectory(&current)) return error;
  std::u16string text = posix::FullPathText(path, current);
  if (file_part != nullptr) *file_part = text.find_last_of(u'/') + 1;
  *full = std::move(text);
  return ERROR_SUCCESS;
}

std::uint32_t GetTempPath(std::u16string* path) {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string text = tmpdir != nullptr && tmpdir[0] == '/' ? tmpdir : "/tmp";
  if (text.back() != '/') text += '/';
  *path = ToUtf16(text);
  return ERROR_SUCCESS;
}

}  // namespace orvex::platform
