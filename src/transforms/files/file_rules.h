#pragma once

#include <string>

#include "common/result.h"
#include "rules/migration_rules.h"

namespace orvex {

/// Applies one file rule (convert, copy, create, delete, move) inside the unpacked archive.
/// Negative: the rule is refused, or "create" failed, and the run must stop; S_FALSE: the
/// operation failed and was logged, the run goes on; otherwise success.
[[nodiscard]] HRESULT ProcessFile(std::u16string archive_directory, const FileRule& rule);

}  // namespace orvex
