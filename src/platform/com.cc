// COM string helpers of our own, built on the platform's COM string calls; the same on every
// platform.
#include <cstring>

#include "common/result.h"
#include "platform/com.h"

namespace orvex::platform {

HRESULT AppendBstr(BSTR* string, const char16_t* text) {
  if (text == nullptr) return E_INVALIDARG;
  return AppendBstr(string, std::u16string_view(text));
}

HRESULT AppendBstr(BSTR* string, std::u16string_view text) {
  if (string == nullptr) return E_INVALIDARG;
  const std::uint64_t old_length = SysStringLen(*string);
  const std::uint64_t length = old_length + text.size();
  if (length > kMaxBstrLength) return HResultFromWin32(ERROR_ARITHMETIC_OVERFLOW);
  BSTR joined = SysAllocStringLen(nullptr, static_cast<std::uint32_t>(length));
  if (joined == nullptr) return E_OUTOFMEMORY;
  if (old_length > 0) std::memcpy(joined, *string, old_length * sizeof(char16_t));
  if (!text.empty()) std::memcpy(joined + old_length, text.data(), text.size() * sizeof(char16_t));
  SysFreeString(*string);
  *string = joined;
  return S_OK;
}

}  // namespace orvex::platform
