#include "text/format.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "platform/text.h"

namespace orvex {
namespace {

TEST(FormatTest, Conversions) {
  struct Case {
    std::u16string actual;
    std::u16string_view expected;
  };
  const Case cases[] = {
      {Format(u"plain %% text"), u"plain % text"},
      {Format(u"'%s'", u"C:\\a b"), u"'C:\\a b'"},
      {Format(u"v%S", "9.2.0.701"), u"v9.2.0.701"},
      {Format(u"%d|%i", -42, 7), u"-42|7"},
      {Format(u"%u", 4294967295u), u"4294967295"},
      {Format(u"%x %X", 0xBEEF, 0xbeefu), u"beef BEEF"},
      {Format(u"(%#X)", static_cast<int32_t>(0xC00CEE01)), u"(0XC00CEE01)"},
      {Format(u"%#x|%#X", 0, 255), u"0|0XFF"},
      {Format(u"[%5s][%.2s]", u"ab", u"xyz"), u"[   ab][xy]"},
      {Format(u"[%-4d][%4d][%+d][% d]", 5, -5, 5, 5), u"[5   ][  -5][+5][ 5]"},
      {Format(u"[%05d][%.3d][%.0d]", -42, 7, 0), u"[-0042][007][]"},
      {Format(u"%d", INT32_MIN), u"-2147483648"},
      {Format(u"%lld", INT64_MIN), u"-9223372036854775808"},
      {Format(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST(FormatTest, BoundedOutputReportsTruncation) {
  std::array<char16_t, 6> buffer{};
  FormatResult r = FormatTo(buffer, u"%s", u"abcde");
  EXPECT_EQ(r.length, 5u);
  EXPECT_FALSE(r.truncated);
  EXPECT_EQ(std::u16string(buffer.data()), u"abcde");

  r = FormatTo(buffer, u"%s!", u"abcde");
  EXPECT_EQ(r.length, 5u);
  EXPECT_TRUE(r.truncated);
  EXPECT_EQ(std::u16string(buffer.data()), u"abcde");

  r = FormatTo(std::span<char16_t>(buffer.data(), 1), u"x");
  EXPECT_EQ(r.length, 0u);
  EXPECT_TRUE(r.truncated);
  EXPECT_EQ(buffer[0], u'\0');
}

TEST(FormatTest, RuntimeFormatRejectsMismatches) {
  const std::u16string_view bad[] = {u"%d", u"%s %s", u"%q", u"%", u"%lls", u"%u"};
  for (std::u16string_view f : bad) {
    EXPECT_THROW(Format(RuntimeFormat<std::u16string_view>(f), std::u16string_view(u"x")),
                 ResultException)
        << ToUtf8(f);
  }
  EXPECT_THROW(Format(RuntimeFormat<std::int64_t>(u"%d"), std::int64_t{1}), ResultException);
  EXPECT_EQ(Format(RuntimeFormat<int>(u"n=%d"), 3), u"n=3");
}

}  // namespace
}  // namespace orvex
