// Linux only: how much freed memory the C library keeps for the process.
#include <malloc.h>

#include <climits>

#include "platform/platform.h"

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

}  // namespace orvex::platform
