#include "regfile/path_collation.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/text.h"

namespace orvex {
namespace {

TEST(PathCollationTest, GivesTheComparisonsBytes) {
#ifndef _WIN32
  // On the Linux build's own keys the quick way must be in use; otherwise large profiles lose
  // much of their speed without any other sign. Windows keys are its own call's.
  EXPECT_TRUE(PathCollationKeysAreQuick());
#endif

  std::mt19937 random(5);
  const std::u16string others = u"\u00e9\u00c9\uff21\u0301\u00ad\t\r\x01\U0001F600\u6587";
  for (int i = 0; i < 3000; ++i) {
    std::u16string text;
    const std::size_t length = random() % 150;
    for (std::size_t j = 0; j < length; ++j) {
      text += random() % 40 == 0 ? others[random() % others.size()]
                                 : static_cast<char16_t>(0x20 + random() % 95);
    }
    ASSERT_EQ(CollationKey(text), PathCollationKey(text)) << ToUtf8(text);
  }
}

}  // namespace
}  // namespace orvex
