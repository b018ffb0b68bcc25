#pragma once
// UTF-16 is the system's text; UTF-8 appears only at the operating-system edge.

#include <string>
#include <string_view>

namespace orvex {

/// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

/// UTF-8 to UTF-16; an invalid byte sequence becomes U+FFFD.
std::u16string ToUtf16(std::string_view text);

}  // namespace orvex
