#pragma once

#include <array>
#include <string>
#include <string_view>

#include "common/result.h"
#include "rules/migration_rules.h"

namespace orvex {

/// The actions of directory rules, numbering their words in kDirectoryActions.
enum class DirectoryAction { kUnknown = -1, kCopy, kCreate, kDelete, kMove };
inline constexpr std::array<std::u16string_view, 4> kDirectoryActions = {u"copy", u"create",
                                                                         u"delete", u"move"};

/// Applies one directory rule (copy, create, delete, move) inside the unpacked archive. Negative:
/// the rule is refused and the run must stop; S_FALSE: the operation failed and was logged, the run
/// goes on; otherwise success.
/// `*outcome` says whether the rule acted, found no source to copy or move, or failed.
[[nodiscard]] HRESULT ProcessDirectory(std::u16string archive_directory, const DirectoryRule& rule,
                                       RuleOutcome* outcome = nullptr);

}  // namespace orvex
