#include "text/format.h"

#include <algorithm>

#include "platform/text.h"

namespace orvex {
namespace format_internal {

void FormatMismatch() { throw ResultException(E_INVALIDARG); }

namespace {

// Receives the formatted text; a bounded sink stops taking characters when it is full.
class BoundedSink {
 public:
  explicit BoundedSink(std::span<char16_t> buffer) : buffer_(buffer) {}
  void Put(char16_t c, std::size_t count = 1) {
    for (; count > 0; --count) {
      if (length_ + 1 >= buffer_.size()) {
        truncated_ = true;
        return;
      }
      buffer_[length_++] = c;
    }
  }
  void Put(std::u16string_view text) {
    for (char16_t c : text) Put(c);
  }
  FormatResult Finish() {
    if (!buffer_.empty()) buffer_[length_] = u'\0';
    return {length_, truncated_};
  }

 private:
  std::span<char16_t> buffer_;
  std::size_t length_ = 0;
  bool truncated_ = false;
};

class StringSink {
 public:
  explicit StringSink(std::u16string& out) : out_(out) {}
  void Put(char16_t c, std::size_t count = 1) { out_.append(count, c); }
  void Put(std::u16string_view text) { out_.append(text); }

 private:
  std::u16string& out_;
};

template <typename Sink>
void PutPadded(Sink& sink, const Conversion& conv, std::u16string_view body) {
  const std::size_t width = static_cast<std::size_t>(conv.width);
  const std::size_t pad = width > body.size() ? width - body.size() : 0;
  if (!conv.left) sink.Put(u' ', pad);
  sink.Put(body);
  if (conv.left) sink.Put(u' ', pad);
}

template <typename Sink>
void PutString(Sink& sink, const Conversion& conv, std::u16string_view text) {
  if (conv.precision >= 0) text = text.substr(0, static_cast<std::size_t>(conv.precision));
  PutPadded(sink, conv, text);
}

template <typename Sink>
void PutInteger(Sink& sink, const Conversion& conv, const FormatArg& arg) {
  // The value's magnitude and sign, read the way the conversion reads the argument's bits.
  bool negative = false;
  std::uint64_t magnitude = 0;
  const bool is_signed = conv.letter == u'd' || conv.letter == u'i';
  if (arg.kind == FormatArgKind::kInt64) {
    const std::int64_t v = arg.integer;
    negative = is_signed && v < 0;
    magnitude = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  } else {
    const std::uint32_t bits = static_cast<std::uint32_t>(arg.integer);
    const std::int32_t v = static_cast<std::int32_t>(bits);
    negative = is_signed && v < 0;
    magnitude = negative ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(v)) : bits;
  }

  const bool hex = conv.letter == u'x' || conv.letter == u'X';
  const char16_t* digits_set = conv.letter == u'X' ? u"0123456789ABCDEF" : u"0123456789abcdef";
  char16_t digits[24];
  std::size_t count = 0;
  for (std::uint64_t v = magnitude; v != 0; v /= hex ? 16 : 10) {
    digits[count++] = digits_set[v % (hex ? 16 : 10)];
  }
  std::reverse(digits, digits + count);
  // Precision is the minimum number of digits; with precision 0 a zero prints no digits.
  const std::size_t min_digits = conv.precision >= 0 ? static_cast<std::size_t>(conv.precision) : 1;

  std::u16string prefix;
  if (negative)
    prefix = u"-";
  else if (is_signed && conv.plus)
    prefix = u"+";
  else if (is_signed && conv.blank)
    prefix = u" ";
  if (hex && conv.alternate && magnitude != 0) prefix += conv.letter == u'X' ? u"0X" : u"0x";

  std::size_t zeros = min_digits > count ? min_digits - count : 0;
  const std::size_t width = static_cast<std::size_t>(conv.width);
  if (conv.zero && !conv.left && conv.precision < 0) {
    const std::size_t used = prefix.size() + zeros + count;
    if (width > used) zeros += width - used;
  }
  const std::size_t length = prefix.size() + zeros + count;
  const std::size_t pad = width > length ? width - length : 0;
  if (!conv.left) sink.Put(u' ', pad);
  sink.Put(prefix);
  sink.Put(u'0', zeros);
  sink.Put(std::u16string_view(digits, count));
  if (conv.left) sink.Put(u' ', pad);
}

template <typename Sink>
void Run(Sink& sink, std::u16string_view format, std::span<const FormatArg> args) {
  std::size_t next = 0;
  std::size_t literal_start = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%') continue;
    sink.Put(format.substr(literal_start, i - literal_start));
    const Conversion conv = ParseConversion(format, i + 1);
    if (!conv.valid) throw ResultException(E_INVALIDARG);
    i = conv.end - 1;
    literal_start = conv.end;
    if (conv.letter == u'%') {
      sink.Put(u'%');
      continue;
    }
    if (next >= args.size() || !Accepts(conv, args[next].kind)) {
      throw ResultException(E_INVALIDARG);
    }
    const FormatArg& arg = args[next++];
    switch (arg.kind) {
      case FormatArgKind::kWide:
        PutString(sink, conv, arg.wide);
        break;
      case FormatArgKind::kNarrow:
        PutString(sink, conv, ToUtf16(arg.narrow));
        break;
      default:
        PutInteger(sink, conv, arg);
        break;
    }
  }
  if (next != args.size()) throw ResultException(E_INVALIDARG);
  sink.Put(format.substr(literal_start));
}

}  // namespace
}  // namespace format_internal

namespace {

template <typename Char>
bool HasLineBreak(std::basic_string_view<Char> text) {
  return std::ranges::any_of(text, [](Char c) { return c == Char('\r') || c == Char('\n'); });
}

template <typename Char>
std::basic_string<Char> EscapeLineBreaks(std::basic_string_view<Char> text) {
  std::basic_string<Char> escaped;
  escaped.reserve(text.size() + 8);
  for (const Char c : text) {
    if (c == Char('\r') || c == Char('\n')) {
      escaped += Char('\\');
      escaped += c == Char('\r') ? Char('r') : Char('n');
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace

std::span<const FormatArg> LineBreakEscaper::Escape(std::span<const FormatArg> args) {
  const bool any = std::ranges::any_of(args, [](const FormatArg& arg) {
    return HasLineBreak(arg.wide) || HasLineBreak(arg.narrow);
  });
  if (!any) return args;
  args_.assign(args.begin(), args.end());
  // Room for every copy up front: the arguments point into these strings.
  wide_.clear();
  narrow_.clear();
  wide_.reserve(args.size());
  narrow_.reserve(args.size());
  for (FormatArg& arg : args_) {
    if (HasLineBreak(arg.wide)) arg.wide = wide_.emplace_back(EscapeLineBreaks(arg.wide));
    if (HasLineBreak(arg.narrow)) arg.narrow = narrow_.emplace_back(EscapeLineBreaks(arg.narrow));
  }
  return args_;
}

FormatResult VFormatTo(std::span<char16_t> buffer, std::u16string_view format,
                       std::span<const FormatArg> args) {
  format_internal::BoundedSink sink(buffer);
  format_internal::Run(sink, format, args);
  return sink.Finish();
}

void VFormatAppend(std::u16string& out, std::u16string_view format,
                   std::span<const FormatArg> args) {
  format_internal::StringSink sink(out);
  format_internal::Run(sink, format, args);
}

}  // namespace orvex
