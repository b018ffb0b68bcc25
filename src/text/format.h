#pragma once
// The system's one printf-style formatter, shared by the console and the logger. It follows the
// platform's wide printf rules: %s a UTF-16 string, %S a narrow (UTF-8) string, %d and %i a signed
// 32-bit integer, %u an unsigned one, %x and %X hexadecimal, %lld a 64-bit integer, %% a percent
// sign; with the flags - + blank # 0, a width and a precision. Arguments are type-checked: at
// compile time for literal formats, and at run time (a ResultException with E_INVALIDARG) for
// formats made with RuntimeFormat.

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/result.h"

namespace orvex {

/// What kind of value a formatter argument holds.
enum class FormatArgKind : std::uint8_t { kWide, kNarrow, kInt32, kUInt32, kInt64 };

/// One formatter argument, erased to its kind.
struct FormatArg {
  FormatArgKind kind;
  std::u16string_view wide;
  std::string_view narrow;
  std::int64_t integer = 0;
};

namespace format_internal {

template <typename T>
constexpr bool kIsWide = std::is_convertible_v<const T&, std::u16string_view>;
template <typename T>
constexpr bool kIsNarrow = std::is_convertible_v<const T&, std::string_view>;
template <typename T>
constexpr bool kIsInteger =
    std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
    !std::is_same_v<T, char16_t> && !std::is_same_v<T, char8_t> && !std::is_same_v<T, char32_t> &&
    !std::is_same_v<T, wchar_t>;

template <typename T>
consteval FormatArgKind KindOf() {
  if constexpr (kIsWide<T>) {
    return FormatArgKind::kWide;
  } else if constexpr (kIsNarrow<T>) {
    return FormatArgKind::kNarrow;
  } else if constexpr (kIsInteger<T> && sizeof(T) == 4 && std::is_signed_v<T>) {
    return FormatArgKind::kInt32;
  } else if constexpr (kIsInteger<T> && sizeof(T) == 4) {
    return FormatArgKind::kUInt32;
  } else if constexpr (kIsInteger<T> && sizeof(T) == 8 && std::is_signed_v<T>) {
    return FormatArgKind::kInt64;
  } else {
    static_assert(sizeof(T) == 0, "formatter arguments are strings, 32-bit integers or int64_t");
  }
}

template <typename T>
FormatArg MakeArg(const T& value) {
  constexpr FormatArgKind kind = KindOf<T>();
  FormatArg arg{kind, {}, {}, 0};
  if constexpr (kind == FormatArgKind::kWide) {
    if constexpr (std::is_pointer_v<T>) {
      arg.wide = value == nullptr ? std::u16string_view(u"(null)") : std::u16string_view(value);
    } else {
      arg.wide = value;
    }
  } else if constexpr (kind == FormatArgKind::kNarrow) {
    if constexpr (std::is_pointer_v<T>) {
      arg.narrow = value == nullptr ? std::string_view("(null)") : std::string_view(value);
    } else {
      arg.narrow = value;
    }
  } else {
    arg.integer = static_cast<std::int64_t>(value);
  }
  return arg;
}

/// Checks a format against argument kinds; returns false on any mismatch or malformed conversion.
constexpr bool Matches(std::u16string_view format, std::span<const FormatArgKind> kinds);

void FormatMismatch();  // Deliberately not constexpr: calling it in a constant expression fails.

}  // namespace format_internal

/// A format string checked against the argument types it will be used with.
template <typename... Args>
class FormatString {
 public:
  template <typename S>
  requires std::convertible_to<const S&, std::u16string_view>
  consteval FormatString(const S& text) : text_(text) {  // NOLINT: implicit by design
    constexpr std::array<FormatArgKind, sizeof...(Args)> kKinds{format_internal::KindOf<Args>()...};
    if (!format_internal::Matches(text_, kKinds)) format_internal::FormatMismatch();
  }

  struct Unchecked {};
  constexpr FormatString(Unchecked, std::u16string_view text) : text_(text) {}

  constexpr std::u16string_view text() const { return text_; }

 private:
  std::u16string_view text_;
};

/// A format known only at run time; a mismatch raises ResultException(E_INVALIDARG) when used.
template <typename... Args>
constexpr FormatString<Args...> RuntimeFormat(std::u16string_view text) {
  return FormatString<Args...>(typename FormatString<Args...>::Unchecked{}, text);
}

template <typename... Args>
using FormatStringFor = FormatString<std::type_identity_t<Args>...>;

/// What a bounded format wrote.
struct FormatResult {
  std::size_t length;  ///< characters written, not counting the terminator
  bool truncated;      ///< the whole text did not fit
};

/// Formats into `buffer`: at most size - 1 characters and a terminating NUL (nothing for an empty
/// buffer). Truncation is reported, not raised.
FormatResult VFormatTo(std::span<char16_t> buffer, std::u16string_view format,
                       std::span<const FormatArg> args);

/// Appends the formatted text to `out`, growing it as needed.
void VFormatAppend(std::u16string& out, std::u16string_view format,
                   std::span<const FormatArg> args);

/// Stands in for string arguments that hold a carriage return or a line feed with copies in
/// which each is written as the two characters \r or \n, so that text from an archive or a rule
/// cannot start a log line the system never wrote. Arguments without either pass unchanged.
class LineBreakEscaper {
 public:
  /// `args` themselves, or copies that stay valid as long as this object and `args` do.
  std::span<const FormatArg> Escape(std::span<const FormatArg> args);

 private:
  std::vector<FormatArg> args_;
  std::vector<std::u16string> wide_;
  std::vector<std::string> narrow_;
};

template <typename... Args>
FormatResult FormatTo(std::span<char16_t> buffer, FormatStringFor<Args...> format,
                      const Args&... args) {
  const std::array<FormatArg, sizeof...(Args)> erased{format_internal::MakeArg(args)...};
  return VFormatTo(buffer, format.text(), erased);
}

template <typename... Args>
std::u16string Format(FormatStringFor<Args...> format, const Args&... args) {
  const std::array<FormatArg, sizeof...(Args)> erased{format_internal::MakeArg(args)...};
  std::u16string out;
  VFormatAppend(out, format.text(), erased);
  return out;
}

// --- implementation of the compile-time check -------------------------------------------------

namespace format_internal {

/// One parsed conversion: flags, width, precision, length and letter.
struct Conversion {
  bool left = false, plus = false, blank = false, alternate = false, zero = false;
  int width = 0;
  int precision = -1;
  bool long_long = false;
  char16_t letter = 0;
  std::size_t end = 0;  ///< index just after the conversion
  bool valid = false;
};

/// Parses the conversion that starts after the '%' at `pos`.
constexpr Conversion ParseConversion(std::u16string_view f, std::size_t pos) {
  Conversion s;
  std::size_t i = pos;
  for (; i < f.size(); ++i) {
    const char16_t c = f[i];
    if (c == u'-')
      s.left = true;
    else if (c == u'+')
      s.plus = true;
    else if (c == u' ')
      s.blank = true;
    else if (c == u'#')
      s.alternate = true;
    else if (c == u'0')
      s.zero = true;
    else
      break;
  }
  for (; i < f.size() && f[i] >= u'0' && f[i] <= u'9'; ++i) {
    if (s.width > 100000) return s;
    s.width = s.width * 10 + (f[i] - u'0');
  }
  if (i < f.size() && f[i] == u'.') {
    s.precision = 0;
    for (++i; i < f.size() && f[i] >= u'0' && f[i] <= u'9'; ++i) {
      if (s.precision > 100000) return s;
      s.precision = s.precision * 10 + (f[i] - u'0');
    }
  }
  if (i + 1 < f.size() && f[i] == u'l' && f[i + 1] == u'l') {
    s.long_long = true;
    i += 2;
  }
  if (i >= f.size()) return s;
  s.letter = f[i];
  s.end = i + 1;
  switch (s.letter) {
    case u'd':
    case u'i':
    case u'u':
    case u'x':
    case u'X':
      s.valid = true;
      break;
    case u's':
    case u'S':
    case u'%':
      s.valid = !s.long_long;
      break;
    default:
      break;
  }
  return s;
}

/// Whether an argument of `kind` may stand for the conversion `conv`.
constexpr bool Accepts(const Conversion& conv, FormatArgKind kind) {
  if (conv.long_long) {
    return conv.letter != u'u' && kind == FormatArgKind::kInt64;
  }
  switch (conv.letter) {
    case u's':
      return kind == FormatArgKind::kWide;
    case u'S':
      return kind == FormatArgKind::kNarrow;
    case u'd':
    case u'i':
      return kind == FormatArgKind::kInt32;
    case u'u':
      return kind == FormatArgKind::kUInt32;
    case u'x':
    case u'X':
      return kind == FormatArgKind::kInt32 || kind == FormatArgKind::kUInt32;
    default:
      return false;
  }
}

constexpr bool Matches(std::u16string_view format, std::span<const FormatArgKind> kinds) {
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%') continue;
    const Conversion conv = ParseConversion(format, i + 1);
    if (!conv.valid) return false;
    i = conv.end - 1;
    if (conv.letter == u'%') continue;
    if (next >= kinds.size() || !Accepts(conv, kinds[next])) return false;
    ++next;
  }
  return next == kinds.size();
}

}  // namespace format_internal

}  // namespace orvex
