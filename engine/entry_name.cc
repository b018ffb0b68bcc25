#include "engine/entry_name.h"

#include "common/path_text.h"

namespace orvex::engine {

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
      if (const EntryNameStatus status = CheckWindowsName(part);
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

}  // namespace orvex::engine
