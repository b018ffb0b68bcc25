#include "text/number.h"

#include <string>

#include "platform/text.h"

namespace orvex {
namespace {

// What the text says, before the range of the target type is applied.
struct ParsedNumber {
  bool negative = false;
  bool radix_form = false;  // &H or &O: a bit pattern rather than a signed amount
  bool too_large = false;   // beyond 32 bits (radix forms) or beyond 10 decimal digits
  std::uint64_t magnitude = 0;
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The value of `c` as a digit of `radix` (8 or 16), or -1.
int RadixDigit(char16_t c, int radix) {
  int d = -1;
  if (IsDigit(c)) {
    d = c - u'0';
  } else if (c >= u'a' && c <= u'f') {
    d = c - u'a' + 10;
  } else if (c >= u'A' && c <= u'F') {
    d = c - u'A' + 10;
  }
  return d < radix ? d : -1;
}

HRESULT ParseRadixForm(std::u16string_view digits, int radix, ParsedNumber* parsed) {
  if (digits.empty()) return DISP_E_TYPEMISMATCH;
  parsed->radix_form = true;
  for (const char16_t c : digits) {
    const int d = RadixDigit(c, radix);
    if (d < 0) return DISP_E_TYPEMISMATCH;
    parsed->magnitude = parsed->magnitude * radix + d;
    if (parsed->magnitude > 0xFFFFFFFFu) {
      parsed->too_large = true;
      parsed->magnitude = 0xFFFFFFFFu;  // keeps the arithmetic bounded; the digits still count
    }
  }
  return S_OK;
}

// Decimal digits with an optional '.' fraction and an optional exponent. The value is worked out
// exactly from the digits, so that rounding half to even sees the true fraction.
HRESULT ParseDecimal(std::u16string_view text, ParsedNumber* parsed) {
  std::string digits;      // mantissa digits, without the point
  std::int64_t shift = 0;  // value = digits * 10^shift
  std::size_t i = 0;
  bool any_digit = false;
  for (; i < text.size() && IsDigit(text[i]); ++i, any_digit = true) {
    digits += static_cast<char>(text[i]);
  }
  if (i < text.size() && text[i] == u'.') {
    for (++i; i < text.size() && IsDigit(text[i]); ++i, any_digit = true) {
      digits += static_cast<char>(text[i]);
      --shift;
    }
  }
  if (!any_digit) return DISP_E_TYPEMISMATCH;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ++i;
    bool exponent_negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
      exponent_negative = text[i++] == u'-';
    }
    if (i == text.size() || !IsDigit(text[i])) return DISP_E_TYPEMISMATCH;
    std::int64_t exponent = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
      // Beyond this any non-zero mantissa overflows or rounds to 0 anyway.
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[i] - u'0');
    }
    shift += exponent_negative ? -exponent : exponent;
  }
  if (i != text.size()) return DISP_E_TYPEMISMATCH;

  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return S_OK;  // zero, whatever the sign and exponent
  const std::size_t last = digits.find_last_not_of('0');
  shift += static_cast<std::int64_t>(digits.size() - 1 - last);
  digits = digits.substr(first, last - first + 1);

  // Digits before the point; more than ten is beyond any 32-bit number.
  const std::int64_t whole = static_cast<std::int64_t>(digits.size()) + shift;
  if (whole > 10) {
    parsed->too_large = true;
    return S_OK;
  }
  std::uint64_t integer = 0;
  for (std::int64_t k = 0; k < whole; ++k) {
    integer = integer * 10 + (k < static_cast<std::int64_t>(digits.size()) ? digits[k] - '0' : 0);
  }
  // The fraction starts right after the whole digits; leading zeros (whole < 0) keep it under
  // one half. Trailing zeros are gone, so any digit after the first makes it more than a tie.
  if (whole >= 0 && whole < static_cast<std::int64_t>(digits.size())) {
    const char first_fraction = digits[whole];
    const bool more = whole + 1 < static_cast<std::int64_t>(digits.size());
    if (first_fraction > '5' || (first_fraction == '5' && (more || integer % 2 == 1))) ++integer;
  }
  parsed->magnitude = integer;
  return S_OK;
}

HRESULT Parse(std::u16string_view text, ParsedNumber* parsed) {
  while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
  if (text.size() >= 2 && text[0] == u'&') {
    if (text[1] == u'h' || text[1] == u'H') return ParseRadixForm(text.substr(2), 16, parsed);
    if (text[1] == u'o' || text[1] == u'O') return ParseRadixForm(text.substr(2), 8, parsed);
    return DISP_E_TYPEMISMATCH;
  }
  if (!text.empty() && (text[0] == u'+' || text[0] == u'-')) {
    parsed->negative = text[0] == u'-';
    text.remove_prefix(1);
  }
  return ParseDecimal(text, parsed);
}

}  // namespace

HRESULT TextToInt32(std::u16string_view text, std::int32_t* value) {
  ParsedNumber parsed;
  RETURN_IF_FAILED(Parse(text, &parsed));
  if (parsed.too_large) return DISP_E_OVERFLOW;
  if (parsed.radix_form) {
    *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(parsed.magnitude));
  } else if (parsed.negative) {
    if (parsed.magnitude > 0x80000000u) return DISP_E_OVERFLOW;
    *value = static_cast<std::int32_t>(-static_cast<std::int64_t>(parsed.magnitude));
  } else {
    if (parsed.magnitude > 0x7FFFFFFFu) return DISP_E_OVERFLOW;
    *value = static_cast<std::int32_t>(parsed.magnitude);
  }
  return S_OK;
}

HRESULT TextToUInt32(std::u16string_view text, std::uint32_t* value) {
  ParsedNumber parsed;
  RETURN_IF_FAILED(Parse(text, &parsed));
  if (parsed.too_large || parsed.magnitude > 0xFFFFFFFFu) return DISP_E_OVERFLOW;
  if (parsed.negative && parsed.magnitude != 0) return DISP_E_OVERFLOW;
  *value = static_cast<std::uint32_t>(parsed.magnitude);
  return S_OK;
}

}  // namespace orvex
