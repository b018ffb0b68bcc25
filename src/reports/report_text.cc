#include "reports/report_text.h"

#include <algorithm>

namespace orvex {
namespace {

constexpr char16_t kHexDigits[] = u"0123456789abcdef";

void AppendUnitEscape(std::u16string* out, char16_t unit) {
  *out += u"\\u00";
  *out += kHexDigits[(unit >> 4) & 0xF];
  *out += kHexDigits[unit & 0xF];
}

}  // namespace

std::u16string DecimalText(std::uint64_t number) {
  std::u16string text;
  do {
    text += static_cast<char16_t>(u'0' + number % 10);
    number /= 10;
  } while (number != 0);
  std::reverse(text.begin(), text.end());
  return text;
}

std::u16string CountText(std::uint64_t count, std::u16string_view one, std::u16string_view many) {
  return DecimalText(count) + u' ' + std::u16string(count == 1 ? one : many);
}

std::u16string ErrorText(HRESULT hr) {
  return u" (error " + DecimalText(static_cast<std::uint32_t>(LowWord(hr))) + u")";
}

void AppendJsonString(std::u16string* out, std::u16string_view text) {
  *out += u'"';
  for (const char16_t unit : text) {
    switch (unit) {
      case u'"':
        *out += u"\\\"";
        break;
      case u'\\':
        *out += u"\\\\";
        break;
      case u'\n':
        *out += u"\\n";
        break;
      case u'\r':
        *out += u"\\r";
        break;
      case u'\t':
        *out += u"\\t";
        break;
      default:
        if (unit < 0x20) {
          AppendUnitEscape(out, unit);
        } else {
          *out += unit;
        }
    }
  }
  *out += u'"';
}

bool IsXmlText(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit < 0x20 && unit != u'\t' && unit != u'\n' && unit != u'\r') return false;
    if (unit == 0xFFFE || unit == 0xFFFF) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

std::u16string XmlEscape(std::u16string_view text, bool attribute) {
  std::u16string out;
  out.reserve(text.size());
  for (const char16_t unit : text) {
    if (!attribute && (unit == u'\t' || unit == u'\n')) {
      out += unit;
      continue;
    }
    switch (unit) {
      case u'<':
        out += u"&lt;";
        break;
      case u'>':
        out += u"&gt;";
        break;
      case u'&':
        out += u"&amp;";
        break;
      case u'"':
        out += u"&quot;";
        break;
      case u'\t':
        out += u"&#9;";
        break;
      case u'\n':
        out += u"&#10;";
        break;
      case u'\r':
        out += u"&#13;";
        break;
      default:
        out += unit;
    }
  }
  return out;
}

std::u16string Base64Encode(std::span<const std::uint8_t> bytes) {
  constexpr char16_t kAlphabet[] =
      u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::u16string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(group >> shift) & 0x3F];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const std::uint32_t group = bytes[i] << 16 | (two ? bytes[i + 1] << 8 : 0);
    out += kAlphabet[(group >> 18) & 0x3F];
    out += kAlphabet[(group >> 12) & 0x3F];
    out += two ? kAlphabet[(group >> 6) & 0x3F] : u'=';
    out += u'=';
  }
  return out;
}

}  // namespace orvex
