#include "common/text.h"

#include <unicode/ustring.h>

#include "common/result.h"

namespace orvex {

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  if (text.empty()) return out;
  out.resize(text.size() * 3);
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length,
                     reinterpret_cast<const UChar*>(text.data()),
                     static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) throw ResultException(E_INVALIDARG);
  out.resize(static_cast<size_t>(length));
  return out;
}

std::u16string ToUtf16(std::string_view text) {
  std::u16string out;
  if (text.empty()) return out;
  out.resize(text.size());
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                       &length, text.data(), static_cast<int32_t>(text.size()), 0xFFFD, nullptr,
                       &status);
  if (U_FAILURE(status)) throw ResultException(E_INVALIDARG);
  out.resize(static_cast<size_t>(length));
  return out;
}

}  // namespace orvex
