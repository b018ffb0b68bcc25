#pragma once
// Base64 text as value and file rules carry it: plain Base64 without header lines, read the way
// the platform's string-to-binary decoder reads it.

#include <cstdint>
#include <string_view>
#include <vector>

namespace orvex {

/// Decodes `length` characters of Base64 `text`. Without a buffer it stores the decoded size in
/// `*size` and answers ERROR_INSUFFICIENT_BUFFER (success) or ERROR_INVALID_DATA; with a buffer of
/// `*size` bytes it answers 0 (`*size` becomes the byte count) or ERROR_FUNCTION_FAILED. Missing or
/// empty text, or no `size`, is ERROR_INVALID_PARAMETER. A null buffer always means the size
/// query, so text that decodes to nothing (white space only) still needs a real buffer to decode.
[[nodiscard]] std::uint32_t DecodeBase64(const char16_t* text, std::uint32_t length,
                                         std::uint8_t* buffer, std::uint32_t* size);

/// The steps of decoding a whole text, for the caller to say which one failed.
enum class Base64Step { kMeasure, kAllocate, kDecode };

/// Decodes all of `text` into `*bytes` the way the rules do it: the size query, a buffer, the
/// decoding. ERROR_SUCCESS, or the failed step in `*failed` and its answer (ERROR_OUTOFMEMORY
/// for the buffer).
[[nodiscard]] std::uint32_t DecodeBase64Text(std::u16string_view text,
                                             std::vector<std::uint8_t>* bytes, Base64Step* failed);

}  // namespace orvex
