#pragma once
// Key rules: create a key, delete or rename a key with everything below it, or move one value to
// another key, in one parsed .reg document. Only the in-memory document changes.

#include <array>
#include <string_view>

#include "common/result.h"
#include "regfile/registry_document.h"
#include "rules/migration_rules.h"

namespace orvex {

/// The actions of key rules and their words.
enum class KeyAction { kUnknown = -1, kCreate, kDelete, kMoveValue, kRename };
inline constexpr auto kKeyActions = std::to_array<RuleWord<KeyAction>>({
    {u"create", KeyAction::kCreate},
    {u"delete", KeyAction::kDelete},
    {u"move_value", KeyAction::kMoveValue},
    {u"rename", KeyAction::kRename},
});
/// The word of `action`, as rules write it.
[[nodiscard]] inline std::u16string_view ActionWord(KeyAction action) {
  return WordOf(kKeyActions, action);
}

/// Applies one key rule to `document`. S_OK also when the key or value named is missing or the
/// key to create exists (logged at ERROR, document unchanged; `*outcome` says it found nothing);
/// E_INVALIDARG for a key path without a known root or an unknown action. A rule that does not
/// succeed leaves the document as it was.
[[nodiscard]] HRESULT ProcessRegistryKey(RegistryDocument& document, const KeyRule& rule,
                                         RuleOutcome* outcome = nullptr);

}  // namespace orvex
