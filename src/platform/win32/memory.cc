// Windows only: how the process's memory is kept.
#include <cstddef>

#include "platform/memory.h"
#include "platform/win32/windows_api.h"

namespace orvex::platform {

// The system's heap keeps freed memory for reuse by itself.
void RetainFreedMemory(std::size_t /*bytes*/) {}

void AdviseLargePages(void* /*start*/, std::size_t /*size*/) {}

}  // namespace orvex::platform
