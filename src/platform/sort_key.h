#pragma once
// The Windows case-insensitive sort order (lstrcmpi, CompareStringW with NORM_IGNORECASE), computed
// on every platform from a table of weights measured on Windows, so that the Linux build orders and
// matches texts exactly as the Windows build does.

#include <string>
#include <string_view>

namespace orvex {

/// The sort key of `text` as LCMapStringW(LCMAP_SORTKEY | NORM_IGNORECASE) writes it, without the
/// final zero byte: byte-wise comparison of two keys gives the sign CompareStringW gives for the
/// texts, and texts it calls equal have equal keys.
std::string SortKey(std::u16string_view text);

/// A key with the same order and equality as SortKey in fewer bytes (one per first-level weight of
/// printable ASCII instead of two), for keys that are stored and compared many times.
std::string ShortSortKey(std::u16string_view text);

}  // namespace orvex
