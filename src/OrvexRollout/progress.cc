#include "OrvexRollout/progress.h"

#include <chrono>
#include <cstdio>

#include "platform/process.h"
#include "platform/text.h"

namespace orvex {

std::u16string ProgressLine(const ProgressCounts& counts, std::size_t total,
                            std::uint64_t total_bytes, double seconds) {
  const std::uint64_t bytes = counts.bytes_done;
  const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
  char eta[32] = "?";
  if (rate > 0 && total_bytes >= bytes) {
    const auto left = static_cast<std::uint64_t>(static_cast<double>(total_bytes - bytes) / rate);
    std::snprintf(eta, sizeof(eta), "%llu:%02llu:%02llu",
                  static_cast<unsigned long long>(left / 3600),
                  static_cast<unsigned long long>(left / 60 % 60),
                  static_cast<unsigned long long>(left % 60));
  }
  char line[160];
  std::snprintf(
      line, sizeof(line), "%zu done, %zu failed, %zu in flight, of %zu; %.1f MB/s, ETA %s",
      counts.done.load(), counts.failed.load(), counts.in_flight.load(), total, rate / 1e6, eta);
  return ToUtf16(line);
}

ProgressDisplay::ProgressDisplay(const ProgressCounts& counts, std::size_t total,
                                 std::uint64_t total_bytes)
    : counts_(counts),
      total_(total),
      total_bytes_(total_bytes),
      live_(platform::StandardErrorIsConsole()) {
  thread_ = std::thread([this] {
    const auto interval = live_ ? std::chrono::seconds(1) : std::chrono::seconds(30);
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, interval, [this] { return ending_; })) Show(false);
  });
}

ProgressDisplay::~ProgressDisplay() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_one();
  thread_.join();
  if (live_) Show(true);
}

void ProgressDisplay::Show(bool last) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const std::u16string line = ProgressLine(counts_, total_, total_bytes_, seconds);
  if (!live_) {
    platform::WriteConsoleError(line + u'\n');
    return;
  }
  // On a terminal the line is written over; blanks cover what is left of a longer one.
  const std::size_t length = line.size();
  platform::WriteConsoleError(u"\r" + line +
                              std::u16string(shown_ > length ? shown_ - length : 0, u' ') +
                              (last ? u"\n" : u""));
  shown_ = length;
}

}  // namespace orvex
