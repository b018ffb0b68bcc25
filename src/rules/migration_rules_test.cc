#include "rules/migration_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "common/result.h"

namespace orvex {
namespace {

MigrationRule KeyRuleFor(std::u16string source) {
  MigrationRule rule;
  rule.kind = RuleKind::Key;
  rule.key.action = u"delete";
  rule.key.source = std::move(source);
  return rule;
}

TEST(MigrationRulesTest, AppendKeepsCopiesInOrder) {
  MigrationRules rules;
  MigrationRule rule = KeyRuleFor(u"HKCU\\0");
  for (int i = 0; i < 9; ++i) {
    rule.key.source = u"HKCU\\" + std::u16string(1, static_cast<char16_t>(u'0' + i));
    ASSERT_TRUE(rules.Append(rule));
  }
  rule.key.source = u"changed after appending";
  ASSERT_EQ(rules.Count(), 9);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(rules.At(i).kind, RuleKind::Key);
    EXPECT_EQ(rules.At(i).key.source,
              u"HKCU\\" + std::u16string(1, static_cast<char16_t>(u'0' + i)));
    EXPECT_EQ(rules.At(i).key.action, u"delete");
  }

  // An entry of the list itself can be appended, also when the storage grows meanwhile.
  ASSERT_TRUE(rules.Append(rules.At(3)));
  EXPECT_EQ(rules.At(9).key.source, u"HKCU\\3");
}

TEST(MigrationRulesTest, AtRefusesIndexesOutsideTheList) {
  MigrationRules rules;
  ASSERT_TRUE(rules.Append(KeyRuleFor(u"HKCU\\a")));
  const MigrationRules& read_only = rules;
  for (const int index : {-1, 1, 1000}) {
    try {
      (void)read_only.At(index);
      ADD_FAILURE() << index;
    } catch (const ResultException& e) {
      EXPECT_EQ(e.result(), E_INVALIDARG);
    }
  }
}

TEST(MigrationRulesTest, ClearEmptiesTheListForReuse) {
  MigrationRules rules;
  ASSERT_TRUE(rules.Append(KeyRuleFor(u"HKCU\\a")));
  ASSERT_TRUE(rules.Append(KeyRuleFor(u"HKCU\\b")));
  rules.Clear();
  EXPECT_EQ(rules.Count(), 0);
  EXPECT_THROW((void)rules.At(0), ResultException);
  ASSERT_TRUE(rules.Append(KeyRuleFor(u"HKCU\\c")));
  EXPECT_EQ(rules.Count(), 1);
  EXPECT_EQ(rules.At(0).key.source, u"HKCU\\c");
}

}  // namespace
}  // namespace orvex
