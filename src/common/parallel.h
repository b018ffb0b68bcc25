#pragma once
// Work shared out over threads: each index of a range is done once, by whichever thread is free
// next. The calling thread works too, so where the system gives no more threads the work is done
// all the same, on fewer.
//
//   std::vector<Result> results(items.size());
//   ForEachOnThreads(items.size(), jobs, [&](std::size_t i) { results[i] = Do(items[i]); });

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

namespace orvex {

/// Calls `work(i)` for every i below `count`, on up to `threads` threads at once (the calling
/// thread one of them), and returns when all are done. `work` runs on other threads: nothing may
/// escape it.
template <typename Work>
void ForEachOnThreads(std::size_t count, std::size_t threads, const Work& work) {
  std::atomic<std::size_t> next = 0;
  const auto take = [&] {
    for (std::size_t i; (i = next++) < count;) work(i);
  };
  std::vector<std::thread> helpers;
  try {
    for (std::size_t i = 1; i < std::min(threads, count); ++i) helpers.emplace_back(take);
  } catch (const std::system_error&) {
    // Fewer threads do the same work.
  }
  take();
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace orvex
