// Windows only: the keys computed from the measured table against the system's own comparison
// (CompareIgnoreCase is CompareStringW here) and its own keys (CollationKey is LCMapStringW).
#include "platform/sort_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "platform/text.h"

namespace orvex {
namespace {

std::string Hex(std::u16string_view text) {
  char unit[8];
  std::string out;
  for (const char16_t c : text) out.append(unit, std::snprintf(unit, sizeof unit, "%04X ", c));
  return out;
}

// Sorts the texts by the table's keys and by the system's comparison: the two orders must be the
// same, and so must the verdict on every pair of neighbours, so that the texts the system calls
// equal are the ones with equal keys.
void ExpectSameOrder(const std::vector<std::u16string>& texts) {
  std::vector<std::string> keys;
  for (const auto& text : texts) keys.push_back(SortKey(text));
  std::vector<std::size_t> by_keys(texts.size());
  std::iota(by_keys.begin(), by_keys.end(), 0);
  std::vector<std::size_t> by_system = by_keys;
  std::stable_sort(by_keys.begin(), by_keys.end(),
                   [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
  std::stable_sort(by_system.begin(), by_system.end(), [&](std::size_t a, std::size_t b) {
    return CompareIgnoreCase(texts[a], texts[b]) < 0;
  });
  for (std::size_t i = 0; i < texts.size(); ++i) {
    ASSERT_EQ(by_keys[i], by_system[i])
        << "at " << i << ": " << Hex(texts[by_keys[i]]) << "| " << Hex(texts[by_system[i]]);
    if (i == 0) continue;
    const std::size_t a = by_keys[i - 1], b = by_keys[i];
    ASSERT_EQ(keys[a] == keys[b], CompareIgnoreCase(texts[a], texts[b]) == 0)
        << Hex(texts[a]) << "| " << Hex(texts[b]);
  }
}

TEST(SortKeyTest, OrdersEveryCodeUnitAsTheSystem) {
  std::vector<std::u16string> texts;
  for (char32_t c = 0; c <= 0xFFFF; ++c) texts.emplace_back(1, static_cast<char16_t>(c));
  ExpectSameOrder(texts);
}

// Random texts of several scripts, every ASCII punctuation mark, accents precomposed and
// combining, surrogate pairs, the empty text, texts equal but for case, and texts that differ
// from another only by a hyphen or an apostrophe. Kana repeat marks follow a kana or a letter
// only: after an ideograph, a conjoining jamo sequence or a control the system's own results
// cannot be Windows' (make_table.py lists them) and the table does not follow them.
class RandomTexts {
 public:
  std::u16string Next() {
    std::u16string text;
    do {
      text.clear();
      if (!made_.empty() && random_() % 3 == 0) {
        text = made_[random_() % made_.size()];
        Vary(text);
      } else {
        for (std::size_t n = random_() % 16; n > 0; --n) AddUnit(text);
      }
    } while (!RepeatMarksFollowKanaOrLetters(text));
    made_.push_back(text);
    return text;
  }

  // Whether a text holds precomposed forms whose keys from the system disagree with its own
  // comparison (the keys hold their zero weights).
  static bool HasPresentationForms(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t c) {
      return std::any_of(std::begin(kPresentationForms), std::end(kPresentationForms),
                         [c](const Range& r) { return c >= r.first && c <= r.last; });
    });
  }

 private:
  struct Range {
    char16_t first, last;
  };
  static constexpr Range kPresentationForms[] = {{0xFB1D, 0xFB4E}, {0xFE70, 0xFE7F}};
  static constexpr Range kScripts[] = {
      {u'a', u'z'},          {u'A', u'Z'},     {u'0', u'9'},     {u'!', u'/'},
      {u':', u'@'},          {u'[', u'`'},     {u'{', u'~'},     {u' ', u' '},
      {0x00C0, 0x017F},      {0x0300, 0x036F}, {0x0391, 0x03C9}, {0x0400, 0x045F},
      {0x05B0, 0x05EA},      {0x0621, 0x0652}, {0x0E01, 0x0E3A}, {0x2010, 0x2027},
      {0x4E00, 0x9FFF},      {0xAC00, 0xD7A3}, {0x3041, 0x3096}, {0x30A1, 0x30FA},
      {0xFF01, 0xFF5E},      {0xFF71, 0xFF9D}, {0x0001, 0x001F}, kPresentationForms[0],
      kPresentationForms[1],
  };
  static constexpr char16_t kRepeatMarks[] = {0x30FC, 0x30FD, 0x30FE, 0x309D, 0x309E, 0x3005};

  char16_t From(const Range& r) {
    return static_cast<char16_t>(r.first + random_() % (r.last - r.first + 1));
  }

  static bool IsRepeatMark(char16_t c) {
    return std::find(std::begin(kRepeatMarks), std::end(kRepeatMarks), c) != std::end(kRepeatMarks);
  }

  static bool RepeatMarksFollowKanaOrLetters(std::u16string_view text) {
    for (std::size_t i = 1; i < text.size(); ++i) {
      const char16_t c = text[i - 1];
      const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
      if (IsRepeatMark(text[i]) && !IsRepeatMark(c) && !letter && !(c >= 0x3041 && c <= 0x30FA)) {
        return false;
      }
    }
    return true;
  }

  void AddUnit(std::u16string& text) {
    const std::size_t pick = random_() % (std::size(kScripts) + 2);
    if (pick == std::size(kScripts)) {  // a surrogate pair
      text += From({0xD800, 0xDBFF});
      text += From({0xDC00, 0xDFFF});
      return;
    }
    if (pick > std::size(kScripts)) {  // a repeat mark after a kana or a letter
      text += From(kScripts[random_() % 2 ? 18 : 19]);
      if (random_() % 2) text += From(kScripts[random_() % 2]);
      text += kRepeatMarks[random_() % std::size(kRepeatMarks)];
      return;
    }
    text += From(kScripts[pick]);
  }

  void Vary(std::u16string& text) {
    const std::size_t at = text.empty() ? 0 : random_() % text.size();
    switch (random_() % 4) {
      case 0:  // other case
        for (char16_t& c : text) {
          if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
              (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) || (c >= 0x430 && c <= 0x44F)) {
            c -= 0x20;
          }
        }
        break;
      case 1:
        text.insert(at, 1, random_() % 2 ? u'-' : u'\'');
        break;
      case 2:
        AddUnit(text);
        break;
      default:
        if (!text.empty()) text.erase(at, 1);
    }
  }

  std::mt19937 random_{13};
  std::vector<std::u16string> made_;
};

TEST(SortKeyTest, OrdersRandomTextsAsTheSystem) {
  RandomTexts random;
  std::vector<std::u16string> texts;
  for (int i = 0; i < 100000; ++i) texts.push_back(random.Next());
  ExpectSameOrder(texts);
  // Beyond the order, the same bytes: each build's sort of registry keys is by its own keys.
  for (const auto& text : texts) {
    if (RandomTexts::HasPresentationForms(text)) continue;
    ASSERT_EQ(SortKey(text), CollationKey(text)) << Hex(text);
  }
}

}  // namespace
}  // namespace orvex
