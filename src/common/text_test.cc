#include "common/text.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

TEST(TextTest, RoundTripsAndReplacesInvalidUnits) {
  EXPECT_EQ(ToUtf8(u"Grüße \U0001F600"), "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80");
  EXPECT_EQ(ToUtf16("Gr\xC3\xBC\xC3\x9F" "e"), u"Grüße");
  EXPECT_EQ(ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
  EXPECT_EQ(ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(ToUtf8(u""), "");
}

}  // namespace
}  // namespace orvex
