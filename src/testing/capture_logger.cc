#include "testing/capture_logger.h"

#include <utility>

#include "platform/text.h"

namespace orvex::testing {

void CaptureLogger::Write(Quenlar_Utils::LogLevel /*level*/, std::u16string_view line) {
  // Drop the time stamp (24 characters) and the line feed.
  std::u16string_view text = line.substr(24);
  if (!text.empty() && text.back() == u'\n') text.remove_suffix(1);
  lines.push_back(ToUtf8(text));
}

ScopedCaptureLogger::ScopedCaptureLogger() : logger_(std::make_shared<CaptureLogger>()) {
  GlobalLogger = logger_;
}

ScopedCaptureLogger::~ScopedCaptureLogger() { GlobalLogger.reset(); }

std::vector<std::string> ScopedCaptureLogger::Take() { return std::exchange(logger_->lines, {}); }

}  // namespace orvex::testing
