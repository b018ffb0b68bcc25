#pragma once
// The .reg file reader: UTF-16LE text with a byte-order mark and the version 5.00 header, read in
// one pass with one character of push-back. Strict about structure, lenient about blanks and
// comments; deletion entries ([-key], "name"=-) are not accepted.

#include <cstddef>
#include <string_view>

#include "common/result.h"
#include "regfile/registry_document.h"

namespace orvex {

/// The first line is not the registry editor header.
constexpr HRESULT kRegHeaderMismatch = static_cast<HRESULT>(0x80048000);

/// Longest key line after `[` (path, `]` and anything after it), in UTF-16 code units.
constexpr std::size_t kMaxKeyLineUnits = 8191;
/// Longest value name between quotes, after escapes.
constexpr std::size_t kMaxValueNameUnits = 16382;
/// Longest string data between quotes, after escapes.
constexpr std::size_t kMaxStringUnits = 524286;
/// Most bytes in one hex list.
constexpr std::size_t kMaxHexBytes = 1048576;

/// Where and why reading a .reg file stopped, for a person who wants to mend the file.
struct RegReadStop {
  std::size_t line = 0;     ///< 1-based; 0 when the file could not be opened or read at all
  std::u16string_view why;  ///< what was wrong there; empty when nothing more can be said
};

/// Reads the .reg file at `path` into `document`, merging repeated sections into the first.
/// S_OK, or: the platform error as HRESULT when the file cannot be opened or read; E_NOTIMPL for
/// a file without the UTF-16LE byte-order mark or of another version; kRegHeaderMismatch;
/// E_UNEXPECTED for a structural error or version 0; HRESULT of ERROR_HANDLE_EOF for a file that
/// ends inside a construct; HRESULT of ERROR_INSUFFICIENT_BUFFER for text or bytes over capacity;
/// E_OUTOFMEMORY when a value cannot be stored. On failure the document keeps what was read and
/// `*stop`, when given, says where and why the reading stopped.
[[nodiscard]] HRESULT ParseRegFile(RegistryDocument& document, std::u16string_view path,
                                   RegReadStop* stop = nullptr);

}  // namespace orvex
