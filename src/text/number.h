#pragma once
// Text to 32-bit numbers, the way the OLE coercion of a string to an integer reads it: blanks
// around the number, an optional sign, decimal digits with an optional fraction and exponent
// (rounded half to even), or the &H hexadecimal and &O octal forms. Locale-dependent forms
// (grouping, currency, parentheses, trailing signs) are not accepted.

#include <cstdint>
#include <string_view>

#include "common/result.h"

namespace orvex {

/// Converts text to a signed 32-bit number: S_OK, DISP_E_TYPEMISMATCH when the text is not a
/// number, DISP_E_OVERFLOW when it is out of range. &H and &O forms of up to 32 bits are taken as
/// two's complement (&HFFFFFFFF is -1). `*value` changes only on success.
[[nodiscard]] HRESULT TextToInt32(std::u16string_view text, std::int32_t* value);

/// Converts text to an unsigned 32-bit number, with the results of TextToInt32; a negative
/// number is out of range unless it rounds to 0.
[[nodiscard]] HRESULT TextToUInt32(std::u16string_view text, std::uint32_t* value);

}  // namespace orvex
