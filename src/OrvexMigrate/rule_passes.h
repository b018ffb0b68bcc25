#pragma once
// The two passes between unpacking and packing: every .reg file of the profile rewritten by the
// key and value rules, then the directory and file rules applied to the unpacked tree. Both walk
// the one rule list in document order and pick the rules of their kinds.

#include <string_view>

#include "common/result.h"
#include "rules/migration_rules.h"

namespace orvex {

/// Parses each .reg file directly inside the archive's Registry folder, applies every key and
/// value rule, sorts the keys, places the import markers and writes the file back. The first
/// failure is returned (and logged); kStoppedOnRequest, unlogged, when the user asks to stop,
/// before a file or a rule.
[[nodiscard]] HRESULT RunRegistryFilePass(std::u16string_view archive_directory,
                                          const MigrationRules& rules);

/// Applies every directory and file rule to the unpacked tree; a negative result is returned at
/// once, non-negative ones let the pass go on. kStoppedOnRequest, unlogged, when the user asks
/// to stop, before a rule.
[[nodiscard]] HRESULT RunFilePass(std::u16string_view archive_directory,
                                  const MigrationRules& rules);

}  // namespace orvex
