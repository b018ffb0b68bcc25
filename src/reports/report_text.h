#pragma once
// Text that the companion and the roll-out write: numbers, JSON strings, XML text and attribute
// values, Base64.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/result.h"

namespace orvex {

/// A number in decimal.
std::u16string DecimalText(std::uint64_t number);

/// A count and what it counts, in the singular for one: "1 byte", "2 bytes".
std::u16string CountText(std::uint64_t count, std::u16string_view one, std::u16string_view many);

/// " (error <n>)" with the low 16 bits of a failure, for messages.
std::u16string ErrorText(HRESULT hr);

/// Appends `text` as a JSON string, quotes included.
void AppendJsonString(std::u16string* out, std::u16string_view text);

/// Whether XML 1.0 can carry `text` at all (as characters or character references): no control
/// characters other than tab, line feed and carriage return, no unpaired surrogates, no U+FFFE or
/// U+FFFF.
bool IsXmlText(std::u16string_view text);

/// `text` escaped for an XML attribute value in double quotes, or for element content. Carriage
/// returns, and in attributes also tabs and line feeds, become character references, so that the
/// reader hands them back as they are instead of normalising them.
std::u16string XmlEscape(std::u16string_view text, bool attribute = true);

/// Plain Base64 of `bytes`, with padding and without line breaks.
std::u16string Base64Encode(std::span<const std::uint8_t> bytes);

}  // namespace orvex
