#include "platform/sort_key.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace orvex {
namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

std::string Hex(std::u16string_view text) {
  std::string out;
  for (const char16_t c : text) out += std::to_string(c) + " ";
  return out;
}

TEST(SortKeyTest, ShortKeysOrderAndMatchAsFullKeys) {
  // Printable ASCII, where short keys save most, beside units whose first-level weights are
  // longer or odd (ideographs, private use, surrogates) and every other kind of unit.
  const std::u16string_view kinds =
      u"aZ0 -'\\\x01\u00e9\u0301\u4e00\ue000\ue0ff\U0001F600\u3042\u30fc\u05d0\ufb1d\u1100";
  std::mt19937 random(13);
  auto text = [&] {
    std::u16string t;
    for (std::size_t n = random() % 8; n > 0; --n) {
      t += random() % 2 ? kinds[random() % kinds.size()] : static_cast<char16_t>(random());
    }
    return t;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::u16string a = text();
    std::u16string b = random() % 2 ? a + text() : text();
    if (random() % 2 && !b.empty()) b.pop_back();
    ASSERT_EQ(Sign(ShortSortKey(a).compare(ShortSortKey(b))), Sign(SortKey(a).compare(SortKey(b))))
        << Hex(a) << "| " << Hex(b);
  }
}

}  // namespace
}  // namespace orvex
