#pragma once
// Checking and splitting the names of archive entries before anything is written for them.

#include <string>
#include <string_view>
#include <vector>

#include "common/windows_names.h"

namespace orvex::engine {

/// Whether an entry name may be unpacked, and if not, why.
using EntryNameStatus = WindowsNameStatus;

/// Splits `name` at "/" and "\" into its components, leaving out empty and "." components, and
/// refuses any name that could reach outside the directory it is unpacked into or that Windows
/// cannot give a file.
EntryNameStatus SplitEntryName(std::u16string_view name, std::vector<std::u16string>* components);

/// A few words on the status for the log ("absolute path" ...).
inline std::u16string_view EntryNameStatusText(EntryNameStatus status) {
  return WindowsNameStatusText(status);
}

}  // namespace orvex::engine
