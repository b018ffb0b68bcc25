#include "regfile/key_order.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/compare.h"
#include "common/text.h"
#include "logging/logger.h"

namespace orvex {
namespace {

constexpr std::u16string_view kMarkers = kImportMarkerKeyPath;

RegistryValueEntry Dword(std::uint8_t n) { return RegistryValueEntry{REG_DWORD, {n, 0, 0, 0}}; }

RegistryDocument DocumentOf(const std::vector<std::u16string>& paths) {
  RegistryDocument document;
  for (const std::u16string& path : paths) document.AddKey(path);
  return document;
}

std::vector<std::u16string> PathsOf(const RegistryDocument& document) {
  std::vector<std::u16string> paths;
  for (const RegistryKeyEntry& key : document.keys()) paths.push_back(key.path());
  return paths;
}

// Keeps the lines logged while it lives, without their time stamps.
class LogCapture {
 public:
  LogCapture() : logger_(std::make_shared<Logger>()) { GlobalLogger = logger_; }
  ~LogCapture() { GlobalLogger.reset(); }
  const std::vector<std::u16string>& lines() const { return logger_->lines; }

 private:
  struct Logger : Quenlar_Utils::AbstractLogger {
    std::vector<std::u16string> lines;
    void Write(Quenlar_Utils::LogLevel, std::u16string_view line) override {
      lines.emplace_back(line.substr(line.find(u'[')));
    }
  };
  std::shared_ptr<Logger> logger_;
};

TEST(KeyOrderTest, SortKeysFollowsTheCaseInsensitiveCollation) {
  struct Case {
    std::vector<std::u16string> keys;
    std::vector<std::u16string> sorted;
  };
  const Case cases[] = {
      {{u"HKEY_CURRENT_USER\\b", u"HKEY_CURRENT_USER\\A", u"HKEY_CURRENT_USER\\a\\x"},
       {u"HKEY_CURRENT_USER\\A", u"HKEY_CURRENT_USER\\a\\x", u"HKEY_CURRENT_USER\\b"}},
      // A backslash sorts before letters, unlike in code-unit order.
      {{u"HKEY_CURRENT_USER\\AB", u"HKEY_CURRENT_USER\\A\\x"},
       {u"HKEY_CURRENT_USER\\A\\x", u"HKEY_CURRENT_USER\\AB"}},
      {{u"K\\a", u"K\\1", u"K\\_", u"K"}, {u"K", u"K\\_", u"K\\1", u"K\\a"}},
      {{u"K\\e\u0301", u"K\\f", u"K\\e"}, {u"K\\e", u"K\\e\u0301", u"K\\f"}},
      // Paths equal but for letter case keep their order.
      {{u"X\\b", u"X\\B", u"X\\a", u"X\\A", u"x\\a"}, {u"X\\a", u"X\\A", u"x\\a", u"X\\b", u"X\\B"}},
      {{u"Only"}, {u"Only"}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    RegistryDocument document = DocumentOf(c.keys);
    SortKeys(document);
    EXPECT_EQ(c.sorted, PathsOf(document));
  }
}

TEST(KeyOrderTest, SortKeysMatchesAnExchangeSortOfNeighbours) {
  const std::u16string parts[] = {u"a", u"A", u"b", u"B", u"ab", u"AB", u"a b", u"1", u"_",
                                  u"\u00e9", u"E",  u"e", u"\u00c9", u"-", u"a-b"};
  std::mt19937 random(11);
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };

  for (int round = 0; round < 20; ++round) {
    std::vector<std::u16string> paths;
    for (int i = 0; i < 150; ++i) {
      std::u16string path = pick(2) ? u"HKEY_CURRENT_USER" : u"hkey_current_user";
      const std::size_t depth = 1 + pick(3);
      for (std::size_t d = 0; d < depth; ++d) path += u"\\" + parts[pick(std::size(parts))];
      paths.push_back(path);
    }
    // Each key carries its original position, so that equal paths can be told apart.
    RegistryDocument document;
    std::vector<std::pair<std::u16string, int>> expected;
    for (std::size_t i = 0; i < paths.size(); ++i) {
      const int index = document.AddKey(paths[i]);
      ASSERT_TRUE(document.KeyAt(index).values().AddValue(u"i", Dword(static_cast<std::uint8_t>(i))));
      expected.emplace_back(paths[i], static_cast<int>(i));
    }
    const std::size_t n = expected.size();
    for (std::size_t pass = 0; pass + 1 < n; ++pass) {
      for (std::size_t j = 0; j + 1 < n - pass; ++j) {
        if (CompareIgnoreCase(expected[j].first, expected[j + 1].first) > 0) {
          std::swap(expected[j], expected[j + 1]);
        }
      }
    }

    SortKeys(document);
    ASSERT_EQ(static_cast<int>(n), document.size());
    for (std::size_t i = 0; i < n; ++i) {
      const RegistryKeyEntry& key = document.keys()[i];
      ASSERT_EQ(expected[i].first, key.path()) << "round " << round << " position " << i;
      ASSERT_EQ(expected[i].second, key.values()[0].value.data[0]) << "round " << round;
    }
  }
}

TEST(KeyOrderTest, MarkersGoFirstAndLastWhereverTheirKeySorts) {
  const std::u16string_view spellings[] = {
      kMarkers, u"hkey_current_user\\software\\quenlar\\orvex zoravudi\\importmarkers"};
  for (const std::u16string_view found_as : spellings) {
    RegistryDocument document =
        DocumentOf({u"HKEY_CURRENT_USER\\A", std::u16string(found_as), u"HKEY_CURRENT_USER\\Z"});
    RegistryValueList& values = document.KeyAt(1).values();
    ASSERT_TRUE(values.AddValue(u"Pre", Dword(1)));
    ASSERT_TRUE(values.AddValue(u"Other", Dword(2)));
    ASSERT_TRUE(values.AddValue(u"Post", Dword(3)));
    LogCapture log;

    SortKeys(document);
    PlaceImportMarkers(document);

    EXPECT_EQ((std::vector<std::u16string>{std::u16string(kMarkers), u"HKEY_CURRENT_USER\\A",
                                           u"HKEY_CURRENT_USER\\Z", std::u16string(kMarkers)}),
              PathsOf(document));
    const RegistryValueList& first = document.keys().front().values();
    const RegistryValueList& last = document.keys().back().values();
    ASSERT_EQ(1, first.size());
    EXPECT_EQ((RegistryValuePair{u"Pre", Dword(1)}), first[0]);
    ASSERT_EQ(1, last.size());
    EXPECT_EQ((RegistryValuePair{u"Post", Dword(3)}), last[0]);
    EXPECT_EQ(0, document.FindKey(kMarkers));
    EXPECT_EQ((std::vector<std::u16string>{u"[DEBUG] Import markers inserted successfully\n"}),
              log.lines());
  }
}

TEST(KeyOrderTest, MissingOrIncompleteMarkersLeaveTheDocumentAlone) {
  struct Case {
    const char* label;
    std::vector<std::u16string> paths;
    std::vector<std::u16string> names;  // values of the second key
    std::u16string message;
  };
  const std::u16string markers(kMarkers);
  const Case cases[] = {
      {"no marker key", {u"HKEY_CURRENT_USER\\A", u"HKEY_CURRENT_USER\\Software\\Quenlar"}, {u"Pre", u"Post"},
       u"[ERROR] Import markers are not found\n"},
      {"names compare exactly", {u"HKEY_CURRENT_USER\\A", markers}, {u"pre", u"Post"},
       u"[ERROR] Import markers appear to be incomplete\n"},
      {"no epilogue", {u"HKEY_CURRENT_USER\\A", markers}, {u"Pre"},
       u"[ERROR] Import markers appear to be incomplete\n"},
  };
  for (const Case& c : cases) {
    RegistryDocument document = DocumentOf(c.paths);
    for (const std::u16string& name : c.names) {
      ASSERT_TRUE(document.KeyAt(1).values().AddValue(name, Dword(0)));
    }
    LogCapture log;
    PlaceImportMarkers(document);
    EXPECT_EQ(c.paths, PathsOf(document)) << c.label;
    EXPECT_EQ(static_cast<int>(c.names.size()), document.keys()[1].values().size()) << c.label;
    EXPECT_EQ(std::vector<std::u16string>{c.message}, log.lines()) << c.label;
  }
}

}  // namespace
}  // namespace orvex
