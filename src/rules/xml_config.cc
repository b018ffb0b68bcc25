#include "rules/xml_config.h"

#include "logging/logger.h"
#include "resources/string_table.h"

namespace orvex {
namespace {

// The fields every record has, by attribute name.
template <typename Record>
std::u16string* CommonField(Record& record, std::u16string_view name) {
  if (name == u"action") return &record.action;
  if (name == u"destination") return &record.destination;
  if (name == u"source") return &record.source;
  return nullptr;
}

// The field of `rule`'s record that attribute `name` fills; null for attributes not listed for
// the element.
std::u16string* FieldFor(MigrationRule& rule, std::u16string_view name) {
  switch (rule.kind) {
    case RuleKind::Directory:
      return CommonField(rule.directory, name);
    case RuleKind::File:
      return CommonField(rule.file, name);
    case RuleKind::Key:
      if (name == u"value") return &rule.key.value;
      return CommonField(rule.key, name);
    case RuleKind::Value:
      if (name == u"key") return &rule.value.key;
      if (name == u"flags") return &rule.value.flags;
      if (name == u"type") return &rule.value.type;
      return CommonField(rule.value, name);
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
  for (const std::u16string_view name :
       {u"action", u"destination", u"flags", u"key", u"source", u"type", u"value"}) {
    if (IsRuleAttribute(kind, name)) names.push_back(name);
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
