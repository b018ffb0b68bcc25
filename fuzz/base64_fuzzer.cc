// Base64 text from rule files: decoding must never crash, and the size the query reports must be
// exactly what the decoder then writes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/result.h"
#include "text/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks how the rest becomes text: one character per byte reaches the Base64
  // alphabet often; UTF-16LE pairs reach every character.
  std::vector<char16_t> text;
  if (data[0] & 1) {
    for (std::size_t i = 1; i + 1 < size; i += 2) {
      text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
  } else {
    text.assign(data + 1, data + size);
  }
  if (text.empty()) return 0;
  const auto length = static_cast<std::uint32_t>(text.size());

  std::uint32_t needed = 0;
  const std::uint32_t query = orvex::DecodeBase64(text.data(), length, nullptr, &needed);
  if (query != orvex::ERROR_INSUFFICIENT_BUFFER) {
    if (query != orvex::ERROR_INVALID_DATA) std::abort();
    std::vector<std::uint8_t> buffer(text.size());
    std::uint32_t room = static_cast<std::uint32_t>(buffer.size());
    if (orvex::DecodeBase64(text.data(), length, buffer.data(), &room) !=
        orvex::ERROR_FUNCTION_FAILED) {
      std::abort();
    }
    return 0;
  }
  // At most three bytes for every four characters, and one for a lone last one.
  if (needed > text.size()) std::abort();

  // A decoded size of 0 (white space only) still needs a real buffer to decode into.
  std::vector<std::uint8_t> buffer(needed + 1);
  std::uint32_t decoded = needed;
  if (orvex::DecodeBase64(text.data(), length, buffer.data(), &decoded) != orvex::ERROR_SUCCESS ||
      decoded != needed) {
    std::abort();
  }
  if (needed > 0) {
    std::uint32_t short_room = needed - 1;
    if (orvex::DecodeBase64(text.data(), length, buffer.data(), &short_room) !=
            orvex::ERROR_FUNCTION_FAILED ||
        short_room != needed - 1) {
      std::abort();
    }
  }
  return 0;
}
