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

// Printable ASCII has no contractions, no ignorable characters and only the common secondary
// weight, so its key is every character's primary bytes in turn, the level separator, and the
// secondary level as runs of common weights, each written as one byte: the common byte plus the
// run's length less one, for runs of up to kLongestRun.
constexpr char kLevelSeparator = 0x01;
constexpr std::size_t kLongestRun = 33;

// A character's primary bytes; printable ASCII has one to three of them.
struct Primary {
  std::uint8_t size = 0;
  char bytes[3] = {};
};

struct AsciiKeys {
  bool usable = false;
  std::array<Primary, kCount> primary;
  char common = 0;

  std::string Key(std::u16string_view text) const {
    // Three bytes are stored for every character whatever its size, hence the slack.
    std::string key(text.size() * 3 + 2 + text.size() / kLongestRun, '\0');
    char* out = key.data();
    for (const char16_t c : text) {
      const Primary& p = primary[c - kFirst];
      out[0] = p.bytes[0];
      out[1] = p.bytes[1];
      out[2] = p.bytes[2];
      out += p.size;
    }
    *out++ = kLevelSeparator;
    for (std::size_t left = text.size(); left > 0;) {
      const std::size_t run = std::min(left, kLongestRun);
      *out++ = static_cast<char>(static_cast<unsigned char>(common) + run - 1);
      left -= run;
    }
    key.resize(static_cast<std::size_t>(out - key.data()));
    return key;
  }
};

bool IsPrintableAscii(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char16_t c) { return c >= kFirst && c <= kLast; });
}

// Learns each character's primary bytes from the collator and then checks the whole model
// against it: every pair of characters (which would show any contraction or compression) and
// runs of every length up to three full runs. Anything unexpected leaves the quick way unused.
AsciiKeys Learn() {
  AsciiKeys keys;
  for (std::size_t i = 0; i < kCount; ++i) {
    const std::string key = CollationKey(std::u16string(1, static_cast<char16_t>(kFirst + i)));
    if (key.size() < 3 || key[key.size() - 2] != kLevelSeparator) return keys;
    const std::string_view primary = std::string_view(key).substr(0, key.size() - 2);
    if (primary.size() > sizeof Primary::bytes) return keys;
    if (primary.find_first_of(std::string_view("\x00\x01\x02", 3)) != std::string::npos)
      return keys;
    if (i == 0) keys.common = key.back();
    if (key.back() != keys.common) return keys;
    keys.primary[i].size = static_cast<std::uint8_t>(primary.size());
    std::copy(primary.begin(), primary.end(), keys.primary[i].bytes);
  }
  std::u16string text(2, u' ');
  for (char16_t a = kFirst; a <= kLast; ++a) {
    for (char16_t b = kFirst; b <= kLast; ++b) {
      text[0] = a;
      text[1] = b;
      if (keys.Key(text) != CollationKey(text)) return keys;
    }
  }
  for (std::size_t length = 0; length <= 3 * kLongestRun + 1; ++length) {
    const std::u16string run(length, u'a');
    if (keys.Key(run) != CollationKey(run)) return keys;
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
  if (IsPrintableAscii(path)) {
    const AsciiKeys& keys = Keys();
    if (keys.usable) return keys.Key(path);
  }
  return CollationKey(path);
}

bool PathCollationKeysAreQuick() { return Keys().usable; }

}  // namespace orvex
