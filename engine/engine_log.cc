#include "engine/engine_log.h"

#include "platform/process.h"
#include "platform/text.h"

namespace orvex::engine {

EngineLog::EngineLog(std::u16string_view path) {
  if (path.empty()) return;
  (void)platform::CreateFile(path, platform::FILE_APPEND_DATA, platform::OPEN_ALWAYS, &file_);
}

void EngineLog::WriteV(std::u16string_view format, std::span<const FormatArg> args) {
  const platform::LocalTime now = platform::GetLocalTime();
  std::u16string text = Format(u"%04d-%02d-%02d %02d:%02d:%02d ", now.year, now.month, now.day,
                               now.hour, now.minute, now.second);
  LineBreakEscaper escaper;
  VFormatAppend(text, format, escaper.Escape(args));
  std::string line = ToUtf8(text);
  line += "\r\n";
  std::uint32_t written = 0;
  // One write per line keeps lines whole when two engines share a log.
  (void)platform::WriteFile(file_, line.data(), static_cast<std::uint32_t>(line.size()), &written);
}

HRESULT StopIfRequested(EngineLog& log, std::u16string_view operation) {
  if (!platform::StopRequested()) return S_OK;
  log.Line(u"%s: stopped on request", operation);
  return kStoppedOnRequest;
}

}  // namespace orvex::engine
