#pragma once
// Locale-aware comparison. "Case-insensitive" in this system means equal under the root collator
// at secondary strength: letter case is ignored, accents are not, punctuation sorts before digits
// and digits before letters. Hash lookups key on the collator's sort key so they agree with it.

#include <string>
#include <string_view>

namespace orvex {

/// Case-insensitive three-way comparison (negative, zero, positive), like lstrcmpi.
int CompareIgnoreCase(std::u16string_view a, std::u16string_view b);

/// True when the two texts are equal under CompareIgnoreCase.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

/// The collator's sort key: byte strings compare (memcmp order) exactly as CompareIgnoreCase does,
/// and equal texts have equal keys, so the key serves as a hash-map key.
std::string CollationKey(std::u16string_view text);

}  // namespace orvex
