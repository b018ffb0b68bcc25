#pragma once
// Path text as Windows writes it, whatever system the program runs on: "\" and "/" both separate
// components, and a drive letter is an ASCII letter before ":".

#include <string_view>

namespace orvex {

inline bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

inline bool IsAsciiLetter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

inline bool EndsInSeparator(std::u16string_view path) {
  return !path.empty() && IsSeparator(path.back());
}

/// The path without its final separators; a path of separators alone keeps the first.
inline std::u16string_view WithoutFinalSeparators(std::u16string_view path) {
  while (path.size() > 1 && IsSeparator(path.back())) path.remove_suffix(1);
  return path;
}

/// The path without its last component and the separators before it ("a/b/" gives "a", "/x"
/// gives "/"); empty when no separator comes before the last component.
inline std::u16string_view ParentOf(std::u16string_view path) {
  std::size_t end = WithoutFinalSeparators(path).size();
  while (end > 0 && !IsSeparator(path[end - 1])) --end;
  return end == 0 ? std::u16string_view() : WithoutFinalSeparators(path.substr(0, end));
}

}  // namespace orvex
