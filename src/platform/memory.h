#pragma once
// How the process's memory is kept: freed memory retained, large pages.

#include <cstddef>

#include "common/result.h"

namespace orvex::platform {

/// Lets the process keep up to `bytes` of freed memory instead of handing it back to the system at
/// once (process-wide). Libraries that allocate and free the same large state for every file (the
/// deflate state of the archive library) otherwise pay system calls and page faults each time.
void RetainFreedMemory(std::size_t bytes);

/// The size and alignment of a large page: memory in such pieces can be backed a whole large page
/// at a time.
constexpr std::size_t kLargePageBytes = std::size_t{2} << 20;

/// Asks the system to back the large-page-aligned range with large pages where it can, so that
/// filling it costs one page fault per large page instead of one per small page (Linux; Windows
/// gives large pages only to privileged processes, so it does nothing there).
void AdviseLargePages(void* start, std::size_t size);

}  // namespace orvex::platform
