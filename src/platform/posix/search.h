#pragma once
// Linux only: the wildcard rules of a directory search.

#include <string_view>

namespace orvex::platform::posix {

/// Whether `name` matches the search pattern `pattern` the way Windows matches names, ignoring
/// letter case: "*" any run, "?" one character (or none before a dot or at the end), a "*" before
/// a dot stops at the name's last dot, and a dot before a wildcard or at the end may also stand
/// for nothing at the end of the name. So "*.*" matches every name and "*." names without a dot.
bool NameMatchesPattern(std::u16string_view pattern, std::u16string_view name);

}  // namespace orvex::platform::posix
