#include "logging/logger.h"

#include <span>

#include "platform/files.h"
#include "platform/text.h"

namespace orvex {
std::shared_ptr<Quenlar_Utils::ILogger> GlobalLogger;
}  // namespace orvex

namespace Quenlar_Utils {
namespace {

using orvex::FormatTo;

constexpr const char16_t* kLevelNames[] = {u"DEBUG", u"INFO", u"WARN", u"ERROR", u"FATAL"};

// Lines wait in memory until this much has gathered, like a runtime stream's buffer.
constexpr std::size_t kFlushThreshold = 64 * 1024;

}  // namespace

AbstractLogger::AbstractLogger() : line_(new char16_t[kLineCapacity]()) {}

bool AbstractLogger::SetLevel(std::int32_t level) {
  debug_enabled_ = level < 1;
  info_enabled_ = level < 2;
  warn_enabled_ = level < 3;
  error_enabled_ = level < 4;
  fatal_enabled_ = level < 5;
  return fatal_enabled_;
}

orvex::platform::LocalTime AbstractLogger::Now() { return orvex::platform::GetLocalTime(); }

void AbstractLogger::LogV(LogLevel level, std::u16string_view format,
                          std::span<const orvex::FormatArg> args) {
  const orvex::platform::LocalTime t = Now();
  const std::span<char16_t> line(line_.get(), kLineCapacity);
  const std::size_t prefix =
      FormatTo(line, u"%04d-%02d-%02d %02d:%02d:%02d.%03d [%-5.5s] ", t.year, t.month, t.day,
               t.hour, t.minute, t.second, t.milliseconds, kLevelNames[level])
          .length;
  // A line break inside an argument would let archive or rule text forge a line of its own.
  orvex::LineBreakEscaper escaper;
  const orvex::FormatResult message = orvex::VFormatTo(
      line.subspan(prefix, kLineCapacity - 2 - prefix), format, escaper.Escape(args));
  if (!message.truncated) {
    const std::size_t end = prefix + message.length;
    FormatTo(line.subspan(end, 2), u"\n");
    Write(level, std::u16string_view(line.data(), end + 1));
    return;
  }
  // The cut line is exactly 2046 units long with its line feed; the notice that follows keeps
  // the cut line's time stamp.
  line[kLineCapacity - 3] = u'\n';
  line[kLineCapacity - 2] = u'\0';
  Write(level, std::u16string_view(line.data(), kLineCapacity - 2));
  const std::size_t bracket = prefix - 8;
  const std::size_t notice =
      FormatTo(line.subspan(bracket, kLineCapacity - prefix),
               u"[%-5.5s] *** PREVIOUS LOG MESSAGE WAS TRUNCATED! ***\n", u"FATAL")
          .length;
  Write(kFatal, std::u16string_view(line.data(), bracket + notice));
}

FileLogger::FileLogger(std::u16string_view path, std::uint32_t size_limit) {
  namespace platform = orvex::platform;
  platform::FileAttributeData data;
  const bool empty_first = size_limit != 0 &&
                           platform::GetFileAttributesEx(path, &data) == orvex::ERROR_SUCCESS &&
                           data.size > size_limit;
  open_error_ =
      empty_first
          ? platform::CreateFile(path, platform::GENERIC_WRITE, platform::CREATE_ALWAYS, &file_)
          : platform::CreateFile(path, platform::FILE_APPEND_DATA, platform::OPEN_ALWAYS, &file_);
  if (file_.valid()) pending_.reserve(kFlushThreshold + kLineCapacity * 4);
}

FileLogger::~FileLogger() { Flush(); }

void FileLogger::Write(LogLevel level, std::u16string_view line) {
  if (!file_.valid()) return;
  // Text mode: every line feed is stored as carriage return plus line feed.
  for (std::size_t start = 0; start < line.size();) {
    std::size_t feed = line.find(u'\n', start);
    if (feed == std::u16string_view::npos) feed = line.size();
    pending_ += orvex::ToUtf8(line.substr(start, feed - start));
    if (feed < line.size()) pending_ += "\r\n";
    start = feed + 1;
  }
  // A FATAL line is on disk at once: whatever ends the process after it, the reason is kept.
  if (level == kFatal || pending_.size() >= kFlushThreshold) Flush();
}

void FileLogger::Flush() {
  if (!file_.valid() || pending_.empty()) return;
  std::uint32_t written = 0;
  (void)orvex::platform::WriteFile(file_, pending_.data(),
                                   static_cast<std::uint32_t>(pending_.size()), &written);
  pending_.clear();
}

}  // namespace Quenlar_Utils
