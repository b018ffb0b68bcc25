#pragma once
// ASCII letter case and blanks, for words that are ASCII by definition (device names, registry
// roots, encoding names, command-line separators) whatever the character type of their text.

#include <cstddef>
#include <string_view>

namespace orvex {

namespace ascii_detail {

template <typename Char>
constexpr bool EqualsIgnoreCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  const auto lower = [](Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
  };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace ascii_detail

/// Whether two texts are equal when the letters A-Z and a-z are taken as one; every other
/// character, accented letters included, must be the same.
constexpr bool EqualsAsciiIgnoreCase(std::string_view a, std::string_view b) {
  return ascii_detail::EqualsIgnoreCase(a, b);
}
constexpr bool EqualsAsciiIgnoreCase(std::u16string_view a, std::u16string_view b) {
  return ascii_detail::EqualsIgnoreCase(a, b);
}

/// A space or a tab.
constexpr bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace orvex
