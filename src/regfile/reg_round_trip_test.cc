// Whatever the writer makes of a document, the reader must give back: random documents within the
// reader's limits, written and read again, come back equal.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/text.h"
#include "regfile/reg_reader.h"
#include "regfile/reg_test_support.h"
#include "regfile/reg_writer.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

// Where two keys differ, for the failure message.
std::string FirstDifference(const RegistryKeyEntry& a, const RegistryKeyEntry& b) {
  if (a.path() != b.path()) return "path " + ToUtf8(a.path()) + " vs " + ToUtf8(b.path());
  if (a.values().size() != b.values().size()) return "number of values";
  for (int i = 0; i < a.values().size(); ++i) {
    const RegistryValuePair& x = a.values()[i];
    const RegistryValuePair& y = b.values()[i];
    if (x.name != y.name) return "name of value " + std::to_string(i);
    if (x.value.type != y.value.type) return "type of value " + std::to_string(i);
    const std::size_t size = std::min(x.value.data.size(), y.value.data.size());
    std::size_t at = 0;
    while (at < size && x.value.data[at] == y.value.data[at]) ++at;
    if (at == size && x.value.data.size() == y.value.data.size()) continue;
    return "data of value " + std::to_string(i) + " (type " + std::to_string(x.value.type) +
           ", sizes " + std::to_string(x.value.data.size()) + " and " +
           std::to_string(y.value.data.size()) + ") from byte " + std::to_string(at);
  }
  return "nothing";
}

class RandomDocuments {
 public:
  explicit RandomDocuments(unsigned seed) : random_(seed) {}

  RegistryDocument Make(int keys) {
    RegistryDocument document;
    while (document.size() < keys) {
      std::u16string path = u"HKEY_CURRENT_USER";
      const std::size_t depth = 1 + Pick(4);
      for (std::size_t i = 0; i < depth; ++i) path += u"\\" + Text(1 + Pick(12));
      if (document.FindKey(path) >= 0) continue;  // the reader merges equal paths
      RegistryValueList& values = document.KeyAt(document.AddKey(path)).values();
      const std::size_t count = Pick(6);
      for (std::size_t i = 0; i < count; ++i) {
        const std::u16string name = Pick(8) == 0 ? u"" : Text(Pick(20));
        EXPECT_TRUE(values.AddValue(name, Value()));
      }
    }
    return document;
  }

 private:
  std::size_t Pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }

  // Text without CR, LF or NUL, with the characters the format treats specially.
  std::u16string Text(std::size_t length) {
    static const std::u16string kAlphabet =
        u"abcXYZ019 \t\"\\[]@=;,-:()\u00e9\u00c9\u6587\U0001F600";
    std::u16string text;
    while (text.size() < length) text += kAlphabet[Pick(kAlphabet.size())];
    return text;
  }

  std::vector<std::uint8_t> RandomBytes(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(Pick(256));
    return bytes;
  }

  std::size_t DataSize() {
    // Mostly short lists, some that wrap over many lines, a few that span read buffers.
    const std::size_t kind = Pick(20);
    if (kind == 0) return Pick(200000);
    if (kind < 6) return Pick(400);
    return Pick(12);
  }

  RegistryValueEntry Value() {
    switch (Pick(6)) {
      case 0: {
        const std::string bytes = testing::Utf16Bytes(Text(DataSize() / 2));
        RegistryValueEntry value{REG_SZ, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
        value.data.insert(value.data.end(), {0, 0});
        return value;
      }
      case 1: {
        // String data a quoted string cannot carry: no NUL unit, or a line break before it.
        std::vector<std::uint8_t> data = RandomBytes(DataSize());
        for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
          if (data[i] == 0 && data[i + 1] == 0) data[i] = 1;
        }
        if (data.size() >= 6 && Pick(2) == 0) {
          data[0] = Pick(2) ? 0x0d : 0x0a;
          data[1] = 0;
          data[4] = 0;
          data[5] = 0;
        }
        return {REG_SZ, data};
      }
      case 2:
        return {REG_DWORD, RandomBytes(Pick(3) == 0 ? Pick(9) : 4)};
      case 3:
        return {REG_BINARY, RandomBytes(DataSize())};
      case 4: {
        // Any other type; string data is made above.
        std::uint32_t type = static_cast<std::uint32_t>(Pick(3) == 0 ? random_() : Pick(12));
        if (type == REG_SZ) type = REG_NONE;
        return {type, RandomBytes(DataSize())};
      }
      default:
        return {Pick(2) ? REG_EXPAND_SZ : REG_MULTI_SZ, RandomBytes(DataSize())};
    }
  }

  std::mt19937 random_;
};

TEST(RegRoundTripTest, WrittenDocumentsReadBackEqual) {
  RandomDocuments documents(2024);
  testing::ScopedTempDir dir;
  const std::u16string path = dir.wide("doc.reg");
  for (int round = 0; round < 25; ++round) {
    const RegistryDocument written = documents.Make(round == 0 ? 0 : 1 + round * 8);
    ASSERT_HR(S_OK, ExportRegFile(written, path)) << "round " << round;
    RegistryDocument read;
    ASSERT_HR(S_OK, ParseRegFile(read, path)) << "round " << round;
    ASSERT_EQ(written.size(), read.size()) << "round " << round;
    for (int i = 0; i < written.size(); ++i) {
      ASSERT_TRUE(written.keys()[static_cast<std::size_t>(i)] ==
                  read.keys()[static_cast<std::size_t>(i)])
          << "round " << round << " key " << i << ": "
          << FirstDifference(written.keys()[static_cast<std::size_t>(i)],
                             read.keys()[static_cast<std::size_t>(i)]);
    }
  }
}

}  // namespace
}  // namespace orvex
