// Linux only: the text services. Conversions and character classes come from ICU; the comparison
// is the Windows one, computed from its measured table (sort_key.h).
#include "platform/text.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include "common/result.h"
#include "platform/sort_key.h"

namespace orvex {
namespace {

const UChar* AsUChar(std::u16string_view text) {
  return reinterpret_cast<const UChar*>(text.data());
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  if (text.empty()) return out;
  out.resize(text.size() * 3);
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, AsUChar(text),
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

int CompareIgnoreCase(std::u16string_view a, std::u16string_view b) {
  return SortKey(a).compare(SortKey(b));
}

std::string CollationKey(std::u16string_view text) { return ShortSortKey(text); }

bool IsWhiteSpace(char16_t c) { return u_isUWhiteSpace(c); }

}  // namespace orvex
