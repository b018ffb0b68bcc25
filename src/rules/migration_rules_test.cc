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
  MigrationRule rule = KeyRuleFor(u"");
  for (char16_t digit = u'0'; digit <= u'8'; ++digit) {
    rule.key.source = {digit};
    ASSERT_TRUE(rules.Append(rule));
  }
  rule.key.source = u"changed after appending";
  // An entry of the list itself can be appended, also when the storage grows meanwhile.
  ASSERT_TRUE(rules.Append(rules.At(3)));
  ASSERT_EQ(rules.Count(), 10);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(rules.At(i).key.source,
              std::u16string(1, static_cast<char16_t>(i < 9 ? u'0' + i : u'3')));
    EXPECT_EQ(rules.At(i).key.action, u"delete");
  }
}

TEST(MigrationRulesTest, AtRefusesIndexesOutsideTheListAlsoAfterClear) {
  MigrationRules rules;
  ASSERT_TRUE(rules.Append(KeyRuleFor(u"a")));
  ASSERT_TRUE(rules.Append(KeyRuleFor(u"b")));
  const MigrationRules& read_only = rules;
  for (const int index : {-1, 2}) {
    try {
      (void)read_only.At(index);
      ADD_FAILURE() << index;
    } catch (const ResultException& e) {
      EXPECT_EQ(e.result(), E_INVALIDARG);
    }
  }
  rules.Clear();
  EXPECT_EQ(rules.Count(), 0);
  EXPECT_THROW((void)rules.At(0), ResultException);
  ASSERT_TRUE(rules.Append(KeyRuleFor(u"c")));
  EXPECT_EQ(rules.Count(), 1);
  EXPECT_EQ(rules.At(0).key.source, u"c");
}

}  // namespace
}  // namespace orvex
