#include "OrvexInspect/registry_describe.h"

#include <algorithm>

#include "common/little_endian.h"
#include "platform/text.h"
#include "reports/report_text.h"
#include "transforms/registry/value_rules.h"

namespace orvex {
namespace {

constexpr char16_t kHexDigits[] = u"0123456789abcdef";
// Byte lists longer than this many lines are cut in descriptions.
constexpr std::size_t kBytesPerLine = 16;
constexpr std::size_t kMaxByteLines = 16;

char16_t UnitAt(std::span<const std::uint8_t> data, std::size_t unit) {
  return static_cast<char16_t>(data[2 * unit] | data[2 * unit + 1] << 8);
}

// A value's text in double quotes; the quote and control characters (which a console shows as
// nothing) are escaped, backslashes are shown as they are, since paths are what values mostly hold.
std::u16string QuotedEscaped(std::u16string_view text) {
  std::u16string out = u"\"";
  for (const char16_t unit : text) {
    if (unit == u'"') {
      out += u"\\\"";
    } else if (unit == u'\n') {
      out += u"\\n";
    } else if (unit == u'\r') {
      out += u"\\r";
    } else if (unit == u'\t') {
      out += u"\\t";
    } else if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) {  // C0, DEL and C1 show nothing
      out += u"\\u00";
      out += kHexDigits[unit >> 4];
      out += kHexDigits[unit & 0xF];
    } else {
      out += unit;
    }
  }
  out += u'"';
  return out;
}

std::u16string HexBytes(std::span<const std::uint8_t> data, std::size_t begin, std::size_t end,
                        char16_t separator) {
  std::u16string out;
  for (std::size_t i = begin; i < end; ++i) {
    if (i > begin && separator != 0) out += separator;
    out += kHexDigits[data[i] >> 4];
    out += kHexDigits[data[i] & 0xF];
  }
  return out;
}

std::u16string TypeName(std::uint32_t type, bool canonical) {
  if (canonical && type == REG_QWORD) return u"qword";  // no rule writes one, so no type word
  const std::u16string_view word = WordOf(kValueTypes, type);
  if (canonical || type == REG_BINARY) return std::u16string(word);
  std::u16string name = u"hex(";
  bool leading = true;
  for (int shift = 28; shift >= 0; shift -= 4) {
    const std::uint32_t digit = (type >> shift) & 0xF;
    if (digit == 0 && leading && shift > 0) continue;
    leading = false;
    name += kHexDigits[digit];
  }
  return name + u')';
}

bool IsCanonical(const RegistryValueRef& value) {
  std::u16string text;
  std::vector<std::u16string> strings;
  switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return ValueText(value, &text);
    case REG_DWORD:
      return value.data.size() == 4;
    case REG_QWORD:
      return value.data.size() == 8;
    case REG_MULTI_SZ:
      return ValueStrings(value, &strings);
    default:
      return false;
  }
}

// The number an integer value holds: a DWORD or a QWORD.
std::uint64_t NumberOf(const RegistryValueRef& value) {
  return value.type == REG_QWORD ? LoadLe64(value.data.data()) : LoadLe32(value.data.data());
}

}  // namespace

bool ValueText(const RegistryValueRef& value, std::u16string* text) {
  const std::size_t size = value.data.size();
  if (size < 2 || size % 2 != 0) return false;
  const std::size_t units = size / 2 - 1;
  text->clear();
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t unit = UnitAt(value.data, i);
    if (unit == 0) return false;
    *text += unit;
  }
  return UnitAt(value.data, units) == 0;
}

bool ValueStrings(const RegistryValueRef& value, std::vector<std::u16string>* strings) {
  const std::size_t size = value.data.size();
  if (size < 2 || size % 2 != 0) return false;
  const std::size_t units = size / 2;
  if (UnitAt(value.data, units - 1) != 0) return false;
  strings->clear();
  if (units == 1) return true;  // the closing NUL alone: no strings
  if (UnitAt(value.data, units - 2) != 0) return false;
  std::u16string current;
  for (std::size_t i = 0; i + 1 < units; ++i) {
    const char16_t unit = UnitAt(value.data, i);
    if (unit != 0) {
      current += unit;
      continue;
    }
    strings->push_back(std::move(current));
    current.clear();
  }
  return true;
}

ValueDescription DescribeValue(const RegistryValueRef& value) {
  ValueDescription description;
  const bool canonical = IsCanonical(value);
  description.head = TypeName(value.type, canonical);
  if (canonical && (value.type == REG_SZ || value.type == REG_EXPAND_SZ)) {
    std::u16string text;
    (void)ValueText(value, &text);
    description.head += u' ' + QuotedEscaped(text);
  } else if (canonical && (value.type == REG_DWORD || value.type == REG_QWORD)) {
    description.head += u' ' + DecimalText(NumberOf(value));
  } else if (canonical && value.type == REG_MULTI_SZ) {
    std::vector<std::u16string> strings;
    (void)ValueStrings(value, &strings);
    if (strings.empty()) description.head += u" (no strings)";
    for (const std::u16string& text : strings) description.more.push_back(QuotedEscaped(text));
  } else if (value.data.empty()) {
    description.head += u" (no bytes)";
  } else if (value.data.size() <= kBytesPerLine) {
    description.head += u' ' + HexBytes(value.data, 0, value.data.size(), u' ');
  } else {
    description.head += u" (" + DecimalText(value.data.size()) + u" bytes)";
    const std::size_t shown = std::min(value.data.size(), kBytesPerLine * kMaxByteLines);
    for (std::size_t at = 0; at < shown; at += kBytesPerLine) {
      description.more.push_back(
          HexBytes(value.data, at, std::min(at + kBytesPerLine, shown), u' '));
    }
    if (shown < value.data.size()) {
      description.more.push_back(u"... " + DecimalText(value.data.size() - shown) + u" more bytes");
    }
  }
  return description;
}

std::u16string NameCountText(std::size_t count) {
  return u"(the key holds this name " + (count == 2 ? u"twice" : DecimalText(count) + u" times") +
         u"; an import keeps this last value)";
}

bool LetterCaseOnly(std::u16string_view from, std::u16string_view to) {
  return from != to && EqualsIgnoreCase(from, to);
}

std::u16string ValueNamesText(const ValueDifference& value) {
  if (!value.old_key.empty()) {
    return ValueNameText(value.name) + u" from [" + std::u16string(value.old_key) + u"]";
  }
  if (!value.renamed) return ValueNameText(value.name);
  return ValueNameText(value.old_name) + u" -> " + ValueNameText(value.name) +
         (LetterCaseOnly(value.old_name, value.name) ? u" (letter case only)" : u"");
}

std::u16string ValueNameText(std::u16string_view name) {
  if (name.empty()) return u"@";
  return QuotedEscaped(name);
}

void AppendValueJson(std::u16string* out, const RegistryValueRef& value, std::size_t count) {
  const bool canonical = IsCanonical(value);
  *out += u"{\"type\": ";
  AppendJsonString(out, TypeName(value.type, canonical));
  *out += u", \"data\": ";
  if (canonical && (value.type == REG_SZ || value.type == REG_EXPAND_SZ)) {
    std::u16string text;
    (void)ValueText(value, &text);
    AppendJsonString(out, text);
  } else if (canonical && (value.type == REG_DWORD || value.type == REG_QWORD)) {
    *out += DecimalText(NumberOf(value));
  } else if (canonical && value.type == REG_MULTI_SZ) {
    std::vector<std::u16string> strings;
    (void)ValueStrings(value, &strings);
    *out += u'[';
    for (std::size_t i = 0; i < strings.size(); ++i) {
      if (i > 0) *out += u", ";
      AppendJsonString(out, strings[i]);
    }
    *out += u']';
  } else {
    AppendJsonString(out, HexBytes(value.data, 0, value.data.size(), 0));
  }
  if (count > 1) *out += u", \"name_count\": " + DecimalText(count);
  *out += u'}';
}

}  // namespace orvex
