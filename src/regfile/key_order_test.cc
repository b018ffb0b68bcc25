#include "regfile/key_order.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "logging/logger.h"
#include "platform/text.h"
#include "regfile/reg_test_support.h"
#include "testing/capture_logger.h"

namespace orvex {
namespace {

using testing::DocumentOf;
using testing::Paths;
using testing::PathsOf;

using Lines = std::vector<std::string>;

const std::u16string kMarkers(kImportMarkerKeyPath);

RegistryValueEntry Dword(std::uint8_t n) { return RegistryValueEntry{REG_DWORD, {n, 0, 0, 0}}; }

TEST(KeyOrderTest, SortKeysFollowsTheCaseInsensitiveCollation) {
  const std::pair<Paths, Paths> cases[] = {
      {{u"HKCU\\b", u"HKCU\\A", u"HKCU\\a\\x"}, {u"HKCU\\A", u"HKCU\\a\\x", u"HKCU\\b"}},
      // A backslash sorts before letters, unlike in code-unit order.
      {{u"HKCU\\AB", u"HKCU\\A\\x"}, {u"HKCU\\A\\x", u"HKCU\\AB"}},
      {{u"K\\a", u"K\\1", u"K\\_", u"K"}, {u"K", u"K\\_", u"K\\1", u"K\\a"}},
      {{u"K\\e\u0301", u"K\\f", u"K\\e"}, {u"K\\e", u"K\\e\u0301", u"K\\f"}},
      // Paths equal but for letter case keep their order.
      {{u"X\\b", u"X\\B", u"X\\a", u"X\\A", u"x\\a"},
       {u"X\\a", u"X\\A", u"x\\a", u"X\\b", u"X\\B"}},
      {{u"Only"}, {u"Only"}},
  };
  for (const auto& [keys, sorted] : cases) {
    RegistryDocument document = DocumentOf(keys);
    SortKeys(document);
    EXPECT_EQ(sorted, PathsOf(document));
  }
}

TEST(KeyOrderTest, SortKeysMatchesAnExchangeSortOfNeighbours) {
  const std::u16string parts[] = {u"a", u"A", u"b", u"ab", u"AB",     u"a b",    u"1",
                                  u"_", u"-", u"e", u"E",  u"\u00e9", u"\u00c9", u"a-b"};
  std::mt19937 random(11);
  for (int round = 0; round < 20; ++round) {
    // Each key carries its first position in a value, so that equal paths can be told apart.
    RegistryDocument document;
    std::vector<std::pair<std::u16string, std::uint8_t>> expected;
    for (std::uint8_t i = 0; i < 150; ++i) {
      std::u16string path = random() % 2 ? u"HKCU" : u"hkcu";
      for (int depth = 1 + random() % 3; depth > 0; --depth) path += u"\\" + parts[random() % 14];
      ASSERT_TRUE(document.KeyAt(document.AddKey(path)).values().AddValue(u"i", Dword(i)));
      expected.emplace_back(path, i);
    }
    for (std::size_t pass = 0; pass + 1 < expected.size(); ++pass) {
      for (std::size_t j = 0; j + 1 < expected.size() - pass; ++j) {
        if (CompareIgnoreCase(expected[j].first, expected[j + 1].first) > 0) {
          std::swap(expected[j], expected[j + 1]);
        }
      }
    }
    SortKeys(document);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const RegistryKeyEntry& key = document.keys()[i];
      ASSERT_EQ(expected[i].first, key.path()) << "round " << round << " position " << i;
      ASSERT_EQ(expected[i].second, key.values()[0].value.data[0]) << "round " << round;
    }
  }
}

TEST(KeyOrderTest, MarkersGoFirstAndLastWhereverTheirKeySorts) {
  for (const std::u16string& found_as :
       {kMarkers, std::u16string(u"hkey_current_user\\software\\quenlar\\orvex zoravudi\\"
                                 u"importmarkers")}) {
    RegistryDocument document = DocumentOf({u"HKCU\\A", found_as, u"HKCU\\Z"});
    RegistryValueList& values = document.KeyAt(1).values();
    for (const char16_t* name : {u"Pre", u"Other", u"Post"}) {
      ASSERT_TRUE(values.AddValue(name, Dword(name[1])));
    }
    testing::ScopedCaptureLogger log;
    SortKeys(document);
    PlaceImportMarkers(document);
    EXPECT_EQ((Paths{kMarkers, u"HKCU\\A", u"HKCU\\Z", kMarkers}), PathsOf(document));
    ASSERT_EQ(1, document.keys().front().values().size());
    EXPECT_EQ((RegistryValuePair{u"Pre", Dword(u'r')}), document.keys().front().values()[0]);
    ASSERT_EQ(1, document.keys().back().values().size());
    EXPECT_EQ((RegistryValuePair{u"Post", Dword(u'o')}), document.keys().back().values()[0]);
    EXPECT_EQ(0, document.FindKey(kMarkers));
    EXPECT_EQ(Lines{"[DEBUG] Import markers inserted successfully"}, log.Take());
  }
}

TEST(KeyOrderTest, MissingOrIncompleteMarkersLeaveTheDocumentAlone) {
  const struct {
    std::u16string second_key;
    Paths names;
    std::string message;
  } cases[] = {
      {u"HKCU\\Software\\Quenlar", {u"Pre", u"Post"}, "[ERROR] Import markers are not found"},
      {kMarkers, {u"pre", u"Post"}, "[ERROR] Import markers appear to be incomplete"},
      {kMarkers, {u"Pre"}, "[ERROR] Import markers appear to be incomplete"},
  };
  for (const auto& c : cases) {
    RegistryDocument document = DocumentOf({u"HKCU\\A", c.second_key});
    for (const std::u16string& name : c.names) {
      ASSERT_TRUE(document.KeyAt(1).values().AddValue(name, Dword(0)));
    }
    testing::ScopedCaptureLogger log;
    PlaceImportMarkers(document);
    EXPECT_EQ((Paths{u"HKCU\\A", c.second_key}), PathsOf(document));
    EXPECT_EQ(static_cast<int>(c.names.size()), document.KeyAt(1).values().size());
    EXPECT_EQ(Lines{c.message}, log.Take());
  }
}

}  // namespace
}  // namespace orvex
