// The rules of a derived migration that write a value as the example holds it.
#include <algorithm>

#include "OrvexInspect/derive.h"
#include "OrvexInspect/registry_describe.h"
#include "OrvexInspect/registry_diff.h"
#include "common/little_endian.h"
#include "reports/report_text.h"
#include "transforms/registry/value_rules.h"

namespace orvex {

MigrationRule KeyRuleOf(KeyAction action, std::u16string_view source,
                        std::u16string_view destination) {
  MigrationRule rule;
  rule.kind = RuleKind::Key;
  rule.key.action = ActionWord(action);
  rule.key.source = source;
  rule.key.destination = destination;
  return rule;
}

MigrationRule ValueRuleOf(ValueAction action, std::u16string_view key, std::u16string_view name) {
  MigrationRule rule;
  rule.kind = RuleKind::Value;
  rule.value.action = ActionWord(action);
  rule.value.key = key;
  rule.value.source = name;
  return rule;
}

namespace {

// Whether the value rules, run on an empty document, give the value exactly `wanted`.
bool Builds(const std::vector<MigrationRule>& rules, const RegistryValueRef& wanted) {
  RegistryDocument scratch;
  for (const MigrationRule& rule : rules) {
    if (FAILED(ProcessRegistryValue(scratch, rule.value))) return false;
  }
  std::u16string key = rules.front().value.key;
  if (!NormalizeKeyPath(&key)) return false;
  const int index = scratch.FindKey(key);
  if (index < 0) return false;
  const RegistryValueList& values = scratch.KeyAt(index).values();
  const int value = values.FindValue(rules.front().value.source);
  return value >= 0 && values[value].value == wanted;
}

}  // namespace

bool EncodeValue(std::u16string_view key, std::u16string_view name, const RegistryValueRef& value,
                 std::vector<MigrationRule>* rules) {
  auto set = [&](std::u16string_view type, std::u16string data) {
    MigrationRule rule = ValueRuleOf(ValueAction::kSet, key, name);
    rule.value.type = type;
    rule.value.data = std::move(data);
    return rule;
  };
  std::vector<std::vector<MigrationRule>> tries;
  std::u16string text;
  std::vector<std::u16string> strings;
  if ((value.type == REG_SZ || value.type == REG_EXPAND_SZ) && ValueText(value, &text) &&
      IsXmlText(text)) {
    tries.push_back({set(WordOf(kValueTypes, value.type), text)});
  }
  if (value.type == REG_DWORD && value.data.size() == 4) {
    tries.push_back(
        {set(WordOf(kValueTypes, REG_DWORD), DecimalText(LoadLe32(value.data.data())))});
  }
  // A rule's text drops empty strings.
  if (value.type == REG_MULTI_SZ && ValueStrings(value, &strings) &&
      std::none_of(strings.begin(), strings.end(),
                   [](const std::u16string& line) { return line.empty(); })) {
    std::u16string lines;
    for (const std::u16string& line : strings) lines += (lines.empty() ? u"" : u"\n") + line;
    if (IsXmlText(lines)) tries.push_back({set(WordOf(kValueTypes, REG_MULTI_SZ), lines)});
  }
  if (!value.data.empty() && !WordOf(kValueTypes, value.type).empty()) {
    std::vector<MigrationRule> binary = {
        set(WordOf(kValueTypes, REG_BINARY), Base64Encode(value.data))};
    if (value.type != REG_BINARY) {
      binary.push_back(ValueRuleOf(ValueAction::kConvert, key, name));
      binary.back().value.type = WordOf(kValueTypes, value.type);
    }
    tries.push_back(std::move(binary));
  }
  for (std::vector<MigrationRule>& candidate : tries) {
    if (Builds(candidate, value)) {
      *rules = std::move(candidate);
      return true;
    }
  }
  return false;
}

}  // namespace orvex
