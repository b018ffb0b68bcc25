#include "transforms/registry/key_rules.h"

#include <string>
#include <utility>

#include "logging/logger.h"
#include "platform/text.h"

namespace orvex {
namespace {

HRESULT CreateKey(RegistryDocument& document, const std::u16string& source, RuleOutcome& outcome) {
  if (document.FindKey(source) >= 0) {
    LogError(u"ProcessRegistryKey: Cannot create key '%s' (key already exists)", source);
    outcome = RuleOutcome::kFoundNothing;
    return S_OK;
  }
  document.AddKey(source);
  LogDebug(u"ProcessRegistryKey: Created key '%s'", source);
  return S_OK;
}

HRESULT DeleteKey(RegistryDocument& document, const std::u16string& source, RuleOutcome& outcome) {
  const std::int32_t count = document.DeleteKeyTree(source);
  if (count != 0) {
    LogDebug(u"ProcessRegistryKey: Deleted tree '%s' (%i keys were deleted)", source, count);
  } else {
    LogError(u"ProcessRegistryKey: Cannot delete tree '%s' (tree does not exist)", source);
    outcome = RuleOutcome::kFoundNothing;
  }
  return S_OK;
}

HRESULT RenameKey(RegistryDocument& document, const std::u16string& source,
                  const std::u16string& destination, RuleOutcome& outcome) {
  const std::int32_t count = document.RenameKeyTree(source, destination);
  if (count != 0) {
    LogDebug(u"ProcessRegistryKey: Renamed tree '%s' to '%s' (%i keys were renamed)", source,
             destination, count);
  } else {
    LogError(u"ProcessRegistryKey: Cannot rename tree '%s' (tree does not exist)", source);
    outcome = RuleOutcome::kFoundNothing;
  }
  return S_OK;
}

HRESULT MoveValue(RegistryDocument& document, const std::u16string& source,
                  const std::u16string& destination, const std::u16string& name,
                  RuleOutcome& outcome) {
  const int source_index = document.FindKey(source);
  if (source_index < 0) {
    LogError(u"ProcessRegistryKey: Cannot move value '%s' of key '%s' (key does not exist)", name,
             source);
    outcome = RuleOutcome::kFoundNothing;
    return S_OK;
  }
  const int value_index = document.KeyAt(source_index).values().FindValue(name);
  if (value_index < 0) {
    LogError(u"ProcessRegistryKey: Cannot move value '%s' of key '%s' (value does not exist)", name,
             source);
    outcome = RuleOutcome::kFoundNothing;
    return S_OK;
  }

  const int destination_index = document.FindKey(destination);
  if (destination_index != source_index) {
    const RegistryValueRef copy = document.KeyAt(source_index).values()[value_index].value;
    if (destination_index < 0) {
      // The new key arrives with its value already in it, so that running out of memory cannot
      // leave an empty key behind.
      RegistryKeyEntry entry(destination);
      if (!entry.values().AddValue(name, copy)) return E_OUTOFMEMORY;
      document.AddKey(std::move(entry));
    } else {
      // A value of that name is replaced where it stands; otherwise the copy goes last.
      RegistryValueList& values = document.KeyAt(destination_index).values();
      const int existing = values.FindValue(name);
      if (existing >= 0) {
        values.SetValueAt(existing, copy);
      } else if (!values.AddValue(name, copy)) {
        return E_OUTOFMEMORY;
      }
    }
    // AddKey may have moved the entries; the source is found again by its index, which
    // appending leaves alone.
    document.KeyAt(source_index).values().RemoveValueAt(value_index);
  }
  LogDebug(u"ProcessRegistryKey: Moved value '%s' of key '%s' to key '%s'", name, source,
           destination);
  return S_OK;
}

// The rule's path with its root in full, leaving the rule itself as written; false for a path
// without a known root.
bool NormalizeRulePath(std::u16string_view written, std::u16string* normalized) {
  *normalized = written;
  return NormalizeKeyPath(normalized);
}

// The two actions that also name a destination key.
HRESULT MoveOrRename(RegistryDocument& document, const std::u16string& source, const KeyRule& rule,
                     bool move, RuleOutcome& outcome) {
  std::u16string destination;
  if (!NormalizeRulePath(rule.destination, &destination)) {
    LogFatal(u"ProcessRegistryKey: Invalid destination key '%s'", rule.destination);
    return E_INVALIDARG;
  }
  if (move) return MoveValue(document, source, destination, rule.value, outcome);
  return RenameKey(document, source, destination, outcome);
}

HRESULT ApplyKeyRule(RegistryDocument& document, const KeyRule& rule, RuleOutcome& outcome) {
  std::u16string source;
  if (!NormalizeRulePath(rule.source, &source)) {
    LogFatal(u"ProcessRegistryKey: Invalid source key '%s'", rule.source);
    return E_INVALIDARG;
  }

  switch (FindAction(kKeyActions, rule.action)) {
    case KeyAction::kCreate:
      return CreateKey(document, source, outcome);
    case KeyAction::kDelete:
      return DeleteKey(document, source, outcome);
    case KeyAction::kMoveValue:
      return MoveOrRename(document, source, rule, /*move=*/true, outcome);
    case KeyAction::kRename:
      return MoveOrRename(document, source, rule, /*move=*/false, outcome);
    case KeyAction::kUnknown:
      break;
  }
  LogError(u"ProcessRegistryKey: Unknown action '%s'", rule.action);
  return E_INVALIDARG;
}

}  // namespace

HRESULT ProcessRegistryKey(RegistryDocument& document, const KeyRule& rule, RuleOutcome* outcome) {
  RuleOutcome found = RuleOutcome::kActed;
  const HRESULT hr = ApplyKeyRule(document, rule, found);
  TellOutcome(hr, found, outcome);
  return hr;
}

}  // namespace orvex
