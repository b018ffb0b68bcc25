// Linux only: how much freed memory the C library keeps for the process, and large pages.
#include <malloc.h>
#include <sys/mman.h>

#include <climits>

#include "platform/memory.h"

namespace orvex::platform {

void RetainFreedMemory(std::size_t bytes) {
#if defined(__GLIBC__)
  // glibc returns the top of the heap to the system as soon as more than the trim threshold
  // (128 KiB at first) lies free there, which a deflate state freed after every file exceeds.
  (void)::mallopt(M_TRIM_THRESHOLD, bytes > INT_MAX ? INT_MAX : static_cast<int>(bytes));
#else
  (void)bytes;
#endif
}

void AdviseLargePages(void* start, std::size_t size) {
  // Only a hint: where the system has no large page to give, small pages serve as before.
  (void)::madvise(start, size, MADV_HUGEPAGE);
}

}  // namespace orvex::platform
