#include "engine/entry_name.h"

#include "common/path_text.h"

namespace orvex::engine {
namespace {

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c; }

bool EqualsAsciiIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// Windows opens a device for these names, with or without an extension and trailing blanks.
bool IsDeviceName(std::u16string_view component) {
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

// Why Windows could not give a file the name `component`, or kAccepted.
EntryNameStatus CheckComponent(std::u16string_view component) {
  for (const char16_t c : component) {
    if (c < 0x20) return EntryNameStatus::kControlCharacter;
  }
  if (component.find_first_of(u"<>:\"|?*") != std::u16string_view::npos) {
    return EntryNameStatus::kReservedCharacter;
  }
  if (component.back() == u'.' || component.back() == u' ') {
    return EntryNameStatus::kTrailingDotOrBlank;
  }
  if (IsDeviceName(component)) return EntryNameStatus::kDeviceName;
  return EntryNameStatus::kAccepted;
}

}  // namespace

EntryNameStatus SplitEntryName(std::u16string_view name, std::vector<std::u16string>* components) {
  components->clear();
  if (!name.empty() && IsSeparator(name[0])) return EntryNameStatus::kAbsolute;
  // "C:x" is relative to a drive's current directory on Windows: still not ours to write.
  if (name.size() >= 2 && IsAsciiLetter(name[0]) && name[1] == u':') {
    return EntryNameStatus::kDriveLetter;
  }
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    const std::u16string_view part = name.substr(start, end - start);
    if (part == u"..") {
      components->clear();
      return EntryNameStatus::kParentComponent;
    }
    if (!part.empty() && part != u".") {
      if (const EntryNameStatus status = CheckComponent(part);
          status != EntryNameStatus::kAccepted) {
        components->clear();
        return status;
      }
      components->emplace_back(part);
    }
    start = end + 1;
  }
  return components->empty() ? EntryNameStatus::kEmpty : EntryNameStatus::kAccepted;
}

std::u16string_view EntryNameStatusText(EntryNameStatus status) {
  switch (status) {
    case EntryNameStatus::kAccepted:
      return u"accepted";
    case EntryNameStatus::kEmpty:
      return u"empty name";
    case EntryNameStatus::kAbsolute:
      return u"absolute path";
    case EntryNameStatus::kDriveLetter:
      return u"drive letter";
    case EntryNameStatus::kParentComponent:
      return u"'..' component";
    case EntryNameStatus::kControlCharacter:
      return u"control character";
    case EntryNameStatus::kReservedCharacter:
      return u"character Windows does not allow in names";
    case EntryNameStatus::kTrailingDotOrBlank:
      return u"name ending in a dot or a blank";
    case EntryNameStatus::kDeviceName:
      return u"device name";
  }
  return u"unknown";
}

}  // namespace orvex::engine
