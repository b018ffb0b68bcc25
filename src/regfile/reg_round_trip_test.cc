// Whatever the writer makes of a document, the reader must give back: random documents within the
// reader's limits, written and read again, come back equal.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "regfile/reg_reader.h"
#include "regfile/reg_test_support.h"
#include "regfile/reg_writer.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

class RandomDocuments {
 public:
  RegistryDocument Make(int keys) {
    RegistryDocument document;
    while (document.size() < keys) {
      std::u16string path = u"HKEY_CURRENT_USER";
      for (std::size_t depth = 1 + Pick(4); depth > 0; --depth) path += u"\\" + Text(1 + Pick(12));
      if (document.FindKey(path) >= 0) continue;  // the reader would merge equal paths
      RegistryValueList& values = document.KeyAt(document.AddKey(path)).values();
      for (std::size_t count = Pick(6); count > 0; --count) {
        EXPECT_TRUE(values.AddValue(Pick(8) == 0 ? u"" : Text(Pick(20)), Value()));
      }
    }
    return document;
  }

 private:
  std::size_t Pick(std::size_t n) { return random_() % n; }

  // Text without CR, LF or NUL, rich in what the format treats specially.
  std::u16string Text(std::size_t length) {
    static const std::u16string kAlphabet = u"abcXYZ019 \t\"\\[]@=;,-:()\u00e9\u6587\U0001F600";
    std::u16string text;
    while (text.size() < length) text += kAlphabet[Pick(kAlphabet.size())];
    return text;
  }

  std::vector<std::uint8_t> Bytes(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random_());
    return bytes;
  }

  // Mostly short data, some that wraps over many lines, a little that spans read buffers.
  std::size_t Size() {
    const std::size_t kind = Pick(20);
    return kind == 0 ? Pick(200000) : kind < 6 ? Pick(400) : Pick(12);
  }

  RegistryValueEntry Value() {
    switch (Pick(5)) {
      case 0: {
        const std::string text = testing::Utf16Bytes(Text(Size() / 2)) + std::string(2, '\0');
        return {REG_SZ, std::vector<std::uint8_t>(text.begin(), text.end())};
      }
      case 1: {
        // String data the quoted form cannot carry: no NUL unit, or a line break before it.
        std::vector<std::uint8_t> data = Bytes(1 + Size());
        for (std::size_t i = 0; i + 1 < data.size(); i += 2) data[i] |= data[i + 1] == 0;
        if (data.size() >= 4 && Pick(2) == 0) data = {0x0d, 0, 0, 0, data[2], data[3]};
        return {REG_SZ, data};
      }
      case 2:
        return {REG_DWORD, Bytes(Pick(3) == 0 ? Pick(9) : 4)};
      default: {
        std::uint32_t type = Pick(3) == 0 ? static_cast<std::uint32_t>(random_()) : Pick(12);
        return {type == REG_SZ ? REG_NONE : type, Bytes(Size())};
      }
    }
  }

  std::mt19937 random_{2024};
};

TEST(RegRoundTripTest, WrittenDocumentsReadBackEqual) {
  RandomDocuments documents;
  testing::ScopedTempDir dir;
  const std::u16string path = dir.wide("doc.reg");
  for (int round = 0; round < 25; ++round) {
    const RegistryDocument written = documents.Make(round * 8);
    ASSERT_HR(S_OK, ExportRegFile(written, path)) << "round " << round;
    RegistryDocument read;
    ASSERT_HR(S_OK, ParseRegFile(read, path)) << "round " << round;
    ASSERT_EQ(written.size(), read.size()) << "round " << round;
    for (int i = 0; i < written.size(); ++i) {
      ASSERT_TRUE(written.KeyAt(i) == read.KeyAt(i))
          << "round " << round << " key " << i << "\nwritten "
          << testing::DumpKey(written.KeyAt(i)).substr(0, 2000) << "read "
          << testing::DumpKey(read.KeyAt(i)).substr(0, 2000);
    }
  }
}

}  // namespace
}  // namespace orvex
