#pragma once
// Collation keys for key paths, made quickly for the printable-ASCII paths that most profiles
// consist of. The bytes are exactly those of CollationKey: its own keys are used for every other
// path, and the quick way is only taken after it has proved, against CollationKey, that it gives
// the same bytes.

#include <string>
#include <string_view>

namespace orvex {

/// The same bytes as CollationKey(path).
std::string PathCollationKey(std::u16string_view path);
/// The same, into `key` (its memory used again).
void PathCollationKey(std::u16string_view path, std::string* key);

/// True when printable-ASCII paths get their keys without asking CollationKey.
bool PathCollationKeysAreQuick();

}  // namespace orvex
