#include "common/compare.h"

#include <unicode/ucol.h>

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

int CompareIgnoreCase(std::u16string_view a, std::u16string_view b) {
  return ucol_strcoll(Collator(), AsUChar(a), static_cast<int32_t>(a.size()), AsUChar(b),
                      static_cast<int32_t>(b.size()));
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  return CompareIgnoreCase(a, b) == 0;
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

}  // namespace orvex
