// Windows only: streams over files and memory, from shlwapi.
#include "platform/win32/streams.h"

#include <memory>

namespace orvex::platform {

HRESULT SHCreateStreamOnFile(std::u16string_view path, std::uint32_t mode, Stream* stream) {
  if (stream == nullptr) return E_INVALIDARG;
  stream->reset();
  ::IStream* native = nullptr;
  const HRESULT hr = ::SHCreateStreamOnFileW(win32::Wide(std::u16string(path)), mode, &native);
  if (FAILED(hr)) return hr;
  *stream = std::make_shared<StreamObject>(native);
  return S_OK;
}

HRESULT SHCreateMemStream(const std::uint8_t* data, std::uint32_t size, Stream* stream) {
  if (stream == nullptr || (data == nullptr && size != 0)) return E_INVALIDARG;
  stream->reset();
  ::IStream* native = ::SHCreateMemStream(data, size);
  if (native == nullptr) return E_OUTOFMEMORY;
  *stream = std::make_shared<StreamObject>(native);
  return S_OK;
}

}  // namespace orvex::platform
