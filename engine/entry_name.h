#pragma once
// Checking and splitting the names of archive entries before anything is written for them.

#include <string>
#include <string_view>
#include <vector>

namespace orvex::engine {

/// Whether an entry name may be unpacked, and if not, why.
enum class EntryNameStatus {
  kAccepted,
  kEmpty,            ///< nothing but separators and "." components: names no file
  kAbsolute,         ///< starts with a separator
  kDriveLetter,      ///< starts with "X:"
  kParentComponent,  ///< holds a ".." component
  // Names no Windows profile can hold:
  kControlCharacter,    ///< a code point below 0x20 (a line break, a tab ...)
  kReservedCharacter,   ///< one of < > : " | ? * in a component
  kTrailingDotOrBlank,  ///< a component that ends in "." or " "
  kDeviceName,          ///< a component that names a device (CON, NUL.txt, COM1 ...)
};

/// Splits `name` at "/" and "\" into its components, leaving out empty and "." components, and
/// refuses any name that could reach outside the directory it is unpacked into or that Windows
/// cannot give a file.
EntryNameStatus SplitEntryName(std::u16string_view name, std::vector<std::u16string>* components);

/// A few words on the status for the log ("absolute path" ...).
std::u16string_view EntryNameStatusText(EntryNameStatus status);

}  // namespace orvex::engine
