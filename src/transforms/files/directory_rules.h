#pragma once

#include <array>
#include <string>
#include <string_view>

#include "common/result.h"
#include "rules/migration_rules.h"

namespace orvex {

/// The actions of directory rules and their words.
enum class DirectoryAction { kUnknown = -1, kCopy, kCreate, kDelete, kMove };
inline constexpr auto kDirectoryActions = std::to_array<RuleWord<DirectoryAction>>({
    {u"copy", DirectoryAction::kCopy},
    {u"create", DirectoryAction::kCreate},
    {u"delete", DirectoryAction::kDelete},
    {u"move", DirectoryAction::kMove},
});
/// The word of `action`, as rules write it.
[[nodiscard]] inline std::u16string_view ActionWord(DirectoryAction action) {
  return WordOf(kDirectoryActions, action);
}

/// Applies one directory rule (copy, create, delete, move) inside the unpacked archive. Negative:
/// the rule is refused and the run must stop; S_FALSE: the operation failed and was logged, the run
/// goes on; otherwise success.
/// `*outcome` says whether the rule acted, found no source to copy or move, or failed.
[[nodiscard]] HRESULT ProcessDirectory(std::u16string archive_directory, const DirectoryRule& rule,
                                       RuleOutcome* outcome = nullptr);

}  // namespace orvex
