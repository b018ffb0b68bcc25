#pragma once
// Text services of the platform: UTF-8 at the operating-system edge, and the locale-aware
// comparison. "Case-insensitive" in this system means equal under lstrcmpi: letter case is
// ignored, accents are not. Hash lookups key on the comparison's sort key so they agree with it.

#include <string>
#include <string_view>

namespace orvex {

/// UTF-16 to UTF-8 (WideCharToMultiByte); an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

/// UTF-8 to UTF-16 (MultiByteToWideChar); an invalid byte sequence becomes U+FFFD.
std::u16string ToUtf16(std::string_view text);

/// Case-insensitive three-way comparison (negative, zero, positive), like lstrcmpi.
int CompareIgnoreCase(std::u16string_view a, std::u16string_view b);

/// True when the two texts are equal under CompareIgnoreCase.
inline bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  return CompareIgnoreCase(a, b) == 0;
}

/// The comparison's sort key (LCMapString on Windows, ShortSortKey elsewhere): byte strings
/// compare (memcmp order) exactly as CompareIgnoreCase does, and equal texts have equal keys, so
/// the key serves as a hash-map key. The bytes differ between the builds; the order does not.
std::string CollationKey(std::u16string_view text);

/// Whether `c` is white space for trimming (GetStringTypeEx, C1_SPACE).
bool IsWhiteSpace(char16_t c);

}  // namespace orvex
