#include "platform/text.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvex {
namespace {

TEST(TextTest, RoundTripsAndReplacesInvalidUnits) {
  EXPECT_EQ(ToUtf8(u"Grüße \U0001F600"),
            "Gr\xC3\xBC\xC3\x9F"
            "e \xF0\x9F\x98\x80");
  EXPECT_EQ(ToUtf16("Gr\xC3\xBC\xC3\x9F"
                    "e"),
            u"Grüße");
  EXPECT_EQ(ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
  EXPECT_EQ(ToUtf16("a\xFF"
                    "b"),
            u"a\uFFFDb");
  EXPECT_EQ(ToUtf8(u""), "");
}

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(CompareTest, IgnoresCaseButNotAccentsOrWidth) {
  struct Case {
    std::u16string_view a, b;
    int sign;
  };
  const Case cases[] = {
      {u"HKEY_CURRENT_USER\\Software", u"hkey_current_user\\SOFTWARE", 0},
      {u"Ärger", u"ärger", 0},
      {u"a", u"\u00e4", -1},
      {u"a\u0301", u"\u00e1", 0},  // a combining accent is the precomposed letter's
      {u"\u00df", u"ss", 0},
      {u"A", u"\uff21", -1},       // fullwidth
      {u"\u30a2", u"\u3042", -1},  // katakana before hiragana
      {u"\\", u"1", -1},           // punctuation before digits
      {u"1", u"a", -1},            // digits before letters
      {u"\\A\\x", u"\\AB", -1},
      {u"", u"a", -1},
      {u"\U0001F600", u"\U0001F601", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sign(CompareIgnoreCase(c.a, c.b)), c.sign) << ToUtf8(c.a) << " " << ToUtf8(c.b);
    EXPECT_EQ(Sign(CompareIgnoreCase(c.b, c.a)), -c.sign);
    EXPECT_EQ(EqualsIgnoreCase(c.a, c.b), c.sign == 0);
  }
}

// Word sort: the hyphen and the apostrophe weigh nothing at first, so "co-op" stands beside
// "coop"; between texts equal but for them, the one where they come earlier sorts later.
TEST(CompareTest, SortsWordsWithHyphensBesideThoseWithout) {
  const std::u16string_view ascending[] = {u"coop",  u"co'op",   u"co-op",  u"-coop",
                                           u"coopa", u"Obrien-", u"O'Brien"};
  for (std::size_t i = 0; i + 1 < std::size(ascending); ++i) {
    EXPECT_LT(CompareIgnoreCase(ascending[i], ascending[i + 1]), 0)
        << ToUtf8(ascending[i]) << " " << ToUtf8(ascending[i + 1]);
  }
}

TEST(CompareTest, OrdersPunctuationAsWindows) {
  const std::u16string_view ascending = u"!#$&(,.;@[\\^_{~+=";
  for (std::size_t i = 0; i + 1 < ascending.size(); ++i) {
    EXPECT_LT(CompareIgnoreCase(ascending.substr(i, 1), ascending.substr(i + 1, 1)), 0)
        << ToUtf8(ascending.substr(i, 2));
  }
}

TEST(CompareTest, CollationKeysAgreeWithComparison) {
  std::vector<std::u16string> words = {u"b", u"A",  u"a",   u"\\AB", u"\\A\\x", u"1",
                                       u"_", u"B2", u"b10", u"é",    u"E",      u""};
  for (const auto& a : words) {
    for (const auto& b : words) {
      const int by_key = Sign(CollationKey(a).compare(CollationKey(b)));
      EXPECT_EQ(by_key, Sign(CompareIgnoreCase(a, b)));
    }
  }
}

}  // namespace
}  // namespace orvex
