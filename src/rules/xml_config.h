#pragma once
// Turns the elements of a migration XML file into MigrationRules.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "rules/migration_rules.h"
#include "rules/xml_parse.h"

namespace orvex {

/// The elements that make rules, by their case-sensitive names.
struct RuleElement {
  std::u16string_view name;
  RuleKind kind;
};
inline constexpr std::array<RuleElement, 4> kRuleElements = {{
    {u"directory", RuleKind::Directory},
    {u"file", RuleKind::File},
    {u"key", RuleKind::Key},
    {u"value", RuleKind::Value},
}};

/// The attributes rule elements keep, alphabetical.
enum class RuleAttribute { kAction, kDestination, kFlags, kKey, kSource, kType, kValue };
/// The attributes' case-sensitive names.
inline constexpr auto kRuleAttributes = std::to_array<RuleWord<RuleAttribute>>({
    {u"action", RuleAttribute::kAction},
    {u"destination", RuleAttribute::kDestination},
    {u"flags", RuleAttribute::kFlags},
    {u"key", RuleAttribute::kKey},
    {u"source", RuleAttribute::kSource},
    {u"type", RuleAttribute::kType},
    {u"value", RuleAttribute::kValue},
});

/// The name of `attribute`.
[[nodiscard]] inline std::u16string_view AttributeName(RuleAttribute attribute) {
  return WordOf(kRuleAttributes, attribute);
}

/// The name of the element that makes rules of `kind`.
[[nodiscard]] std::u16string_view RuleElementName(RuleKind kind);

/// Whether a rule element of `kind` keeps attribute `name` (names are case-sensitive).
[[nodiscard]] bool IsRuleAttribute(RuleKind kind, std::u16string_view name);

/// The attributes a rule element of `kind` keeps, in alphabetical order.
[[nodiscard]] std::vector<std::u16string_view> RuleAttributeNames(RuleKind kind);

/// The handler that builds one rule per `directory`, `file`, `key` or `value` element with at
/// least one attribute, wherever it stands, and keeps the text of `file` and `value` elements.
class CXmlConfig final : public CXmlElementHandler {
 public:
  CXmlConfig() = default;
  ~CXmlConfig() = default;
  CXmlConfig(const CXmlConfig&) = delete;
  CXmlConfig& operator=(const CXmlConfig&) = delete;

  /// Remembers the context and stops any text capture.
  void Attach(const XmlReaderContext* context) override;
  /// Starts a rule for a rule element with attributes; appending raises
  /// ResultException(E_OUTOFMEMORY) when the list cannot grow.
  void OnStartElement(std::u16string_view name, std::span<const XmlAttribute> attributes) override;
  /// Stops any text capture.
  void OnEndElement(std::u16string_view name) override;
  /// Replaces the captured text, while a `file` or `value` rule is capturing.
  void OnText(const char16_t* text, std::uint32_t length) override;
  /// Logs the error's text and where the reader stopped.
  void OnParseError(HRESULT result, std::uint32_t line, std::uint32_t column) override;

  /// The rules in document order.
  MigrationRules& rules() { return rules_; }
  const MigrationRules& rules() const { return rules_; }

 private:
  MigrationRules rules_;
  MigrationRule* current_rule_ = nullptr;  // the entry appended last
  std::u16string* text_target_ = nullptr;  // the field that receives text, while capturing
  const XmlReaderContext* context_ = nullptr;
};

}  // namespace orvex
