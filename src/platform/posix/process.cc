// Linux only: the process, its console, its exit status, stop requests and local time.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "common/result.h"
#include "platform/posix/errors.h"
#include "platform/posix/native_path.h"
#include "platform/process.h"
#include "platform/text.h"

namespace orvex::platform {
namespace {

std::u16string& CommandLine() {
  static std::u16string command_line;
  return command_line;
}

}  // namespace

void SetProcessArguments(int argc, const char* const* argv) {
  // Without TZ the C library looks at /etc/localtime again on every mktime, which the archive
  // library calls twice for each entry it reads; named once, the zone is the same and is read
  // once. Done here, before any thread reads the environment.
  if (::getenv("TZ") == nullptr) (void)::setenv("TZ", ":/etc/localtime", 0);
  std::u16string& line = CommandLine();
  line.clear();
  for (int i = 0; i < argc; ++i) {
    AppendCommandLineArgument(&line, ToUtf16(argv[i]));
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

std::uint32_t RunProcess(std::u16string_view program, std::span<const std::u16string> arguments,
                         std::uint32_t* exit_code) {
  std::string native;
  if (const std::uint32_t error = posix::ToNativePath(program, &native)) return error;
  std::vector<std::string> texts{native};
  for (const std::u16string& argument : arguments) texts.push_back(ToUtf8(argument));
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  for (const int stream : {0, 1, 2}) {
    ::posix_spawn_file_actions_addopen(&actions, stream, "/dev/null",
                                       stream == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  pid_t child = 0;
  const int error = ::posix_spawn(&child, native.c_str(), &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return posix::Win32ErrorForPath(error, native);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return posix::Win32ErrorFromErrno(errno);
  }
  *exit_code = WIFSIGNALED(status) ? 128 + static_cast<std::uint32_t>(WTERMSIG(status))
                                   : static_cast<std::uint32_t>(WEXITSTATUS(status));
  return ERROR_SUCCESS;
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
  return {local.tm_year + 1900,
          local.tm_mon + 1,
          local.tm_mday,
          local.tm_hour,
          local.tm_min,
          local.tm_sec,
          static_cast<int>(now.tv_nsec / 1000000)};
}

bool LocalTimeOf(std::int64_t seconds, LocalTime* local) {
  const time_t moment = static_cast<time_t>(seconds);
  tm parts;
  if (::localtime_r(&moment, &parts) == nullptr) return false;
  *local = {parts.tm_year + 1900,
            parts.tm_mon + 1,
            parts.tm_mday,
            parts.tm_hour,
            parts.tm_min,
            parts.tm_sec,
            0};
  return true;
}

}  // namespace orvex::platform
