#pragma once

#include <array>
#include <string>
#include <string_view>

#include "common/result.h"
#include "rules/migration_rules.h"

namespace orvex {

/// The actions of file rules and their words.
enum class FileAction { kUnknown = -1, kConvert, kCopy, kCreate, kDelete, kMove };
inline constexpr auto kFileActions = std::to_array<RuleWord<FileAction>>({
    {u"convert", FileAction::kConvert},
    {u"copy", FileAction::kCopy},
    {u"create", FileAction::kCreate},
    {u"delete", FileAction::kDelete},
    {u"move", FileAction::kMove},
});
/// The word of `action`, as rules write it.
[[nodiscard]] inline std::u16string_view ActionWord(FileAction action) {
  return WordOf(kFileActions, action);
}

/// Applies one file rule (convert, copy, create, delete, move) inside the unpacked archive.
/// Negative: the rule is refused, or "create" failed, and the run must stop; S_FALSE: the
/// operation failed and was logged, the run goes on; otherwise success.
/// `*outcome` says whether the rule acted, found no source to copy or move, or failed.
[[nodiscard]] HRESULT ProcessFile(std::u16string archive_directory, const FileRule& rule,
                                  RuleOutcome* outcome = nullptr);

}  // namespace orvex
