// Linux only: the byte-order mark and the declared encoding of an XML document, checked.
#include "platform/posix/xml_encoding.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "common/ascii.h"
#include "platform/posix/xml_errors.h"

namespace orvex::platform::posix {
namespace {

enum class Signature { kNone, kUtf8, kUtf16Le, kUtf16Be };

}  // namespace

EncodingCheck CheckEncoding(const std::uint8_t* bytes, std::size_t size) {
  EncodingCheck check;
  const auto starts = [&](std::initializer_list<std::uint8_t> prefix) {
    return size >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes);
  };
  if (starts({0x00, 0x00, 0xFE, 0xFF}) || starts({0xFF, 0xFE, 0x00, 0x00}) ||
      starts({0x00, 0x00, 0x00, 0x3C}) || starts({0x3C, 0x00, 0x00, 0x00})) {
    check.result = MX_E_ENCODINGSIGNATURE;
    return check;
  }
  Signature signature = Signature::kNone;
  std::size_t offset = 0;
  if (starts({0xEF, 0xBB, 0xBF})) {
    signature = Signature::kUtf8;
    offset = 3;
  } else if (starts({0xFF, 0xFE})) {
    signature = Signature::kUtf16Le;
    offset = 2;
  } else if (starts({0xFE, 0xFF})) {
    signature = Signature::kUtf16Be;
    offset = 2;
  } else if (starts({0x3C, 0x00, 0x3F, 0x00})) {
    signature = Signature::kUtf16Le;
  } else if (starts({0x00, 0x3C, 0x00, 0x3F})) {
    signature = Signature::kUtf16Be;
  }
  check.ignore_declaration = signature != Signature::kNone;

  // The declaration is ASCII in every encoding this reader accepts; read it unit by unit.
  const std::size_t unit =
      signature == Signature::kUtf16Le || signature == Signature::kUtf16Be ? 2 : 1;
  std::string head;
  for (std::size_t i = offset; i + unit <= size && head.size() < 256; i += unit) {
    const std::uint32_t c = unit == 1                          ? bytes[i]
                            : signature == Signature::kUtf16Le ? bytes[i] | (bytes[i + 1] << 8)
                                                               : (bytes[i] << 8) | bytes[i + 1];
    if (c == 0 || c >= 0x80) break;
    head.push_back(static_cast<char>(c));
    if (head.ends_with("?>")) break;
  }
  if (!head.starts_with("<?xml") || head.size() < 6 || !std::strchr(" \t\r\n", head[5])) {
    return check;
  }
  const std::size_t end = head.find("?>");
  if (end == std::string::npos) return check;
  std::size_t at = head.find("encoding");
  if (at == std::string::npos || at > end) return check;
  at += 8;
  while (at < end && std::strchr(" \t\r\n", head[at]) != nullptr) ++at;
  if (at >= end || head[at] != '=') return check;
  ++at;
  while (at < end && std::strchr(" \t\r\n", head[at]) != nullptr) ++at;
  if (at >= end || (head[at] != '"' && head[at] != '\'')) return check;
  const std::size_t close = head.find(head[at], at + 1);
  if (close == std::string::npos || close > end) return check;
  check.declared = head.substr(at + 1, close - at - 1);
  check.column = static_cast<std::uint32_t>(at + 2);

  const std::string_view name = check.declared;
  const auto is_any = [&](std::initializer_list<std::string_view> names) {
    return std::ranges::any_of(names,
                               [&](std::string_view n) { return EqualsAsciiIgnoreCase(name, n); });
  };
  const bool utf16 = is_any({"UTF-16", "UTF16", "UCS-2", "ISO-10646-UCS-2", "unicode"});
  bool accepted = true;
  switch (signature) {
    case Signature::kNone:
      accepted = !utf16 && !is_any({"UTF-16LE", "UTF-16BE"});
      break;
    case Signature::kUtf8:
      accepted = is_any({"UTF-8", "UTF8"});
      break;
    case Signature::kUtf16Le:
      accepted = utf16 || is_any({"UTF-16LE"});
      break;
    case Signature::kUtf16Be:
      accepted = utf16 || is_any({"UTF-16BE"});
      break;
  }
  if (!accepted) check.result = MX_E_ENCODINGSWITCH;
  return check;
}

}  // namespace orvex::platform::posix
