#pragma once

#include <memory>
#include <string>
#include <vector>

#include "logging/logger.h"

namespace orvex::testing {

/// A logger that keeps its lines in memory, as "[LEVEL] text" without time stamp and line feed.
class CaptureLogger : public Quenlar_Utils::AbstractLogger {
 public:
  std::vector<std::string> lines;

 protected:
  void Write(Quenlar_Utils::LogLevel level, std::u16string_view line) override;
};

/// Installs a CaptureLogger in GlobalLogger with every level enabled, and empties GlobalLogger
/// again when it goes away.
class ScopedCaptureLogger {
 public:
  ScopedCaptureLogger();
  ~ScopedCaptureLogger();
  ScopedCaptureLogger(const ScopedCaptureLogger&) = delete;
  ScopedCaptureLogger& operator=(const ScopedCaptureLogger&) = delete;

  /// The lines logged so far; clears them.
  std::vector<std::string> Take();

 private:
  std::shared_ptr<CaptureLogger> logger_;
};

}  // namespace orvex::testing
