#pragma once
// Leveled, timestamped log lines in one UTF-8 file, shared by every component through
// GlobalLogger. A run without a log file leaves GlobalLogger empty and logs nothing.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/file_handles.h"
#include "platform/process.h"
#include "text/format.h"

namespace Quenlar_Utils {

/// The five levels; a logger writes a level when it is enabled.
enum LogLevel : std::int32_t { kDebug = 0, kInfo = 1, kWarn = 2, kError = 3, kFatal = 4 };

/// What every component logs through. Each level's operation takes a wide printf-style format.
class ILogger {
 public:
  virtual ~ILogger() = default;
  /// Enables exactly the levels at or above `level`; true while FATAL stays enabled.
  virtual bool SetLevel(std::int32_t level) = 0;
  virtual bool IsDebugEnabled() = 0;
  virtual bool IsInfoEnabled() = 0;
  virtual bool IsWarnEnabled() = 0;
  virtual bool IsErrorEnabled() = 0;
  virtual bool IsFatalEnabled() = 0;

  template <typename... Args>
  void Debug(orvex::FormatStringFor<Args...> format, const Args&... args) {
    if (IsDebugEnabled()) Log(kDebug, format, args...);
  }
  template <typename... Args>
  void Info(orvex::FormatStringFor<Args...> format, const Args&... args) {
    if (IsInfoEnabled()) Log(kInfo, format, args...);
  }
  template <typename... Args>
  void Warn(orvex::FormatStringFor<Args...> format, const Args&... args) {
    if (IsWarnEnabled()) Log(kWarn, format, args...);
  }
  template <typename... Args>
  void Error(orvex::FormatStringFor<Args...> format, const Args&... args) {
    if (IsErrorEnabled()) Log(kError, format, args...);
  }
  template <typename... Args>
  void Fatal(orvex::FormatStringFor<Args...> format, const Args&... args) {
    if (IsFatalEnabled()) Log(kFatal, format, args...);
  }

 protected:
  /// Builds and stores one line from an erased argument list.
  virtual void LogV(LogLevel level, std::u16string_view format,
                    std::span<const orvex::FormatArg> args) = 0;

 private:
  template <typename... Args>
  void Log(LogLevel level, orvex::FormatStringFor<Args...> format, const Args&... args) {
    const std::array<orvex::FormatArg, sizeof...(Args)> erased{
        orvex::format_internal::MakeArg(args)...};
    LogV(level, format.text(), erased);
  }
};

/// Level filtering and line formatting; derived classes store the finished lines.
class AbstractLogger : public ILogger {
 public:
  AbstractLogger();
  bool SetLevel(std::int32_t level) override;
  bool IsDebugEnabled() override { return debug_enabled_; }
  bool IsInfoEnabled() override { return info_enabled_; }
  bool IsWarnEnabled() override { return warn_enabled_; }
  bool IsErrorEnabled() override { return error_enabled_; }
  bool IsFatalEnabled() override { return fatal_enabled_; }

  /// Capacity of the line buffer in UTF-16 code units, terminator included.
  static constexpr std::size_t kLineCapacity = 2048;

 protected:
  void LogV(LogLevel level, std::u16string_view format,
            std::span<const orvex::FormatArg> args) override;
  /// Stores one finished line, which already ends in a line feed.
  virtual void Write(LogLevel level, std::u16string_view line) = 0;
  /// The wall-clock time stamped on each line; tests fix it.
  virtual orvex::platform::LocalTime Now();

 private:
  std::unique_ptr<char16_t[]> line_;
  bool debug_enabled_ = true;
  bool info_enabled_ = true;
  bool warn_enabled_ = true;
  bool error_enabled_ = true;
  bool fatal_enabled_ = true;
};

/// Stores lines as UTF-8 in a file, each line feed as CR LF, without a byte-order mark.
class FileLogger : public AbstractLogger {
 public:
  /// Opens `path` for appending, or empties it first when it is larger than a non-zero
  /// `size_limit`. When the file cannot be opened every line is dropped.
  FileLogger(std::u16string_view path, std::uint32_t size_limit);
  ~FileLogger() override;

  /// Why the file could not be opened, for its owner to tell the user; ERROR_SUCCESS when it was.
  std::uint32_t open_error() const { return open_error_; }

 protected:
  void Write(LogLevel level, std::u16string_view line) override;

 private:
  void Flush();

  orvex::platform::FileHandle file_;
  std::uint32_t open_error_ = orvex::ERROR_SUCCESS;
  std::string pending_;  // lines not yet on disk, written after a FATAL line, when the buffer
                         // fills or on close
};

}  // namespace Quenlar_Utils

namespace orvex {

/// The process-wide logger; empty unless a log file was asked for.
extern std::shared_ptr<Quenlar_Utils::ILogger> GlobalLogger;

// Shorthands that log through GlobalLogger when it is set and do nothing otherwise.
template <typename... Args>
void LogDebug(FormatStringFor<Args...> format, const Args&... args) {
  if (GlobalLogger) GlobalLogger->Debug(format, args...);
}
template <typename... Args>
void LogInfo(FormatStringFor<Args...> format, const Args&... args) {
  if (GlobalLogger) GlobalLogger->Info(format, args...);
}
template <typename... Args>
void LogWarn(FormatStringFor<Args...> format, const Args&... args) {
  if (GlobalLogger) GlobalLogger->Warn(format, args...);
}
template <typename... Args>
void LogError(FormatStringFor<Args...> format, const Args&... args) {
  if (GlobalLogger) GlobalLogger->Error(format, args...);
}
template <typename... Args>
void LogFatal(FormatStringFor<Args...> format, const Args&... args) {
  if (GlobalLogger) GlobalLogger->Fatal(format, args...);
}

}  // namespace orvex
