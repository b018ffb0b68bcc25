#pragma once
// Text as the bytes of UTF-16 files: .reg files and UTF-16 XML documents.

#include <string>
#include <string_view>

namespace orvex::testing {

/// The bytes of `text` as UTF-16, little-endian unless asked otherwise, without a byte-order mark.
inline std::string Utf16Bytes(std::u16string_view text, bool big_endian = false) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += big_endian ? high : low;
    bytes += big_endian ? low : high;
  }
  return bytes;
}

/// A .reg file's bytes: the byte-order mark, then `text` as UTF-16LE.
inline std::string RegFileBytes(std::u16string_view text) { return "\xFF\xFE" + Utf16Bytes(text); }

}  // namespace orvex::testing
