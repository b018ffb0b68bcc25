#pragma once
// Reading a known number of bytes from a file, where fewer means the file is not what was
// expected of it.

#include <cstdint>

#include "platform/file_handles.h"

namespace orvex::engine {

/// Reads exactly `size` bytes at the file's position; ERROR_HANDLE_EOF when it ends sooner.
inline std::uint32_t ReadExactly(platform::FileHandle& file, unsigned char* buffer,
                                 std::uint32_t size) {
  for (std::uint32_t done = 0; done < size;) {
    std::uint32_t read = 0;
    if (const std::uint32_t error = platform::ReadFile(file, buffer + done, size - done, &read)) {
      return error;
    }
    if (read == 0) return ERROR_HANDLE_EOF;
    done += read;
  }
  return ERROR_SUCCESS;
}

}  // namespace orvex::engine
