#pragma once
// Everything before the real work: the console channel, the tool's own splitting of the process
// command line, the banner, the options and the usage line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "text/format.h"

namespace orvex {

/// The program's version, shown in the banner and the first log line.
inline constexpr const char* kVersion = "9.2.0.701";

/// The console text channel: standard output for the whole run.
class ConsoleWriter {
 public:
  ConsoleWriter();
  ~ConsoleWriter();
  ConsoleWriter(const ConsoleWriter&) = delete;
  ConsoleWriter& operator=(const ConsoleWriter&) = delete;

  /// Formats into a 1024-character buffer (longer text is cut) and writes what fitted.
  template <typename... Args>
  void Print(FormatStringFor<Args...> format, const Args&... args) {
    char16_t buffer[kCapacity] = {};
    const FormatResult r = FormatTo(buffer, format, args...);
    Write(std::u16string_view(buffer, r.length));
  }

 private:
  static constexpr std::size_t kCapacity = 1024;
  void Write(std::u16string_view text);

  bool console_allocated_;
};

/// The arguments in command-line order; entry 0 is the program as it was invoked.
using ArgumentList = std::vector<std::u16string>;

/// Position just behind the argument that starts at `start`: blanks and tabs end it outside
/// double quotes; quotes toggle and stay part of it; backslashes escape nothing.
std::size_t FindArgumentEnd(std::u16string_view text, std::size_t start);

/// Splits the raw command line into `args`. An empty line gives the program's own full path.
/// Returns a Win32 error number (0 on success).
[[nodiscard]] std::uint32_t SplitCommandLine(std::u16string_view text, ArgumentList* args);

/// What the command line asks for.
struct ProgramOptions {
  std::u16string program_name;
  std::u16string xml_path;
  std::u16string input_path;
  std::u16string output_path;
  std::u16string log_file_path;  ///< already resolved to a full path
  bool import = false;
  bool overwrite = false;
  bool verbose = false;
  bool no_cleanup = false;
};

/// Fills `options` from entries 1 and up. E_INVALIDARG for an unacceptable command line
/// (bad option, missing value, a required path missing); a failure to resolve the log file path
/// is passed on.
[[nodiscard]] HRESULT ParseOptions(const ArgumentList& args, ProgramOptions* options);

/// Prints the banner, and returns the exit code for a command line that is not acceptable
/// (after printing the usage line), or 0 with `options` filled.
std::uint32_t ReadCommandLine(ConsoleWriter& console, std::u16string_view command_line,
                              ProgramOptions* options);

}  // namespace orvex
