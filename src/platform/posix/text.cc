// Linux only: the text services on ICU. The comparison is the root collator at secondary strength.
#include "platform/text.h"

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include "common/result.h"

namespace orvex {
namespace {

// The process's one collator, opened on first use and kept until exit.
UCollator* Collator() {
  static UCollator* const collator = [] {
    UErrorCode status = U_ZERO_ERROR;
    UCollator* c = ucol_open("", &status);
    if (U_FAILURE(status)) throw ResultException(E_UNEXPECTED);
    ucol_setStrength(c, UCOL_SECONDARY);
    return c;
  }();
  return collator;
}

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
  return ucol_strcoll(Collator(), AsUChar(a), static_cast<int32_t>(a.size()), AsUChar(b),
                      static_cast<int32_t>(b.size()));
}

std::string CollationKey(std::u16string_view text) {
  std::string key(text.size() * 2 + 16, '\0');
  for (;;) {
    const int32_t needed =
        ucol_getSortKey(Collator(), AsUChar(text), static_cast<int32_t>(text.size()),
                        reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
    if (needed <= 0) throw ResultException(E_UNEXPECTED);
    if (static_cast<size_t>(needed) <= key.size()) {
      key.resize(static_cast<size_t>(needed) - 1);  // drop the terminating zero byte
      return key;
    }
    key.resize(static_cast<size_t>(needed));
  }
}

bool IsWhiteSpace(char16_t c) { return u_isUWhiteSpace(c); }

}  // namespace orvex
