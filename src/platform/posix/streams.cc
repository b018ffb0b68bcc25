// Linux only: file and memory streams.
#include "platform/posix/streams.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/result.h"

namespace orvex::platform {

HRESULT SHCreateStreamOnFile(std::u16string_view path, std::uint32_t mode, Stream* stream) {
  if (stream == nullptr) return E_INVALIDARG;
  stream->reset();
  std::uint32_t access;
  switch (mode & 0x3) {
    case STGM_READ:
      access = GENERIC_READ;
      break;
    case STGM_READWRITE:
      access = GENERIC_READ | GENERIC_WRITE;
      break;
    case 0x1:
      access = GENERIC_WRITE;
      break;  // STGM_WRITE
    default:
      return E_INVALIDARG;
  }
  const std::uint32_t disposition = (mode & STGM_CREATE) != 0 ? CREATE_ALWAYS : OPEN_EXISTING;
  FileHandle file;
  if (const std::uint32_t error = CreateFile(path, access, disposition, &file)) {
    return HResultFromWin32(error);
  }
  *stream = std::make_shared<StreamObject>();
  (*stream)->file = std::move(file);
  return S_OK;
}

HRESULT SHCreateMemStream(const std::uint8_t* data, std::uint32_t size, Stream* stream) {
  if (stream == nullptr || (data == nullptr && size != 0)) return E_INVALIDARG;
  *stream = std::make_shared<StreamObject>();
  (*stream)->memory.assign(data, data + size);
  return S_OK;
}

namespace posix {

HRESULT ReadStream(StreamObject& stream, void* buffer, std::uint32_t size, std::uint32_t* read) {
  *read = 0;
  if (stream.file.valid()) return HResultFromWin32(ReadFile(stream.file, buffer, size, read));
  const std::size_t count = std::min<std::size_t>(size, stream.memory.size() - stream.offset);
  if (count != 0) std::memcpy(buffer, stream.memory.data() + stream.offset, count);
  stream.offset += count;
  *read = static_cast<std::uint32_t>(count);
  return S_OK;
}

HRESULT WriteStream(StreamObject& stream, std::span<const std::uint8_t> bytes) {
  if (!stream.file.valid()) return E_NOTIMPL;  // memory streams are only read here
  std::uint32_t written = 0;
  return HResultFromWin32(
      WriteFile(stream.file, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written));
}

}  // namespace posix
}  // namespace orvex::platform
