#include "rules/xml_config.h"

#include "logging/logger.h"
#include "resources/string_table.h"

namespace orvex {
namespace {

// The fields every record has.
template <typename Record>
std::u16string* CommonField(Record& record, RuleAttribute attribute) {
  if (attribute == RuleAttribute::kAction) return &record.action;
  if (attribute == RuleAttribute::kDestination) return &record.destination;
  if (attribute == RuleAttribute::kSource) return &record.source;
  return nullptr;
}

// The field of `rule`'s record that `attribute` fills; null for attributes not listed for the
// element.
std::u16string* FieldFor(MigrationRule& rule, RuleAttribute attribute) {
  switch (rule.kind) {
    case RuleKind::Directory:
      return CommonField(rule.directory, attribute);
    case RuleKind::File:
      return CommonField(rule.file, attribute);
    case RuleKind::Key:
      if (attribute == RuleAttribute::kValue) return &rule.key.value;
      return CommonField(rule.key, attribute);
    case RuleKind::Value:
      if (attribute == RuleAttribute::kKey) return &rule.value.key;
      if (attribute == RuleAttribute::kFlags) return &rule.value.flags;
      if (attribute == RuleAttribute::kType) return &rule.value.type;
      return CommonField(rule.value, attribute);
  }
  return nullptr;
}

// The field that the attribute named `name` fills (names are case-sensitive).
std::u16string* FieldFor(MigrationRule& rule, std::u16string_view name) {
  for (const RuleWord<RuleAttribute>& attribute : kRuleAttributes) {
    if (attribute.word == name) return FieldFor(rule, attribute.meaning);
  }
  return nullptr;
}

bool RuleKindOf(std::u16string_view element, RuleKind* kind) {
  for (const RuleElement& known : kRuleElements) {
    if (element == known.name) {
      *kind = known.kind;
      return true;
    }
  }
  return false;
}

}  // namespace

bool IsRuleAttribute(RuleKind kind, std::u16string_view name) {
  MigrationRule rule;
  rule.kind = kind;
  return FieldFor(rule, name) != nullptr;
}

std::vector<std::u16string_view> RuleAttributeNames(RuleKind kind) {
  std::vector<std::u16string_view> names;
  for (const RuleWord<RuleAttribute>& attribute : kRuleAttributes) {
    if (IsRuleAttribute(kind, attribute.word)) names.push_back(attribute.word);
  }
  return names;
}

std::u16string_view RuleElementName(RuleKind kind) {
  for (const RuleElement& known : kRuleElements) {
    if (known.kind == kind) return known.name;
  }
  return {};
}

void CXmlConfig::Attach(const XmlReaderContext* context) {
  context_ = context;
  text_target_ = nullptr;
}

void CXmlConfig::OnStartElement(std::u16string_view name,
                                std::span<const XmlAttribute> attributes) {
  text_target_ = nullptr;
  RuleKind kind;
  if (!RuleKindOf(name, &kind) || attributes.empty()) return;

  MigrationRule rule;
  rule.kind = kind;
  if (!rules_.Append(rule)) throw ResultException(E_OUTOFMEMORY);
  current_rule_ = &rules_.At(rules_.Count() - 1);
  for (const XmlAttribute& attribute : attributes) {
    if (std::u16string* field = FieldFor(*current_rule_, attribute.name)) {
      *field = attribute.value;
    }
  }
  if (kind == RuleKind::File) text_target_ = &current_rule_->file.content;
  if (kind == RuleKind::Value) text_target_ = &current_rule_->value.data;
}

void CXmlConfig::OnEndElement(std::u16string_view /*name*/) { text_target_ = nullptr; }

void CXmlConfig::OnText(const char16_t* text, std::uint32_t length) {
  if (text_target_ != nullptr) text_target_->assign(text, length);
}

void CXmlConfig::OnParseError(HRESULT result, std::uint32_t line, std::uint32_t column) {
  std::u16string_view text = LoadStringResource(static_cast<std::uint32_t>(LowWord(result)));
  if (text.empty()) text = u"unspecified error";
  LogDebug(u"CXmlConfig::OnParseError: %s (%#X)", text, result);
  LogError(u"Error parsing XML: line %u, col %u", line, column);
}

}  // namespace orvex
