#pragma once
// Linux only: the byte streams behind platform::Stream, for the readers of this layer.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/file_handles.h"
#include "platform/streams.h"

namespace orvex::platform {

/// A stream over an open file, or over bytes in memory when there is no file.
struct StreamObject {
  FileHandle file;
  std::vector<std::uint8_t> memory;
  std::size_t offset = 0;
};

namespace posix {

/// ISequentialStream::Read: up to `size` bytes at the position; `*read` is 0 at the end.
HRESULT ReadStream(StreamObject& stream, void* buffer, std::uint32_t size, std::uint32_t* read);
/// ISequentialStream::Write of all of `bytes` at the position of a file stream.
HRESULT WriteStream(StreamObject& stream, std::span<const std::uint8_t> bytes);

}  // namespace posix
}  // namespace orvex::platform
