#include "regfile/registry_document.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/compare.h"
#include "common/text.h"
#include "testing/matchers.h"

namespace orvex {
namespace {

RegistryValueEntry Sz(char16_t c) {
  return RegistryValueEntry{REG_SZ, {static_cast<std::uint8_t>(c), 0, 0, 0}};
}

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

std::vector<std::u16string> NamesOf(const RegistryValueList& values) {
  std::vector<std::u16string> names;
  for (const RegistryValuePair& pair : values) names.push_back(pair.name);
  return names;
}

// What FindKey must answer: the first entry whose path is equal ignoring case.
int LinearFind(const RegistryDocument& document, std::u16string_view path) {
  for (int i = 0; i < document.size(); ++i) {
    if (EqualsIgnoreCase(document.keys()[static_cast<std::size_t>(i)].path(), path)) return i;
  }
  return -1;
}

TEST(RegistryDocumentTest, FindKeyIgnoresCaseAndAnswersTheFirstOfEqualPaths) {
  RegistryDocument document =
      DocumentOf({u"HKEY_CURRENT_USER\\Software\\X", u"HKEY_CURRENT_USER\\Software\\Y",
                  u"HKEY_CURRENT_USER\\SOFTWARE\\x"});
  EXPECT_EQ(0, document.FindKey(u"hkey_current_user\\software\\x"));
  EXPECT_EQ(1, document.FindKey(u"HKEY_CURRENT_USER\\Software\\Y"));
  EXPECT_EQ(-1, document.FindKey(u"HKEY_CURRENT_USER\\Software"));
  EXPECT_EQ(-1, document.FindKey(u"HKEY_CURRENT_USER\\Software\\X\\"));
  // Accents are not letter case.
  EXPECT_EQ(-1, document.FindKey(u"HKEY_CURRENT_USER\\Software\\\u00dd"));
  EXPECT_EQ(0, document.FindOrAddKey(u"HKEY_CURRENT_USER\\software\\X"));
  EXPECT_EQ(3, document.FindOrAddKey(u"HKEY_CURRENT_USER\\software\\Z"));
  EXPECT_EQ(3, document.FindKey(u"hkey_current_user\\software\\z"));
  EXPECT_EQ(4, document.size());
}

TEST(RegistryDocumentTest, KeyOperationsPlaceEntries) {
  RegistryDocument document = DocumentOf({u"A", u"B"});
  EXPECT_EQ(2, document.AddKey(u"a"));  // no duplicate check
  RegistryKeyEntry entry(u"C");
  ASSERT_TRUE(entry.values().AddValue(u"v", Sz(u'1')));
  document.InsertKeyAt(1, entry);
  document.InsertKeyAt(4, RegistryKeyEntry(u"D"));
  EXPECT_EQ((std::vector<std::u16string>{u"A", u"C", u"B", u"a", u"D"}), PathsOf(document));
  // The inserted entry is a copy.
  ASSERT_TRUE(entry.values().AddValue(u"w", Sz(u'2')));
  EXPECT_EQ(1, document.KeyAt(1).values().size());

  document.RemoveKeyAt(0);
  EXPECT_EQ((std::vector<std::u16string>{u"C", u"B", u"a", u"D"}), PathsOf(document));
  EXPECT_EQ(2, document.FindKey(u"A"));
  try {
    document.RemoveKeyAt(4);
    ADD_FAILURE() << "an index beyond the keys was accepted";
  } catch (const ResultException& e) {
    EXPECT_HR(E_INVALIDARG, e.result());
  }
}

TEST(RegistryDocumentTest, ValueListOperations) {
  RegistryValueList values;
  ASSERT_TRUE(values.AddValue(u"a", Sz(u'1')));
  ASSERT_TRUE(values.AddValue(u"Name", Sz(u'2')));
  ASSERT_TRUE(values.AddValue(u"a", Sz(u'3')));

  EXPECT_EQ(-1, values.FindValue(u"name"));  // names compare exactly
  EXPECT_EQ(1, values.FindValue(u"Name"));
  EXPECT_EQ(0, values.FindValue(u"a"));

  const RegistryValueList before = values;
  EXPECT_FALSE(values.SetValue(u"absent", Sz(u'9')));
  EXPECT_FALSE(values.RemoveValueAt(3));
  EXPECT_FALSE(values.RemoveValueAt(-1));
  EXPECT_EQ(before, values);

  EXPECT_TRUE(values.SetValue(u"a", Sz(u'4')));  // the first of the two, in place
  EXPECT_EQ(Sz(u'4'), values[0].value);
  EXPECT_EQ(Sz(u'3'), values[2].value);

  EXPECT_TRUE(values.RemoveValueAt(0));
  EXPECT_EQ(1, values.FindValue(u"a"));
  EXPECT_EQ(Sz(u'3'), values[1].value);

  values.RenameValueAt(1, u"b");
  values.RetypeValueAt(1, REG_EXPAND_SZ);
  EXPECT_EQ((std::vector<std::u16string>{u"Name", u"b"}), NamesOf(values));
  EXPECT_EQ((RegistryValueEntry{REG_EXPAND_SZ, {u'3', 0, 0, 0}}), values[1].value);
}

TEST(RegistryDocumentTest, IsKeyAtOrBelowComparesComponents) {
  struct Case {
    std::u16string_view key;
    std::u16string_view root;
    bool expected;
  };
  const Case cases[] = {
      {u"HKEY_CURRENT_USER\\Software\\Old", u"HKEY_CURRENT_USER\\Software\\Old", true},
      {u"HKEY_CURRENT_USER\\Software\\Old\\Sub", u"HKEY_CURRENT_USER\\Software\\Old", true},
      {u"hkey_current_user\\software\\old\\sub", u"HKEY_CURRENT_USER\\Software\\Old", true},
      {u"HKEY_CURRENT_USER\\Software\\Older", u"HKEY_CURRENT_USER\\Software\\Old", false},
      {u"HKEY_CURRENT_USER\\Software", u"HKEY_CURRENT_USER\\Software\\Old", false},
      // Equal components, but the key is one unit shorter than the root.
      {u"HKEY_CURRENT_USER\\Software", u"HKEY_CURRENT_USER\\\\Software", false},
      {u"HKEY_CURRENT_USER\\Software\\X", u"HKEY_CURRENT_USER\\\\Software", true},
      {u"\\HKEY_CURRENT_USER\\\\Software\\", u"HKEY_CURRENT_USER\\Software\\", true},
      {u"HKEY_CURRENT_USER\\Software\\Old", u"HKEY_CURRENT_USER\\Software\\\u00d6ld", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, IsKeyAtOrBelow(c.key, c.root))
        << ToUtf8(c.key) << " under " << ToUtf8(c.root);
  }
}

TEST(RegistryDocumentTest, DeleteKeyTreeRemovesTheRootAndEverythingBelow) {
  RegistryDocument document = DocumentOf(
      {u"HKEY_CURRENT_USER\\Software\\Old\\Sub", u"HKEY_CURRENT_USER\\Software\\Older",
       u"HKEY_CURRENT_USER\\Software\\old", u"HKEY_CURRENT_USER\\Software",
       u"HKEY_CURRENT_USER\\Software\\Old\\Sub\\Leaf"});
  EXPECT_EQ(0, document.DeleteKeyTree(u"HKEY_CURRENT_USER\\Software\\Gone"));
  EXPECT_EQ(5, document.size());
  EXPECT_EQ(3, document.DeleteKeyTree(u"HKEY_CURRENT_USER\\Software\\Old"));
  EXPECT_EQ((std::vector<std::u16string>{u"HKEY_CURRENT_USER\\Software\\Older",
                                         u"HKEY_CURRENT_USER\\Software"}),
            PathsOf(document));
  EXPECT_EQ(1, document.FindKey(u"HKEY_CURRENT_USER\\Software"));
  EXPECT_EQ(-1, document.FindKey(u"HKEY_CURRENT_USER\\Software\\Old"));
}

TEST(RegistryDocumentTest, RenameKeyTreeRewritesPathsInPlace) {
  struct Case {
    std::u16string_view source;
    std::u16string_view destination;
    std::vector<std::u16string> before;
    int renamed;
    std::vector<std::u16string> after;
  };
  const Case cases[] = {
      {u"HKEY_CURRENT_USER\\Software\\Old",
       u"HKEY_CURRENT_USER\\Software\\New",
       {u"HKEY_CURRENT_USER\\Software\\Old\\Sub\\Leaf", u"HKEY_CURRENT_USER\\Software\\Older",
        u"HKEY_CURRENT_USER\\software\\old"},
       2,
       {u"HKEY_CURRENT_USER\\Software\\New\\Sub\\Leaf", u"HKEY_CURRENT_USER\\Software\\Older",
        u"HKEY_CURRENT_USER\\Software\\New"}},
      // Separators are rebuilt as single backslashes, in the destination and the taken-over part.
      {u"HKEY_CURRENT_USER\\Software\\Old",
       u"HKEY_CURRENT_USER\\\\Software\\New\\",
       {u"HKEY_CURRENT_USER\\Software\\Old\\\\Sub\\Leaf\\"},
       1,
       {u"HKEY_CURRENT_USER\\Software\\New\\Sub\\Leaf"}},
      {u"HKEY_CURRENT_USER\\Software\\Gone", u"HKEY_CURRENT_USER\\X", {u"HKEY_CURRENT_USER\\A"},
       0, {u"HKEY_CURRENT_USER\\A"}},
  };
  for (const Case& c : cases) {
    RegistryDocument document = DocumentOf(c.before);
    EXPECT_EQ(c.renamed, document.RenameKeyTree(c.source, c.destination));
    EXPECT_EQ(c.after, PathsOf(document)) << ToUtf8(c.source);
  }
}

TEST(RegistryDocumentTest, RenameOntoAnExistingKeyKeepsBoth) {
  RegistryDocument document = DocumentOf({u"HKEY_CURRENT_USER\\Old", u"HKEY_CURRENT_USER\\New"});
  ASSERT_TRUE(document.KeyAt(0).values().AddValue(u"from", Sz(u'o')));
  EXPECT_EQ(1, document.RenameKeyTree(u"HKEY_CURRENT_USER\\Old", u"HKEY_CURRENT_USER\\New"));
  EXPECT_EQ((std::vector<std::u16string>{u"HKEY_CURRENT_USER\\New", u"HKEY_CURRENT_USER\\New"}),
            PathsOf(document));
  EXPECT_EQ(0, document.FindKey(u"hkey_current_user\\new"));
  EXPECT_EQ(0, document.KeyAt(0).values().FindValue(u"from"));
  EXPECT_EQ(-1, document.FindKey(u"HKEY_CURRENT_USER\\Old"));
}

TEST(RegistryDocumentTest, NormalizeKeyPathSpellsTheRootOut) {
  struct Case {
    std::u16string_view path;
    bool accepted;
    std::u16string_view expected;
  };
  const Case cases[] = {
      {u"HKCU\\Software\\X", true, u"HKEY_CURRENT_USER\\Software\\X"},
      {u"HKCU", true, u"HKEY_CURRENT_USER\\"},
      {u"HKLM", true, u"HKEY_LOCAL_MACHINE\\"},
      {u"\\HKLM\\Software", true, u"HKEY_LOCAL_MACHINE\\Software"},
      {u"HKEY_CURRENT_USER\\A", true, u"HKEY_CURRENT_USER\\A"},
      {u"HKEY_LOCAL_MACHINE\\\\A", true, u"HKEY_LOCAL_MACHINE\\\\A"},
      {u"HKCU\\", true, u"HKEY_CURRENT_USER\\"},
      {u"hkcu\\Software", false, u"hkcu\\Software"},
      {u"HKEY_USERS\\x", false, u"HKEY_USERS\\x"},
      {u"HKCUX\\A", false, u"HKCUX\\A"},
      {u"", false, u""},
  };
  for (const Case& c : cases) {
    std::u16string path(c.path);
    EXPECT_EQ(c.accepted, NormalizeKeyPath(&path)) << ToUtf8(c.path);
    EXPECT_EQ(c.expected, path) << ToUtf8(c.path);
  }
}

// The index must answer exactly like a scan from the start, whatever changed the keys before.
TEST(RegistryDocumentTest, IndexStaysRightAcrossEveryChange) {
  const std::u16string parts[] = {u"A", u"a", u"B", u"b\u00e9", u"B\u00c9", u"C"};
  std::mt19937 random(7);
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  auto random_path = [&] {
    std::u16string path = u"R";
    const std::size_t depth = 1 + pick(3);
    for (std::size_t i = 0; i < depth; ++i) path += u"\\" + parts[pick(std::size(parts))];
    return path;
  };

  RegistryDocument document;
  for (int step = 0; step < 3000; ++step) {
    switch (pick(8)) {
      case 0:
      case 1:
        document.AddKey(random_path());
        break;
      case 2:
        (void)document.FindOrAddKey(random_path());
        break;
      case 3:
        document.InsertKeyAt(static_cast<int>(pick(document.keys().size() + 1)),
                             RegistryKeyEntry(random_path()));
        break;
      case 4:
        if (document.size() > 0) document.RemoveKeyAt(static_cast<int>(pick(document.keys().size())));
        break;
      case 5:
        if (pick(4) == 0) document.DeleteKeyTree(random_path());
        break;
      case 6:
        document.RenameKeyTree(random_path(), random_path());
        break;
      case 7: {
        std::vector<int> order(document.keys().size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(order.size() - 1 - i);
        document.ReorderKeys(order);
        break;
      }
    }
    const std::u16string probe = random_path();
    ASSERT_EQ(LinearFind(document, probe), document.FindKey(probe))
        << "step " << step << " probe " << ToUtf8(probe);
  }
}

}  // namespace
}  // namespace orvex
