#pragma once
// The names Windows cannot give a file or folder. The engine refuses an archive entry with such a
// name, so whatever puts names into a profile keeps to these rules: an archive the tool writes
// must unpack and migrate again on either system.

#include <cstddef>
#include <string_view>

#include "common/ascii.h"

namespace orvex {

/// Whether a name may stand in a profile, and if not, why.
enum class WindowsNameStatus {
  kAccepted,
  // Of a relative path as a whole:
  kEmpty,            ///< nothing but separators and "." components: names no file
  kAbsolute,         ///< starts with a separator
  kDriveLetter,      ///< starts with "X:"
  kParentComponent,  ///< holds a ".." component
  // Of one component:
  kControlCharacter,    ///< a code point below 0x20 (a line break, a tab ...)
  kReservedCharacter,   ///< one of < > : " | ? * in a component
  kTrailingDotOrBlank,  ///< a component that ends in "." or " "
  kDeviceName,          ///< a component that names a device (CON, NUL.txt, COM1 ...)
};

namespace windows_names_detail {

// Windows opens a device for these names, with or without an extension and trailing blanks.
inline bool IsDeviceName(std::u16string_view component) {
  std::u16string_view stem = component.substr(0, component.find(u'.'));
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  for (const std::u16string_view device : {u"CON", u"PRN", u"AUX", u"NUL"}) {
    if (EqualsAsciiIgnoreCase(stem, device)) return true;
  }
  if (stem.size() != 4) return false;
  const std::u16string_view prefix = stem.substr(0, 3);
  const char16_t number = stem[3];
  const bool is_port_number = (number >= u'0' && number <= u'9') || number == u'\u00B9' ||
                              number == u'\u00B2' || number == u'\u00B3';
  return is_port_number &&
         (EqualsAsciiIgnoreCase(prefix, u"COM") || EqualsAsciiIgnoreCase(prefix, u"LPT"));
}

}  // namespace windows_names_detail

/// Why Windows could not give a file the name `component` (not empty, not "." or ".."), or
/// kAccepted.
inline WindowsNameStatus CheckWindowsName(std::u16string_view component) {
  for (const char16_t c : component) {
    if (c < 0x20) return WindowsNameStatus::kControlCharacter;
  }
  if (component.find_first_of(u"<>:\"|?*") != std::u16string_view::npos) {
    return WindowsNameStatus::kReservedCharacter;
  }
  if (component.back() == u'.' || component.back() == u' ') {
    return WindowsNameStatus::kTrailingDotOrBlank;
  }
  if (windows_names_detail::IsDeviceName(component)) return WindowsNameStatus::kDeviceName;
  return WindowsNameStatus::kAccepted;
}

/// A few words on the status for a log ("absolute path" ...).
inline std::u16string_view WindowsNameStatusText(WindowsNameStatus status) {
  switch (status) {
    case WindowsNameStatus::kAccepted:
      return u"accepted";
    case WindowsNameStatus::kEmpty:
      return u"empty name";
    case WindowsNameStatus::kAbsolute:
      return u"absolute path";
    case WindowsNameStatus::kDriveLetter:
      return u"drive letter";
    case WindowsNameStatus::kParentComponent:
      return u"'..' component";
    case WindowsNameStatus::kControlCharacter:
      return u"control character";
    case WindowsNameStatus::kReservedCharacter:
      return u"character Windows does not allow in names";
    case WindowsNameStatus::kTrailingDotOrBlank:
      return u"name ending in a dot or a blank";
    case WindowsNameStatus::kDeviceName:
      return u"device name";
  }
  return u"unknown";
}

}  // namespace orvex
