#pragma once
// The engine's own log: plain UTF-8 lines appended to the file each operation is given.

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "platform/file_handles.h"
#include "text/format.h"

namespace orvex::engine {

/// Appends time-stamped lines to one file; with no file, or one that cannot be opened, the
/// lines go nowhere (the log never makes an operation fail).
class EngineLog {
 public:
  /// Opens `path` for appending; an empty path means no log.
  explicit EngineLog(std::u16string_view path);
  EngineLog(const EngineLog&) = delete;
  EngineLog& operator=(const EngineLog&) = delete;

  /// Writes one line "YYYY-MM-DD hh:mm:ss <text>".
  template <typename... Args>
  void Line(FormatStringFor<Args...> format, const Args&... args) {
    if (!file_.valid()) return;
    const std::array<FormatArg, sizeof...(Args)> erased{format_internal::MakeArg(args)...};
    WriteV(format.text(), erased);
  }

 private:
  // Line breaks in the arguments are written escaped, so that every line is one the engine wrote.
  void WriteV(std::u16string_view format, std::span<const FormatArg> args);

  platform::FileHandle file_;
};

/// kStoppedOnRequest, and a line saying so, when the user has asked the process to stop; S_OK
/// otherwise. Operations ask between entries and between blocks of one entry's data.
[[nodiscard]] HRESULT StopIfRequested(EngineLog& log, std::u16string_view operation);

}  // namespace orvex::engine
