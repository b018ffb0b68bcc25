#pragma once
// Linux only: turning the system's path text into names the kernel understands, with Windows'
// letter-case matching of existing names.

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace orvex::platform::posix {

/// The UTF-8 path for a path text: a "\\?\" prefix dropped, "\" turned into "/", and each
/// component that does not exist in the exact case replaced by the first existing entry (in name
/// order) that equals it case-insensitively. Drive-letter and "\\server\share" paths have no
/// meaning here and give ERROR_PATH_NOT_FOUND; an embedded NUL gives ERROR_INVALID_NAME.
/// `*absent`, when asked for, tells that the folder of the last component exists and holds no
/// entry of that name in any case. `*st`, when asked for, is lstat of the result (the Win32 error
/// when there is none); a path that exists as written is looked up once.
std::uint32_t ToNativePath(std::u16string_view path, std::string* native, bool* absent = nullptr,
                           struct stat* st = nullptr);

/// A UTF-8 path without its final slashes; "/" stays.
inline std::string_view WithoutFinalSlashes(std::string_view native) {
  while (native.size() > 1 && native.back() == '/') native.remove_suffix(1);
  return native;
}

/// Name order of directory entries: case-insensitive, ties broken by the exact bytes.
int CompareFileNames(std::string_view a, std::string_view b);

/// Whether two UTF-8 file names are equal ignoring letter case.
bool FileNamesEqualIgnoreCase(std::string_view a, std::string_view b);

/// The full path text for `path` against the directory `current` (an absolute path): "\" becomes
/// "/", "." and ".." are resolved, repeated separators collapse and a final separator stays.
/// Drive-letter ("C:/...") and network ("//server/share/...") roots are kept as roots.
std::u16string FullPathText(std::u16string_view path, std::u16string_view current);

}  // namespace orvex::platform::posix
