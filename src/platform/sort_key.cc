#include "platform/sort_key.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/sort_weights.h"

namespace orvex {
namespace {

namespace weights = sort_weights;

// A key holds, in this order and separated by 01: the first-level weights of every element; one
// diacritic weight per element; one case weight per element (what is left of case when case is
// ignored: width and letter forms); the kana weights of the kana elements, in four sections; and
// the word-sort weights of the units the first level ignores (hyphen, apostrophe, controls), each
// behind its position. The platform leaves out what a level ends with when it changes nothing:
// the common weight, and for diacritics and case also the smaller ones a sum of marks can leave.
constexpr char kLevelSeparator = '\x01';
constexpr std::uint8_t kCommonDiacritic = 2;
constexpr std::uint8_t kCommonCase = 2;
constexpr std::array<std::uint8_t, 4> kCommonKana = {0xC6, 0x03, 0xE4, 0xC5};
constexpr std::array<char, 4> kKanaSeparators = {'\xFF', '\x02', '\xFF', '\xFF'};
// The first-level weight of a repeat mark that has nothing before it to repeat.
constexpr std::uint16_t kLoneRepeatWeight = 0xFFFF;

struct UnitWeight {
  std::uint16_t form;
  std::uint16_t weight;
};

// The table by code unit, laid out once from its runs.
const UnitWeight* UnitWeights() {
  static const std::unique_ptr<UnitWeight[]> table = [] {
    auto units = std::make_unique<UnitWeight[]>(0x10000);
    std::size_t unit = 0;
    for (std::size_t i = 0; i < weights::kRunCount; ++i) {
      const std::uint16_t* run = &weights::kRuns[4 * i];
      for (std::uint16_t k = 0; k < run[0]; ++k, ++unit) {
        units[unit] = {run[1], static_cast<std::uint16_t>(run[2] + k * run[3])};
      }
    }
    return units;
  }();
  return table.get();
}

void AppendWeight(std::string& key, std::uint16_t weight) {
  const char bytes[2] = {static_cast<char>(weight >> 8), static_cast<char>(weight & 0xFF)};
  key.append(bytes, 2);
}

// One level of one-byte weights, one per element. A run of common weights is only counted until
// a weight after it shows that it is not the end of the level.
class Level {
 public:
  Level(std::uint8_t common, bool smaller_is_common)
      : common_(common), smaller_is_common_(smaller_is_common) {}

  void Push(std::uint8_t weight) {
    if (weight == common_) {
      ++commons_;
    } else {
      PushOther(weight);
    }
  }

  // A nonspacing mark's weight adds to the last weight (mod 256), or starts an empty level.
  void AddToLast(std::uint8_t weight) {
    if (commons_ > 0) {
      --commons_;
      Push(static_cast<std::uint8_t>(common_ + weight));
    } else if (bytes_.empty()) {
      Push(weight);
    } else {
      const auto sum = static_cast<std::uint8_t>(static_cast<std::uint8_t>(bytes_.back()) + weight);
      bytes_.back() = static_cast<char>(sum);
      if (Matters(sum)) {
        kept_ = bytes_.size();
      } else if (kept_ == bytes_.size()) {
        while (kept_ > 0 && !Matters(static_cast<std::uint8_t>(bytes_[kept_ - 1]))) --kept_;
      }
    }
  }

  // `count` common weights in a row.
  void PushCommons(std::size_t count) { commons_ += count; }

  void AppendTo(std::string& key) const { key.append(bytes_, 0, kept_); }

 private:
  void PushOther(std::uint8_t weight) {
    bytes_.append(commons_, static_cast<char>(common_));
    commons_ = 0;
    bytes_ += static_cast<char>(weight);
    if (Matters(weight)) kept_ = bytes_.size();
  }

  bool Matters(std::uint8_t weight) const {
    return smaller_is_common_ ? weight > common_ : weight != common_;
  }

  std::uint8_t common_;
  bool smaller_is_common_;
  std::string bytes_;
  std::size_t commons_ = 0;  // common weights after bytes_
  std::size_t kept_ = 0;     // the length of bytes_ that the key shows
};

void AppendShortFirstLevel(std::string_view first, std::string& out);

class KeyBuilder {
 public:
  explicit KeyBuilder(std::size_t size) { first_.reserve(2 * size + 8); }

  void AddAll(std::u16string_view text) {
    const UnitWeight* const units = UnitWeights();
    std::size_t i = 0;
    while (i < text.size()) {
      // Most units of a path are plain elements: two first-level bytes and the common weights
      // after it, which only need counting.
      const std::size_t start = i;
      while (i < text.size() && IsPlain(units[text[i]])) ++i;
      if (i > start) {
        AddPlain(units, text.substr(start, i - start));
      } else {
        Add(text[i++]);
      }
    }
  }

  void Add(char16_t unit) {
    const UnitWeight& u = UnitWeights()[unit];
    const weights::Form& form = weights::kForms[u.form];
    switch (form.kind) {
      case weights::kIgnored:
        return;
      case weights::kSpecial:
        // The position is the first level's length in pairs of bytes, counted down from FFFF.
        AppendWeight(specials_, static_cast<std::uint16_t>(0xFFFF - first_.size() / 2));
        AppendWeight(specials_, u.weight);
        previous_ = Previous::kNothing;
        return;
      case weights::kMark:
        diacritics_.AddToLast(form.diacritic);
        return;
      case weights::kElement:
        first_.append(reinterpret_cast<const char*>(form.prefix), form.prefix_size);
        AppendWeight(first_, u.weight);
        if (form.diacritic != 0) diacritics_.Push(form.diacritic);
        cases_.Push(form.case_weight);
        if (form.prefix_size == 2) {
          previous_ = Previous::kNothing;
        } else {
          previous_ = Previous::kElement;
          element_size_ = static_cast<std::uint8_t>(form.prefix_size + 2);
          element_at_ = first_.size() - element_size_;
          element_diacritic_ = form.diacritic;
        }
        return;
      case weights::kKana:
        AddKana(u.weight, form.diacritic, form.case_weight, form.kana);
        kana_weight_ = u.weight;
        vowel_ = form.vowel;
        return;
      case weights::kExpansion:
        AddExpansion(&weights::kExpansions[u.weight]);
        previous_ = Previous::kNothing;
        return;
      case weights::kDecomposition: {
        const char16_t* units = &weights::kDecompositions[u.weight];
        for (char16_t i = 1; i <= units[0]; ++i) Add(units[i]);
        previous_ = Previous::kNothing;
        return;
      }
      case weights::kIteration:
      case weights::kProlongation:
        AddRepeat(form);
        return;
    }
  }

  std::string Finish(bool short_first_level) && {
    std::string key;
    if (short_first_level) {
      key.reserve(first_.size() + 8);
      AppendShortFirstLevel(first_, key);
    } else {
      key = std::move(first_);
    }
    key += kLevelSeparator;
    diacritics_.AppendTo(key);
    key += kLevelSeparator;
    cases_.AppendTo(key);
    key += kLevelSeparator;
    if (has_kana_) {
      for (std::size_t i = 0; i < kana_.size(); ++i) {
        kana_[i].AppendTo(key);
        key += kKanaSeparators[i];
      }
    }
    key += kLevelSeparator;
    key += specials_;
    return key;
  }

 private:
  static bool IsPlain(UnitWeight u) {
    const weights::Form& form = weights::kForms[u.form];
    return form.kind == weights::kElement && form.prefix_size == 0 &&
           form.diacritic == kCommonDiacritic && form.case_weight == kCommonCase;
  }

  // What Add does for each of `plain` in turn.
  void AddPlain(const UnitWeight* units, std::u16string_view plain) {
    std::size_t at = first_.size();
    first_.resize(at + 2 * plain.size());
    for (const char16_t unit : plain) {
      const std::uint16_t weight = units[unit].weight;
      first_[at++] = static_cast<char>(weight >> 8);
      first_[at++] = static_cast<char>(weight & 0xFF);
    }
    diacritics_.PushCommons(plain.size());
    cases_.PushCommons(plain.size());
    previous_ = Previous::kElement;
    element_size_ = 2;
    element_at_ = first_.size() - 2;
    element_diacritic_ = kCommonDiacritic;
  }

  // What a repeat mark that follows repeats: nothing after a unit of several elements. After an
  // ideograph, an expansion into ideographs or jamo, or a unit that the first level ignores, Wine's
  // repeat marks take pieces of the weights before them as weights of their own, which cannot be
  // Windows' order; here a repeat mark there stands alone too.
  enum class Previous { kNothing, kElement, kKana };

  void AddKana(std::uint16_t weight, std::uint8_t diacritic, std::uint8_t case_weight,
               const std::uint8_t (&kana)[4]) {
    AppendWeight(first_, weight);
    diacritics_.Push(diacritic);
    cases_.Push(case_weight);
    for (std::size_t i = 0; i < kana_.size(); ++i) kana_[i].Push(kana[i]);
    std::copy(std::begin(kana), std::end(kana), std::begin(kana_weights_));
    has_kana_ = true;
    previous_ = Previous::kKana;
  }

  void AddExpansion(const std::uint8_t* entry) {
    first_.append(reinterpret_cast<const char*>(entry + 1), entry[0]);
    entry += 1 + entry[0];
    for (std::uint8_t n = *entry++; n > 0; --n) diacritics_.Push(*entry++);
    for (std::uint8_t n = *entry++; n > 0; --n) cases_.Push(*entry++);
  }

  // After a kana a repeat mark is a kana itself: the same one, or for a prolonged sound mark its
  // vowel, with some kana weights of its own. After another element it repeats that element's
  // first-level and diacritic weights.
  void AddRepeat(const weights::Form& form) {
    switch (previous_) {
      case Previous::kNothing:
        AppendWeight(first_, kLoneRepeatWeight);
        return;
      case Previous::kElement: {
        char element[3];
        first_.copy(element, element_size_, element_at_);
        first_.append(element, element_size_);
        if (element_diacritic_ != 0) diacritics_.Push(element_diacritic_);
        cases_.Push(form.case_weight);
        return;
      }
      case Previous::kKana: {
        std::uint8_t kana[4];
        for (std::size_t i = 0; i < 4; ++i) {
          kana[i] = form.kana[i] != 0 ? form.kana[i] : kana_weights_[i];
        }
        if (form.kind == weights::kProlongation) kana_weight_ = vowel_;
        AddKana(kana_weight_, form.diacritic, form.case_weight, kana);
        return;
      }
    }
  }

  std::string first_;
  Level diacritics_{kCommonDiacritic, true};
  Level cases_{kCommonCase, true};
  std::array<Level, 4> kana_ = {Level(kCommonKana[0], false), Level(kCommonKana[1], false),
                                Level(kCommonKana[2], false), Level(kCommonKana[3], false)};
  bool has_kana_ = false;
  std::string specials_;

  Previous previous_ = Previous::kNothing;
  std::size_t element_at_ = 0;  // where the previous plain element's first-level bytes are
  std::uint8_t element_size_ = 0;
  std::uint8_t element_diacritic_ = 0;
  std::uint16_t kana_weight_ = 0;  // the previous kana's
  std::uint16_t vowel_ = 0;
  std::uint8_t kana_weights_[4] = {};
};

std::string Build(std::u16string_view text, bool short_first_level) {
  KeyBuilder builder(text.size());
  builder.AddAll(text);
  return std::move(builder).Finish(short_first_level);
}

// The short first level codes the platform's one two bytes at a time, as symbols ordered like
// the bytes they stand for: a pair (z, w) is z * 257 + 1 + w, a lone last byte z is z * 257, which
// sorts before every pair that begins with z. The symbols of printable ASCII get a code of one
// byte; every other symbol gets three: the byte of the gap between those common symbols that it
// falls in, and its distance from the gap's start (the widest gap, above the letters, is narrower
// than 2^16). No code starts another and the codes keep the symbols' order, so short keys order
// and match as the platform's keys do. Codes start above the level separator.
class FirstLevelCodes {
 public:
  FirstLevelCodes() {
    std::vector<std::uint32_t> common;
    for (char16_t unit = 0x20; unit <= 0x7E; ++unit) {
      const std::string key = Build(std::u16string_view(&unit, 1), false);
      if (key.size() > 2 && key[2] == kLevelSeparator) {
        common.push_back(Symbol(key[0], key[1]));
      }
    }
    std::sort(common.begin(), common.end());
    common.erase(std::unique(common.begin(), common.end()), common.end());
    gap_starts_.push_back(0);
    for (const std::uint32_t symbol : common) gap_starts_.push_back(symbol + 1);
    for (std::uint32_t pair = 0; pair <= 0xFFFF; ++pair) {
      const std::uint32_t symbol = Symbol(static_cast<char>(pair >> 8), static_cast<char>(pair));
      const auto it = std::lower_bound(common.begin(), common.end(), symbol);
      const auto index = static_cast<std::uint8_t>(it - common.begin());
      codes_[pair] = kFirstCode + 2 * index + (it != common.end() && *it == symbol ? 1 : 0);
    }
  }

  void AppendPair(char z, char w, std::string& out) const {
    Append(Symbol(z, w), codes_[static_cast<std::uint8_t>(z) << 8 | static_cast<std::uint8_t>(w)],
           out);
  }

  // A lone byte lies in the gap of the pair that begins with it and 0, or just below that pair.
  void AppendLone(char z, std::string& out) const {
    const std::uint8_t code = codes_[static_cast<std::uint8_t>(z) << 8];
    Append(Symbol(z, 0) - 1, IsCommon(code) ? code - 1 : code, out);
  }

 private:
  static constexpr std::uint8_t kFirstCode = 2;

  static std::uint32_t Symbol(char z, char w) {
    return static_cast<std::uint8_t>(z) * 257u + 1 + static_cast<std::uint8_t>(w);
  }
  static bool IsCommon(std::uint8_t code) { return (code - kFirstCode) % 2 == 1; }

  void Append(std::uint32_t symbol, std::uint8_t code, std::string& out) const {
    out += static_cast<char>(code);
    if (IsCommon(code)) return;
    const std::uint32_t distance = symbol - gap_starts_[(code - kFirstCode) / 2];
    out += static_cast<char>(distance >> 8);
    out += static_cast<char>(distance & 0xFF);
  }

  std::array<std::uint8_t, 0x10000> codes_;  // by pair; at most 95 common symbols fit a byte
  std::vector<std::uint32_t> gap_starts_;
};

void AppendShortFirstLevel(std::string_view first, std::string& out) {
  static const FirstLevelCodes codes;
  std::size_t i = 0;
  for (; i + 1 < first.size(); i += 2) codes.AppendPair(first[i], first[i + 1], out);
  if (i < first.size()) codes.AppendLone(first[i], out);
}

}  // namespace

std::string SortKey(std::u16string_view text) { return Build(text, false); }

std::string ShortSortKey(std::u16string_view text) { return Build(text, true); }

}  // namespace orvex
