#pragma once
// The roll-out's progress on standard error: on a terminal one line that rewrites itself every
// second, otherwise a line every 30 seconds (a job's log keeps them).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace orvex {

/// The counts the workers keep and the progress line shows.
struct ProgressCounts {
  std::atomic<std::size_t> done{0};
  std::atomic<std::size_t> failed{0};  ///< of those done, not migrated
  std::atomic<std::size_t> in_flight{0};
  std::atomic<std::uint64_t> bytes_done{0};
};

/// The progress line of `counts` against `total` profiles of `total_bytes`, after `seconds`:
/// "12 done, 1 failed, 2 in flight, of 40; 3.4 MB/s, ETA 0:01:20".
std::u16string ProgressLine(const ProgressCounts& counts, std::size_t total,
                            std::uint64_t total_bytes, double seconds);

/// Shows the progress while it lives, on a thread of its own.
class ProgressDisplay {
 public:
  ProgressDisplay(const ProgressCounts& counts, std::size_t total, std::uint64_t total_bytes);
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

 private:
  void Show(bool last);

  const ProgressCounts& counts_;
  const std::size_t total_;
  const std::uint64_t total_bytes_;
  const bool live_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ending_ = false;
  std::size_t shown_ = 0;  // the length of the line on the terminal
  std::thread thread_;
};

}  // namespace orvex
