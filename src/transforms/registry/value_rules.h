#pragma once
// Value rules: set a value from rule text, delete, rename or retype it, in one parsed .reg
// document. Setting turns the rule's text into registry data of the rule's type, after an
// optional path or folder-token expansion. Only the in-memory document changes.

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "regfile/registry_document.h"
#include "rules/migration_rules.h"

namespace orvex {

/// The actions of value rules and their words.
enum class ValueAction { kUnknown = -1, kConvert, kDelete, kRename, kSet };
inline constexpr auto kValueActions = std::to_array<RuleWord<ValueAction>>({
    {u"convert", ValueAction::kConvert},
    {u"delete", ValueAction::kDelete},
    {u"rename", ValueAction::kRename},
    {u"set", ValueAction::kSet},
});
/// The word of `action`, as rules write it.
[[nodiscard]] inline std::u16string_view ActionWord(ValueAction action) {
  return WordOf(kValueActions, action);
}

/// The type words of value rules, in alphabetical order, and the registry types they name.
inline constexpr auto kValueTypes = std::to_array<RuleWord<std::uint32_t>>({
    {u"binary", REG_BINARY},
    {u"expandable", REG_EXPAND_SZ},
    {u"integer", REG_DWORD},
    {u"multi", REG_MULTI_SZ},
    {u"string", REG_SZ},
});

/// The registry type a rule's type word names (case-insensitive), or REG_NONE.
[[nodiscard]] inline std::uint32_t RegistryTypeFromWord(std::u16string_view word) {
  return WordMeaning(kValueTypes, word, REG_NONE);
}

/// Applies one value rule to `document`. S_OK also when "convert", "delete" or "rename" find no
/// key or value (logged at ERROR); E_INVALIDARG for a key path without a known root, an unknown
/// action or an unknown type to set; the failure of a flag step, of the number conversion or of
/// the Base64 decoding otherwise. The document changes only when the rule succeeds. `*outcome`
/// tells a rule that found no key or value from one that acted or failed.
[[nodiscard]] HRESULT ProcessRegistryValue(RegistryDocument& document, const ValueRule& rule,
                                           RuleOutcome* outcome = nullptr);

}  // namespace orvex
