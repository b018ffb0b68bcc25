#include "text/number.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "platform/text.h"
#include "testing/matchers.h"

namespace orvex {
namespace {

constexpr HRESULT kMismatch = DISP_E_TYPEMISMATCH;
constexpr HRESULT kOverflow = DISP_E_OVERFLOW;

// One row per text: the signed (flags) and the unsigned (integer data) reading side by side.
TEST(NumberTest, SignedAndUnsignedReadings) {
  const struct {
    std::u16string_view text;
    HRESULT signed_result;
    std::int32_t signed_value;
    HRESULT unsigned_result;
    std::uint32_t unsigned_value;
  } cases[] = {
      {u"+42", S_OK, 42, S_OK, 42},
      {u"\t\r\n 1\u00A0\u3000", S_OK, 1, S_OK, 1},  // any Unicode white space around
      {u"-1", S_OK, -1, kOverflow, 0},
      {u"2147483647", S_OK, 2147483647, S_OK, 2147483647u},
      {u"2147483648", kOverflow, 0, S_OK, 2147483648u},
      {u"-2147483648", S_OK, INT32_MIN, kOverflow, 0},
      {u"-2147483649", kOverflow, 0, kOverflow, 0},
      {u"4294967295", kOverflow, 0, S_OK, 4294967295u},
      {u"4294967296", kOverflow, 0, kOverflow, 0},
      {u"00000000004294967295", kOverflow, 0, S_OK, 4294967295u},  // leading zeros are free
      {u"99999999999999999999999", kOverflow, 0, kOverflow, 0},
      // Fractions round half to even, as the OLE coercion does.
      {u"1.5", S_OK, 2, S_OK, 2},
      {u"2.5", S_OK, 2, S_OK, 2},
      {u"2.50000000001", S_OK, 3, S_OK, 3},
      {u"-1.5", S_OK, -2, kOverflow, 0},
      {u"-0.5", S_OK, 0, S_OK, 0},  // rounds to 0, so not negative
      {u".5", S_OK, 0, S_OK, 0},
      {u"3.", S_OK, 3, S_OK, 3},
      {u"2147483647.5", kOverflow, 0, S_OK, 2147483648u},
      {u"4294967295.4", kOverflow, 0, S_OK, 4294967295u},
      {u"4294967295.5", kOverflow, 0, kOverflow, 0},
      // Exponents.
      {u"1E+3", S_OK, 1000, S_OK, 1000},
      {u"25E-1", S_OK, 2, S_OK, 2},
      {u"0e999999999999", S_OK, 0, S_OK, 0},
      {u"1e10", kOverflow, 0, kOverflow, 0},
      {u"1e99999999999999999999", kOverflow, 0, kOverflow, 0},
      {u"1e-99999999999999999999", S_OK, 0, S_OK, 0},
      // &H and &O: bit patterns of up to 32 bits, two's complement for the signed reading.
      {u"&hff", S_OK, 255, S_OK, 255},
      {u"&H80000000", S_OK, INT32_MIN, S_OK, 0x80000000u},
      {u"&HFFFFFFFF", S_OK, -1, S_OK, 0xFFFFFFFFu},
      {u"&H000000000FFFFFFFF", S_OK, -1, S_OK, 0xFFFFFFFFu},
      {u"&H100000000", kOverflow, 0, kOverflow, 0},
      {u"&o37777777777", S_OK, -1, S_OK, 0xFFFFFFFFu},
      {u"&O40000000000", kOverflow, 0, kOverflow, 0},
      // Not numbers.
      {u"", kMismatch, 0, kMismatch, 0},
      {u"   ", kMismatch, 0, kMismatch, 0},
      {u"0x10", kMismatch, 0, kMismatch, 0},
      {u"1,000", kMismatch, 0, kMismatch, 0},  // grouping depends on the locale: not accepted
      {u"- 5", kMismatch, 0, kMismatch, 0},
      {u".", kMismatch, 0, kMismatch, 0},
      {u"1e", kMismatch, 0, kMismatch, 0},
      {u"1.2.3", kMismatch, 0, kMismatch, 0},
      {u"&H", kMismatch, 0, kMismatch, 0},
      {u"&O8", kMismatch, 0, kMismatch, 0},
      {u"-&H1", kMismatch, 0, kMismatch, 0},
      {u"&H1FFFFFFFFZ", kMismatch, 0, kMismatch, 0},  // not a number before too large
      {u"\uFF11", kMismatch, 0, kMismatch, 0},        // full-width digit
  };
  for (const auto& c : cases) {
    // A failed reading leaves the variable as it was.
    std::int32_t signed_value = 17;
    std::uint32_t unsigned_value = 17;
    EXPECT_HR(c.signed_result, TextToInt32(c.text, &signed_value)) << ToUtf8(c.text);
    EXPECT_EQ(signed_value, FAILED(c.signed_result) ? 17 : c.signed_value) << ToUtf8(c.text);
    EXPECT_HR(c.unsigned_result, TextToUInt32(c.text, &unsigned_value)) << ToUtf8(c.text);
    EXPECT_EQ(unsigned_value, FAILED(c.unsigned_result) ? 17u : c.unsigned_value) << ToUtf8(c.text);
  }
}

}  // namespace
}  // namespace orvex
