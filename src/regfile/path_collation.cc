#include "regfile/path_collation.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/text.h"

namespace orvex {
namespace {

constexpr char16_t kFirst = 0x20;  // the blank
constexpr char16_t kLast = 0x7E;   // the tilde
constexpr std::size_t kCount = kLast - kFirst + 1;

// Printable ASCII has no marks, expansions or contractions and only common diacritic and case
// weights, so its key is the first-level bytes of every character in turn, the levels after the
// first (all empty, as the empty text's key shows them), and then, for the hyphen and the
// apostrophe, which the first level ignores, their word-sort weight behind their position: FFFF
// counted down by one for every character before them that has a first-level weight.
struct alignas(8) Character {
  char bytes[3] = {};  // first-level bytes
  std::uint8_t size = 0;
  char weight[2] = {};  // word-sort weight
  bool special = false;
};

struct AsciiKeys {
  bool usable = false;
  std::array<Character, kCount> characters;
  std::string levels;  // what follows the first level when nothing is there

  void Key(std::u16string_view text, std::string& key) const {
    // Three bytes are stored for every character whatever its size, hence the slack.
    key.resize(text.size() * 3 + levels.size());
    char* out = key.data();
    bool specials = false;
    for (const char16_t c : text) {
      const Character& ch = characters[c - kFirst];
      out[0] = ch.bytes[0];
      out[1] = ch.bytes[1];
      out[2] = ch.bytes[2];
      out += ch.size;
      specials |= ch.special;
    }
    out = std::copy(levels.begin(), levels.end(), out);
    key.resize(static_cast<std::size_t>(out - key.data()));
    if (specials) AppendSpecials(text, key);
  }

  std::string Key(std::u16string_view text) const {
    std::string key;
    Key(text, key);
    return key;
  }

  void AppendSpecials(std::u16string_view text, std::string& key) const {
    std::uint16_t position = 0xFFFF;
    for (const char16_t c : text) {
      const Character& ch = characters[c - kFirst];
      if (!ch.special) {
        --position;
        continue;
      }
      key += static_cast<char>(position >> 8);
      key += static_cast<char>(position & 0xFF);
      key.append(ch.weight, 2);
    }
  }
};

bool IsPrintableAscii(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char16_t c) { return c >= kFirst && c <= kLast; });
}

// Learns each character's bytes from CollationKey and then checks the whole model against it:
// every pair of characters (which would show any contraction or expansion), and words with a
// hyphen behind up to 300 letters (positions past one byte). Anything unexpected leaves the quick
// way unused.
AsciiKeys Learn() {
  AsciiKeys keys;
  keys.levels = CollationKey(u"");
  const std::string_view levels = keys.levels;
  for (std::size_t i = 0; i < kCount; ++i) {
    const std::string key = CollationKey(std::u16string(1, static_cast<char16_t>(kFirst + i)));
    const std::string_view k = key;
    Character& ch = keys.characters[i];
    if (k.size() > levels.size() && k.size() <= levels.size() + sizeof ch.bytes &&
        k.substr(k.size() - levels.size()) == levels) {
      ch.size = static_cast<std::uint8_t>(k.size() - levels.size());
      std::copy_n(k.begin(), ch.size, ch.bytes);
    } else if (k.size() == levels.size() + 4 && k.substr(0, levels.size()) == levels &&
               k.substr(levels.size(), 2) == "\xFF\xFF") {
      ch.special = true;
      std::copy_n(k.end() - 2, 2, ch.weight);
    } else {
      return keys;
    }
  }
  std::u16string text(2, u' ');
  for (char16_t a = kFirst; a <= kLast; ++a) {
    for (char16_t b = kFirst; b <= kLast; ++b) {
      text[0] = a;
      text[1] = b;
      if (keys.Key(text) != CollationKey(text)) return keys;
    }
  }
  for (std::size_t length = 0; length <= 300; ++length) {
    const std::u16string word = std::u16string(length, u'a') + u"-b";
    if (keys.Key(word) != CollationKey(word)) return keys;
  }
  keys.usable = true;
  return keys;
}

const AsciiKeys& Keys() {
  static const AsciiKeys keys = Learn();
  return keys;
}

}  // namespace

std::string PathCollationKey(std::u16string_view path) {
  std::string key;
  PathCollationKey(path, &key);
  return key;
}

void PathCollationKey(std::u16string_view path, std::string* key) {
  if (IsPrintableAscii(path)) {
    const AsciiKeys& keys = Keys();
    if (keys.usable) {
      keys.Key(path, *key);
      return;
    }
  }
  *key = CollationKey(path);
}

bool PathCollationKeysAreQuick() { return Keys().usable; }

}  // namespace orvex
