#pragma once
// Path text: roots, extensions, the long-path prefix, joining, and full paths. The text functions
// follow the Windows rules on every platform; only ResolveFullPath asks the platform layer.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace orvex {

/// S_OK with the root's length for a rooted path, S_FALSE for a relative (or empty) one,
/// E_INVALIDARG for a malformed root (C:, C:x, \\server without a share, \\?\ then a separator).
[[nodiscard]] HRESULT GetRootLength(std::u16string_view path, int* root_length = nullptr);

/// Index of the extension's dot in `path`, or path.size() when it has no extension.
std::size_t FindExtension(std::u16string_view path);

/// Index where the file-name part of `path` begins: behind the last separator, or behind a
/// drive letter's colon.
std::size_t FindFileName(std::u16string_view path);

/// The path with the long-path prefix ("\\?\" or "\\?\UNC\"); E_INVALIDARG when it is neither a
/// drive path nor a network path.
[[nodiscard]] HRESULT AddLongPathPrefix(std::u16string_view path, std::u16string* prefixed);

/// Joins a directory and a name with the platform separator; a rooted name stands alone.
[[nodiscard]] HRESULT CombinePath(std::u16string_view directory, std::u16string_view name,
                                  std::u16string* out);

/// Makes `path` absolute in place, against `base_directory` when one is given (the current
/// directory is restored on every way out), optionally expanding environment variables first.
/// `file_name_position` receives where the final component begins. The path changes only on
/// success.
[[nodiscard]] HRESULT ResolveFullPath(std::u16string* path, std::u16string_view base_directory = {},
                                      std::size_t* file_name_position = nullptr,
                                      bool expand_environment = false);

}  // namespace orvex
