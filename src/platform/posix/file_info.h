#pragma once
// Linux only: what lstat says about a name, in the terms of the Win32 attribute word, shared by
// the file, directory and search calls.

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace orvex::platform::posix {

/// The attribute word of an entry: DIRECTORY from its type, READONLY when the owner may not
/// write (never for a link), HIDDEN when the final component of `native` starts with '.';
/// NORMAL when none applies.
std::uint32_t AttributesOf(std::string_view native, const struct stat& st);

/// Whether Windows would see the entry as read-only and refuse to replace or remove it, which
/// permission bits alone do not stop for a privileged user.
bool IsReadOnly(const struct stat& st);

/// The native path of `path` and lstat of it; the Win32 error when either fails.
std::uint32_t Stat(std::u16string_view path, std::string* native, struct stat* st);

}  // namespace orvex::platform::posix
