#pragma once
// The entries that match a name pattern, with their full paths: how the .reg files of a profile
// are found.

#include <string>
#include <string_view>

#include "platform/search.h"

namespace orvex {

/// Enumerates the entries that match a pattern, with their full paths.
class FileFinder {
 public:
  /// Starts enumerating `pattern` ("*.*" when empty); false when nothing matches or the
  /// pattern's directory cannot be resolved.
  bool FindFirst(std::u16string_view pattern);
  /// Moves to the next match; false at the end or without an enumeration.
  bool FindNext();
  /// The current entry's full path: the resolved directory of the pattern and the entry's name.
  std::u16string FullPath() const;
  /// The current entry's name.
  const std::u16string& Name() const { return current_.name; }
  /// Whether the current entry is a directory.
  bool IsDirectory() const;
  /// Ends the enumeration, if one is open.
  void Close();

 private:
  platform::FindHandle search_;
  platform::FindData current_;
  std::u16string root_;
};

}  // namespace orvex
