#include "transforms/registry/value_rules.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "common/little_endian.h"
#include "logging/logger.h"
#include "paths/folder_tokens.h"
#include "paths/paths.h"
#include "platform/text.h"
#include "regfile/reg_reader.h"
#include "regfile/reg_writer.h"
#include "text/base64.h"
#include "text/number.h"

namespace orvex {
namespace {

// What a value rule names: the key path with its root in full, and the value's name.
struct Target {
  const std::u16string& key;
  const std::u16string& name;
};

void AppendUnit(std::vector<std::uint8_t>* bytes, char16_t unit) {
  bytes->push_back(static_cast<std::uint8_t>(unit & 0xFF));
  bytes->push_back(static_cast<std::uint8_t>(unit >> 8));
}

void AppendText(std::vector<std::uint8_t>* bytes, std::u16string_view text) {
  for (const char16_t unit : text) AppendUnit(bytes, unit);
}

// The text and its NUL, as REG_SZ and REG_EXPAND_SZ hold it.
std::vector<std::uint8_t> StringBytes(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(2 * text.size() + 2);
  AppendText(&bytes, text);
  AppendUnit(&bytes, u'\0');
  return bytes;
}

// One NUL-terminated string per non-empty line, then the closing NUL. Only line feeds split, so
// a carriage return stays part of its piece.
std::vector<std::uint8_t> MultiStringBytes(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(2 * text.size() + 4);
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t end = std::min(text.find(u'\n', position), text.size());
    if (end > position) {
      AppendText(&bytes, text.substr(position, end - position));
      AppendUnit(&bytes, u'\0');
    }
    position = end + 1;
  }
  AppendUnit(&bytes, u'\0');
  return bytes;
}

HRESULT IntegerBytes(const Target& target, std::u16string_view text,
                     std::vector<std::uint8_t>* bytes) {
  std::uint32_t number = 0;
  const HRESULT converted = TextToUInt32(text, &number);
  if (FAILED(converted)) {
    LogError(u"ProcessRegistryValue: Value '%s' of key '%s' is not REG_DWORD", target.name,
             target.key);
    return converted;
  }
  const auto dword = DwordBytes(number);
  bytes->assign(dword.begin(), dword.end());
  return S_OK;
}

HRESULT BinaryBytes(const Target& target, std::u16string_view text,
                    std::vector<std::uint8_t>* bytes) {
  Base64Step failed = Base64Step::kMeasure;
  const std::uint32_t answer = DecodeBase64Text(text, bytes, &failed);
  if (answer == ERROR_SUCCESS) return S_OK;
  switch (failed) {
    case Base64Step::kMeasure:
      LogError(
          u"ProcessRegistryValue: Failed to get length of decoded data for value '%s' of key '%s'",
          target.name, target.key);
      break;
    case Base64Step::kAllocate:
      LogError(
          u"ProcessRegistryValue: Failed to allocate memory for decoded data for value '%s' of "
          u"key '%s'",
          target.name, target.key);
      break;
    case Base64Step::kDecode:
      LogError(u"ProcessRegistryValue: Failed to decode data for value '%s' of key '%s'",
               target.name, target.key);
      break;
  }
  return HResultFromWin32(answer);
}

// The registry data of `type` for the rule's text, after the flag step.
HRESULT BuildData(const Target& target, std::uint32_t type, std::u16string_view text,
                  std::vector<std::uint8_t>* bytes) {
  if (type == REG_BINARY) return BinaryBytes(target, text, bytes);
  try {
    switch (type) {
      case REG_SZ:
      case REG_EXPAND_SZ:
        *bytes = StringBytes(text);
        return S_OK;
      case REG_MULTI_SZ:
        *bytes = MultiStringBytes(text);
        return S_OK;
      case REG_DWORD:
        return IntegerBytes(target, text, bytes);
    }
  } catch (const std::bad_alloc&) {
    LogError(
        u"ProcessRegistryValue: Failed to allocate memory to read data for value '%s' of key "
        u"'%s'",
        target.name, target.key);
    return E_OUTOFMEMORY;
  }
  return E_INVALIDARG;  // unknown types are refused before any data is built
}

// Flags pick one rewrite of the text; they are alternatives, not bits. An unusable flag is
// reported, the text stays as written and the rule counts as failed, though it goes on.
HRESULT ApplyFlag(const Target& target, std::u16string_view flags, std::u16string* text,
                  RuleOutcome& outcome) {
  std::int32_t flag = 0;
  if (FAILED(TextToInt32(flags, &flag))) {
    LogError(u"ProcessRegistryValue: Value '%s' of key '%s', unknown flag '%s'", target.name,
             target.key, flags);
    outcome = RuleOutcome::kFailed;
    return S_OK;
  }
  switch (flag) {
    case 1:
      return ResolveFullPath(text, {}, nullptr, /*expand_environment=*/true);
    case 2:
      return ExpandFolderToken(text);
    default:
      LogError(u"ProcessRegistryValue: Value '%s' of key '%s', unknown flag '%i'", target.name,
               target.key, flag);
      outcome = RuleOutcome::kFailed;
      return S_OK;
  }
}

// Messages that name a value and its key, in that order.
using ValueMessage = FormatStringFor<std::u16string, std::u16string>;

// The value that a convert, delete or rename works on: its list and its index there, or null
// after the action's own message about the missing key or value.
RegistryValueList* FindExistingValue(RegistryDocument& document, const Target& target,
                                     ValueMessage key_missing, ValueMessage value_missing,
                                     int* index, RuleOutcome& outcome) {
  const int key_index = document.FindKey(target.key);
  if (key_index < 0) {
    LogError(key_missing, target.name, target.key);
    outcome = RuleOutcome::kFoundNothing;
    return nullptr;
  }
  RegistryValueList& values = document.KeyAt(key_index).values();
  *index = values.FindValue(target.name);
  if (*index < 0) {
    LogError(value_missing, target.name, target.key);
    outcome = RuleOutcome::kFoundNothing;
    return nullptr;
  }
  return &values;
}

HRESULT ConvertValue(RegistryDocument& document, const Target& target, const ValueRule& rule,
                     RuleOutcome& outcome) {
  int index = -1;
  RegistryValueList* values = FindExistingValue(
      document, target,
      u"ProcessRegistryValue: Cannot convert value '%s' of key '%s' (key does not exist)",
      u"ProcessRegistryValue: Cannot convert value '%s' of key '%s' (value does not exist)", &index,
      outcome);
  if (values == nullptr) return S_OK;
  // Only the type tag changes: the bytes stay as they are, even where they do not fit it.
  values->RetypeValueAt(index, RegistryTypeFromWord(rule.type));
  LogDebug(u"ProcessRegistryValue: Converted value '%s' of key '%s' to '%s'", target.name,
           target.key, rule.type);
  return S_OK;
}

HRESULT DeleteValue(RegistryDocument& document, const Target& target, RuleOutcome& outcome) {
  int index = -1;
  RegistryValueList* values = FindExistingValue(
      document, target,
      u"ProcessRegistryValue: Cannot delete value '%s' of key '%s' (key does not exist)",
      u"ProcessRegistryValue: Cannot delete value '%s' of key '%s' (value does not exist)", &index,
      outcome);
  if (values == nullptr) return S_OK;
  values->RemoveValueAt(index);
  LogDebug(u"ProcessRegistryValue: Deleted value '%s' of key '%s'", target.name, target.key);
  return S_OK;
}

HRESULT RenameValue(RegistryDocument& document, const Target& target, const ValueRule& rule,
                    RuleOutcome& outcome) {
  int index = -1;
  RegistryValueList* values = FindExistingValue(
      document, target,
      u"ProcessRegistryValue: Cannot rename value '%s' of key '%s' (key does not exist)",
      u"ProcessRegistryValue: Cannot rename value '%s' of key '%s' (value does not exist)", &index,
      outcome);
  if (values == nullptr) return S_OK;
  // The new name is not checked: it may be empty (the default value) or clash with another.
  values->RenameValueAt(index, rule.destination);
  LogDebug(u"ProcessRegistryValue: Renamed value '%s' of key '%s' to '%s'", target.name, target.key,
           rule.destination);
  return S_OK;
}

HRESULT SetValue(RegistryDocument& document, const Target& target, const ValueRule& rule,
                 RuleOutcome& outcome) {
  const std::uint32_t type = RegistryTypeFromWord(rule.type);
  // The rule is shared by every .reg file of the run, so the flag step works on a copy.
  std::u16string text = rule.data;
  if (!rule.flags.empty()) {
    const HRESULT flagged = ApplyFlag(target, rule.flags, &text, outcome);
    if (FAILED(flagged)) return flagged;
  }
  if (type == REG_NONE) {
    LogError(u"ProcessRegistryValue: Cannot set value '%s' of key '%s' (unknown type '%s')",
             target.name, target.key, rule.type);
    return E_INVALIDARG;
  }
  RegistryValueEntry entry{type, {}};
  RETURN_IF_FAILED(BuildData(target, type, text, &entry.data));
  // The file written at the end of the pass must read back, in this run's next step or the next
  // migration of the output archive.
  if (!FitsRegFile(entry)) {
    LogError(
        u"ProcessRegistryValue: Cannot set value '%s' of key '%s' (%lld bytes of data, more than "
        u"the %lld a .REG file holds for one value)",
        target.name, target.key, static_cast<std::int64_t>(entry.data.size()),
        static_cast<std::int64_t>(kMaxHexBytes));
    outcome = RuleOutcome::kFailed;
    return S_OK;
  }

  const int key_index = document.FindKey(target.key);
  if (key_index < 0) {
    // The key arrives with its value in it, so a failure cannot leave an empty key behind.
    RegistryKeyEntry key(target.key);
    if (!key.values().AddValue(target.name, entry)) return E_OUTOFMEMORY;
    document.AddKey(std::move(key));
    LogDebug(u"ProcessRegistryValue: Created key '%s'", target.key);
    LogDebug(u"ProcessRegistryValue: Added value '%s' to key '%s'", target.name, target.key);
    return S_OK;
  }
  RegistryValueList& values = document.KeyAt(key_index).values();
  const int value_index = values.FindValue(target.name);
  if (value_index < 0) {
    if (!values.AddValue(target.name, entry)) return E_OUTOFMEMORY;
    LogDebug(u"ProcessRegistryValue: Added value '%s' to key '%s'", target.name, target.key);
  } else {
    values.SetValueAt(value_index, entry);
    LogDebug(u"ProcessRegistryValue: Modified value '%s' of key '%s'", target.name, target.key);
  }
  return S_OK;
}

HRESULT ApplyValueRule(RegistryDocument& document, const ValueRule& rule, RuleOutcome& outcome) {
  std::u16string key = rule.key;
  if (!NormalizeKeyPath(&key)) {
    LogFatal(u"ProcessRegistryValue: Invalid source key '%s'", rule.key);
    return E_INVALIDARG;
  }
  const Target target{key, rule.source};

  switch (FindAction(kValueActions, rule.action)) {
    case ValueAction::kConvert:
      return ConvertValue(document, target, rule, outcome);
    case ValueAction::kDelete:
      return DeleteValue(document, target, outcome);
    case ValueAction::kRename:
      return RenameValue(document, target, rule, outcome);
    case ValueAction::kSet:
      return SetValue(document, target, rule, outcome);
    case ValueAction::kUnknown:
      break;
  }
  LogError(u"ProcessRegistryValue: Unknown action '%s'", rule.action);
  return E_INVALIDARG;
}

}  // namespace

HRESULT ProcessRegistryValue(RegistryDocument& document, const ValueRule& rule,
                             RuleOutcome* outcome) {
  RuleOutcome found = RuleOutcome::kActed;
  const HRESULT hr = ApplyValueRule(document, rule, found);
  TellOutcome(hr, found, outcome);
  return hr;
}

}  // namespace orvex
