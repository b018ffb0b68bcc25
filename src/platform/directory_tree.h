#pragma once
// Directory work built on the services above, the same on every platform.

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/search.h"

namespace orvex::platform {

/// Makes sure `path` is a directory, creating it and every missing parent: ERROR_SUCCESS when it
/// is one (made now or before), ERROR_ALREADY_EXISTS when a non-directory has its name or a
/// parent's, or the error of the creation that failed.
std::uint32_t CreateDirectoryTree(std::u16string_view path);

/// The entries that `pattern` matches, "." and ".." left out, in the order the search gives them:
/// ERROR_SUCCESS (also when nothing matches) or the search's error. The search is closed before
/// this returns, so a walk that descends holds no handle per level.
std::uint32_t ListDirectory(std::u16string_view pattern, std::vector<FindData>* entries);

}  // namespace orvex::platform
