#include "text/base64.h"

#include <algorithm>
#include <new>
#include <string_view>

#include "common/result.h"

namespace orvex {
namespace {

constexpr int kInvalid = -1;
constexpr int kPadding = -2;
constexpr int kWhiteSpace = -3;

// The six bits a character stands for, or what else it is.
int Classify(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c - u'A';
  if (c >= u'a' && c <= u'z') return c - u'a' + 26;
  if (c >= u'0' && c <= u'9') return c - u'0' + 52;
  if (c == u'+') return 62;
  if (c == u'/') return 63;
  if (c == u'=') return kPadding;
  if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') return kWhiteSpace;
  return kInvalid;
}

// One pass over the text with the platform decoder's rules: groups of four characters give three
// bytes; an unpadded last group of one, two or three characters gives one, one or two bytes; '='
// may only complete a group (or stand where a group would begin), and the data ends there.
// Writes the bytes to `out` when it is given (the caller has checked the room); `*count` gets
// the byte count. False when the text cannot be decoded.
bool Decode(std::u16string_view text, std::uint8_t* out, std::uint32_t* count) {
  std::uint8_t group[4] = {};
  std::uint32_t in_group = 0;  // data characters and padding of the current group
  std::uint32_t bytes = 0;
  bool padding = false;
  std::size_t i = 0;
  for (; i < text.size(); ++i) {
    const int d = Classify(text[i]);
    if (d == kInvalid) return false;
    if (d == kWhiteSpace) continue;
    if (d == kPadding) {
      if (in_group == 0) break;
      padding = true;
      if (++in_group == 4) break;
      continue;
    }
    if (padding) return false;
    group[in_group] = static_cast<std::uint8_t>(d);
    ++in_group;
    // Bytes appear as soon as their first bits are known, so that a lone last character still
    // yields one byte, as the platform decoder gives it.
    switch (in_group) {
      case 1:
        if (out != nullptr) out[bytes] = static_cast<std::uint8_t>(group[0] << 2);
        ++bytes;
        break;
      case 2:
        if (out != nullptr) out[bytes - 1] |= static_cast<std::uint8_t>(group[1] >> 4);
        break;
      case 3:
        if (out != nullptr) {
          out[bytes] = static_cast<std::uint8_t>((group[1] << 4) | (group[2] >> 2));
        }
        ++bytes;
        break;
      case 4:
        if (out != nullptr) out[bytes] = static_cast<std::uint8_t>((group[2] << 6) | group[3]);
        ++bytes;
        in_group = 0;
        break;
    }
  }
  if (padding && in_group != 4) return false;
  // The platform decoder stops reading at the end padding; what follows is ignored as long as it
  // could be Base64 text, but a character that never belongs in it still refuses the whole text.
  for (; i < text.size(); ++i) {
    if (Classify(text[i]) == kInvalid) return false;
  }
  *count = bytes;
  return true;
}

}  // namespace

std::uint32_t DecodeBase64(const char16_t* text, std::uint32_t length, std::uint8_t* buffer,
                           std::uint32_t* size) {
  if (text == nullptr || length == 0 || size == nullptr) return ERROR_INVALID_PARAMETER;
  const std::u16string_view view(text, length);
  std::uint32_t needed = 0;
  if (buffer == nullptr) {
    if (!Decode(view, nullptr, &needed)) return ERROR_INVALID_DATA;
    *size = needed;
    return ERROR_INSUFFICIENT_BUFFER;
  }
  if (!Decode(view, nullptr, &needed) || needed > *size) return ERROR_FUNCTION_FAILED;
  if (!Decode(view, buffer, &needed)) return ERROR_FUNCTION_FAILED;
  *size = needed;
  return ERROR_SUCCESS;
}

std::uint32_t DecodeBase64Text(std::u16string_view text, std::vector<std::uint8_t>* bytes,
                               Base64Step* failed) {
  const auto length = static_cast<std::uint32_t>(text.size());
  std::uint32_t size = 0;
  *failed = Base64Step::kMeasure;
  const std::uint32_t measured = DecodeBase64(text.data(), length, nullptr, &size);
  if (measured != ERROR_INSUFFICIENT_BUFFER) return measured;
  *failed = Base64Step::kAllocate;
  try {
    // Text of blanks alone decodes to nothing, yet the decoder needs a real buffer to tell the
    // decoding call from the size query.
    bytes->assign(std::max<std::uint32_t>(size, 1), 0);
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
  *failed = Base64Step::kDecode;
  const std::uint32_t decoded = DecodeBase64(text.data(), length, bytes->data(), &size);
  if (decoded != ERROR_SUCCESS) return decoded;
  bytes->resize(size);
  return ERROR_SUCCESS;
}

}  // namespace orvex
