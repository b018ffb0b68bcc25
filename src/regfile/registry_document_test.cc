#include "regfile/registry_document.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/text.h"
#include "regfile/reg_test_support.h"
#include "testing/matchers.h"

namespace orvex {
namespace {

using testing::DocumentOf;
using testing::Paths;
using testing::PathsOf;

RegistryValueEntry Sz(char16_t c) {
  return RegistryValueEntry{REG_SZ, {static_cast<std::uint8_t>(c), 0, 0, 0}};
}

TEST(RegistryDocumentTest, KeyOperations) {
  RegistryDocument document = DocumentOf({u"HKEY_CURRENT_USER\\Software\\X", u"B"});
  EXPECT_EQ(0, document.FindKey(u"hkey_current_user\\software\\x"));
  EXPECT_EQ(-1, document.FindKey(u"HKEY_CURRENT_USER\\Software\\\u00dd"));  // accents count
  EXPECT_EQ(2, document.AddKey(u"b"));                                      // no duplicate check
  EXPECT_EQ(1, document.FindKey(u"B"));
  EXPECT_EQ(1, document.FindOrAddKey(u"b"));
  RegistryKeyEntry entry(u"C");
  ASSERT_TRUE(entry.values().AddValue(u"v", Sz(u'1')));
  document.InsertKeyAt(1, entry);
  document.InsertKeyAt(4, RegistryKeyEntry(u"D"));
  ASSERT_TRUE(entry.values().AddValue(u"w", Sz(u'2')));  // the document holds a copy
  EXPECT_EQ(1, document.KeyAt(1).values().size());
  document.RemoveKeyAt(0);
  EXPECT_EQ((Paths{u"C", u"B", u"b", u"D"}), PathsOf(document));
  EXPECT_EQ(1, document.FindKey(u"b"));
  try {
    document.RemoveKeyAt(4);
    ADD_FAILURE() << "an index beyond the keys was accepted";
  } catch (const ResultException& e) {
    EXPECT_HR(E_INVALIDARG, e.result());
  }
}

TEST(RegistryDocumentTest, ValueListOperations) {
  RegistryValueList values;
  for (const char16_t* name : {u"a", u"Name", u"a"}) ASSERT_TRUE(values.AddValue(name, Sz(u'1')));
  ASSERT_TRUE(values.SetValue(u"a", Sz(u'4')));  // the first of the two, in place
  EXPECT_EQ(-1, values.FindValue(u"name"));      // names compare exactly
  EXPECT_EQ(0, values.FindValue(u"a"));

  const RegistryValueList before = values;
  EXPECT_FALSE(values.SetValue(u"absent", Sz(u'9')));
  EXPECT_FALSE(values.RemoveValueAt(3));
  EXPECT_EQ(before, values);

  EXPECT_TRUE(values.RemoveValueAt(0));
  EXPECT_EQ(1, values.FindValue(u"a"));
  values.RenameValueAt(1, u"b");
  values.RetypeValueAt(1, REG_EXPAND_SZ);
  EXPECT_EQ(u"b", values[1].name);
  EXPECT_EQ((RegistryValueEntry{REG_EXPAND_SZ, {u'1', 0, 0, 0}}), values[1].value);
}

TEST(RegistryDocumentTest, IsKeyAtOrBelowComparesComponents) {
  const struct {
    std::u16string_view key, root;
    bool expected;
  } cases[] = {
      {u"HKEY_CURRENT_USER\\Software\\Old", u"HKEY_CURRENT_USER\\Software\\Old", true},
      {u"hkey_current_user\\software\\old\\sub", u"HKEY_CURRENT_USER\\Software\\Old", true},
      {u"HKEY_CURRENT_USER\\Software\\Older", u"HKEY_CURRENT_USER\\Software\\Old", false},
      {u"HKEY_CURRENT_USER\\Software", u"HKEY_CURRENT_USER\\Software\\Old", false},
      // Equal components, but the key is one unit shorter than the root.
      {u"HKEY_CURRENT_USER\\Software", u"HKEY_CURRENT_USER\\\\Software", false},
      {u"HKEY_CURRENT_USER\\Software\\X", u"HKEY_CURRENT_USER\\\\Software", true},
      {u"\\HKEY_CURRENT_USER\\\\Software\\", u"HKEY_CURRENT_USER\\Software\\", true},
      {u"HKEY_CURRENT_USER\\Software\\Old", u"HKEY_CURRENT_USER\\Software\\\u00d6ld", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, IsKeyAtOrBelow(c.key, c.root)) << ToUtf8(c.key) << " " << ToUtf8(c.root);
  }
}

TEST(RegistryDocumentTest, DeleteKeyTreeRemovesTheRootAndEverythingBelow) {
  RegistryDocument document = DocumentOf(
      {u"HKCU\\Old\\Sub", u"HKCU\\Older", u"HKCU\\old", u"HKCU", u"HKCU\\Old\\Sub\\Leaf"});
  EXPECT_EQ(0, document.DeleteKeyTree(u"HKCU\\Gone"));
  EXPECT_EQ(3, document.DeleteKeyTree(u"HKCU\\Old"));
  EXPECT_EQ((Paths{u"HKCU\\Older", u"HKCU"}), PathsOf(document));
  EXPECT_EQ(1, document.FindKey(u"HKCU"));
  EXPECT_EQ(-1, document.FindKey(u"HKCU\\Old"));
}

TEST(RegistryDocumentTest, RenameKeyTreeRewritesPathsInPlace) {
  const struct {
    std::u16string_view source, destination;
    Paths before;
    int renamed;
    Paths after;
  } cases[] = {
      {u"HKCU\\Software\\Old",
       u"HKCU\\Software\\New",
       {u"HKCU\\Software\\Old\\Sub\\Leaf", u"HKCU\\Software\\Older", u"HKCU\\software\\old"},
       2,
       {u"HKCU\\Software\\New\\Sub\\Leaf", u"HKCU\\Software\\Older", u"HKCU\\Software\\New"}},
      // Separators become single backslashes, in the destination and in the part taken over.
      {u"HKCU\\Software\\Old",
       u"HKCU\\\\Software\\New\\",
       {u"HKCU\\Software\\Old\\\\Sub\\Leaf\\"},
       1,
       {u"HKCU\\Software\\New\\Sub\\Leaf"}},
      // A renamed key is not merged with one already at its new path.
      {u"HKCU\\Old", u"HKCU\\New", {u"HKCU\\Old", u"HKCU\\New"}, 1, {u"HKCU\\New", u"HKCU\\New"}},
  };
  for (const auto& c : cases) {
    RegistryDocument document = DocumentOf(c.before);
    EXPECT_EQ(c.renamed, document.RenameKeyTree(c.source, c.destination));
    EXPECT_EQ(c.after, PathsOf(document)) << ToUtf8(c.source);
    EXPECT_EQ(0, document.FindKey(c.after[0]));
  }
}

TEST(RegistryDocumentTest, NormalizeKeyPathSpellsTheRootOut) {
  const struct {
    std::u16string_view path;
    bool accepted;
    std::u16string_view expected;
  } cases[] = {
      {u"HKCU\\Software\\X", true, u"HKEY_CURRENT_USER\\Software\\X"},
      {u"HKCU", true, u"HKEY_CURRENT_USER\\"},
      {u"HKEY_CURRENT_USER\\A", true, u"HKEY_CURRENT_USER\\A"},
      {u"\\HKLM\\Software", true, u"HKEY_LOCAL_MACHINE\\Software"},
      {u"HKEY_LOCAL_MACHINE\\\\A", true, u"HKEY_LOCAL_MACHINE\\\\A"},
      {u"hkcu\\Software", false, u"hkcu\\Software"},
      {u"HKEY_USERS\\x", false, u"HKEY_USERS\\x"},
      {u"", false, u""},
  };
  for (const auto& c : cases) {
    std::u16string path(c.path);
    EXPECT_EQ(c.accepted, NormalizeKeyPath(&path)) << ToUtf8(c.path);
    EXPECT_EQ(c.expected, path) << ToUtf8(c.path);
  }
}

// FindKey must answer like a scan from the start, whatever changed the keys before.
TEST(RegistryDocumentTest, IndexStaysRightAcrossEveryChange) {
  const std::u16string parts[] = {u"A", u"a", u"B", u"b\u00e9", u"B\u00c9", u"C"};
  std::mt19937 random(7);
  auto pick = [&](std::size_t n) { return static_cast<int>(random() % n); };
  auto random_path = [&] {
    std::u16string path = u"R";
    for (int depth = 1 + pick(3); depth > 0; --depth) path += u"\\" + parts[pick(6)];
    return path;
  };
  RegistryDocument document;
  for (int step = 0; step < 3000; ++step) {
    const std::size_t size = document.keys().size();
    switch (pick(8)) {
      case 0:
      case 1:
        document.AddKey(random_path());
        break;
      case 2:
        (void)document.FindOrAddKey(random_path());
        break;
      case 3:
        document.InsertKeyAt(pick(size + 1), RegistryKeyEntry(random_path()));
        break;
      case 4:
        if (size > 0) document.RemoveKeyAt(pick(size));
        break;
      case 5:
        if (pick(4) == 0) document.DeleteKeyTree(random_path());
        break;
      case 6:
        document.RenameKeyTree(random_path(), random_path());
        break;
      default: {
        std::vector<int> reversed(size);
        for (std::size_t i = 0; i < size; ++i) reversed[i] = static_cast<int>(size - 1 - i);
        document.ReorderKeys(reversed);
      }
    }
    const std::u16string probe = random_path();
    int expected = -1;
    for (int i = document.size() - 1; i >= 0; --i) {
      if (EqualsIgnoreCase(document.KeyAt(i).path(), probe)) expected = i;
    }
    ASSERT_EQ(expected, document.FindKey(probe)) << "step " << step << " " << ToUtf8(probe);
  }
}

}  // namespace
}  // namespace orvex
