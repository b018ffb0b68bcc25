#pragma once

#include <string>

#include "common/result.h"
#include "rules/migration_rules.h"

namespace orvex {

/// Applies one directory rule (copy, create, delete, move) inside the unpacked archive. Negative:
/// the rule is refused and the run must stop; S_FALSE: the operation failed and was logged, the run
/// goes on; otherwise success.
[[nodiscard]] HRESULT ProcessDirectory(std::u16string archive_directory, const DirectoryRule& rule);

}  // namespace orvex
