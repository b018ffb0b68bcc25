#pragma once
// Where a profile keeps its registry files: the files named *.reg directly inside its top-level
// folder "Registry", the folder's name matched ignoring letter case. The migration's registry
// pass, the companion's profile reader and the engine's import all find them by this one rule.

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "common/result.h"

namespace orvex {

/// The top-level folder of a profile that holds its registry files, and their extension.
inline constexpr std::u16string_view kRegistryFolderName = u"Registry";
inline constexpr std::u16string_view kRegFileExtension = u".reg";

/// Whether a top-level name of a profile is its registry folder.
bool IsRegistryFolder(std::u16string_view name);

/// Whether an archive entry, given by its path components below the profile's root, is one of the
/// profile's registry files: a file (not a directory) directly in the registry folder whose name
/// is longer than its extension.
bool IsRegFileEntry(std::span<const std::u16string> components, bool directory);

/// One registry file of a profile on disk.
struct RegFile {
  std::u16string_view folder_name;  ///< the registry folder's name as the profile writes it
  std::u16string_view name;         ///< the file's name as its folder holds it
  std::u16string_view path;         ///< its full path
};

/// Calls `visit` for each registry file of the profile folder `root`, in the order the directory
/// search gives them; a profile without a registry folder has none. The first failure of `visit`
/// ends the walk and is returned; so is a failure to form the search pattern.
[[nodiscard]] HRESULT ForEachRegFile(std::u16string_view root,
                                     const std::function<HRESULT(const RegFile&)>& visit);

}  // namespace orvex
