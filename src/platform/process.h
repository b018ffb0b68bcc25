#pragma once
// Processes and the console: arguments, the console's output, exit status, the user's stop
// requests, local time.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/result.h"

namespace orvex::platform {

/// Records the process arguments (and, on Linux, names the time zone the process starts with, so
/// that it is read once); main calls it once before anything else.
void SetProcessArguments(int argc, const char* const* argv);

/// The raw command line of the process (GetCommandLineW).
std::u16string GetCommandLine();

/// Appends `argument` to a command line as this system writes one: after a blank unless the line is
/// empty, in double quotes when it is empty or holds a blank or a tab.
void AppendCommandLineArgument(std::u16string* line, std::u16string_view argument);

/// The full path of the running executable (GetModuleFileNameW).
std::uint32_t GetModuleFileName(std::u16string* path);

/// CreateProcessW of `program` with `arguments` (a command line of the program and its arguments,
/// each quoted where it holds a blank), its standard streams going nowhere, then
/// WaitForSingleObject and GetExitCodeProcess: `*exit_code` is the code it ended with (on Linux
/// its 8-bit status, 128 + the signal for one a signal ended). Safe on several threads at once.
std::uint32_t RunProcess(std::u16string_view program, std::span<const std::u16string> arguments,
                         std::uint32_t* exit_code);

/// Asks for a console of the process's own (AllocConsole); false when it already has one.
bool AllocConsole();
/// Releases a console obtained with AllocConsole.
void FreeConsole();
/// Writes text to standard output (WriteConsoleW); failures are ignored.
void WriteConsole(std::u16string_view text);
/// Writes text to standard error, as WriteConsole writes to standard output.
void WriteConsoleError(std::u16string_view text);
/// Whether standard error is a console (GetConsoleMode succeeds on its handle; a terminal on
/// Linux) rather than a file or a pipe: where a line that rewrites itself may be shown.
bool StandardErrorIsConsole();

/// The process exit status for a 32-bit exit code; never 0 for a non-zero code. On Linux a run
/// that ends with ERROR_CANCELLED after a stop request exits with 128 + the signal number, as a
/// shell expects of a process the signal ended.
int ProcessExitStatus(std::uint32_t exit_code);

/// Listens for the user's requests to stop (SetConsoleCtrlHandler for Ctrl-C, Ctrl-Break and the
/// console's closing; SIGINT, SIGTERM and SIGHUP on Linux). The first request is only noted, for
/// StopRequested to report; a second ends the process at once.
void WatchStopRequests();
/// Whether the user has asked the process to stop; cheap enough to ask between any two steps.
bool StopRequested();

/// Local wall-clock time with milliseconds (GetLocalTime).
struct LocalTime {
  int year, month, day, hour, minute, second, milliseconds;
};
LocalTime GetLocalTime();
/// The local wall-clock time of a moment given in seconds since the Unix epoch, by the time zone's
/// rules for that date (SystemTimeToTzSpecificLocalTime); milliseconds are 0. False when the
/// moment has no such time.
bool LocalTimeOf(std::int64_t seconds, LocalTime* local);

}  // namespace orvex::platform
