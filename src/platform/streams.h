#pragma once
// Byte streams (IStream) over files and over memory.

#include <cstdint>
#include <memory>
#include <string_view>

#include "common/result.h"

namespace orvex::platform {

/// IStream: a byte stream over a file or over memory, read and written at its position.
struct StreamObject;
/// Shared, as COM streams are: the XML reader holds its input while it reads.
using Stream = std::shared_ptr<StreamObject>;

constexpr std::uint32_t STGM_READ = 0x0;
constexpr std::uint32_t STGM_READWRITE = 0x2;
constexpr std::uint32_t STGM_CREATE = 0x1000;

/// SHCreateStreamOnFileW: STGM_READ opens an existing file, STGM_CREATE | STGM_READWRITE creates
/// or truncates one. Failures are HRESULTs of the Win32 error, as are later read and write
/// failures.
HRESULT SHCreateStreamOnFile(std::u16string_view path, std::uint32_t mode, Stream* stream);
/// SHCreateMemStream: a stream over a copy of `size` bytes.
HRESULT SHCreateMemStream(const std::uint8_t* data, std::uint32_t size, Stream* stream);

}  // namespace orvex::platform
