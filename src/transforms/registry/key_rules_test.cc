#include "transforms/registry/key_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/capture_logger.h"
#include "testing/matchers.h"
#include "transforms/registry/rule_test_support.h"

namespace orvex {
namespace {

using testing::Dump;
using testing::Dword;
using testing::KeySpec;
using testing::MakeDocument;
using testing::Sz;

// One rule on one small document: the document after it, the lines logged and the result.
struct Case {
  const char* what;
  KeyRule rule;
  std::vector<KeySpec> before;
  std::string after;
  std::vector<std::string> log;
  HRESULT result = S_OK;
};

KeyRule Rule(std::u16string action, std::u16string source, std::u16string destination = u"",
             std::u16string value = u"") {
  return KeyRule{std::move(action), std::move(destination), std::move(source), std::move(value)};
}

void Check(const Case& c) {
  SCOPED_TRACE(c.what);
  testing::ScopedCaptureLogger capture;
  RegistryDocument document = MakeDocument(c.before);
  EXPECT_HR(c.result, ProcessRegistryKey(document, c.rule));
  EXPECT_EQ(c.after, Dump(document));
  EXPECT_EQ(c.log, capture.Take());
}

const std::u16string kA = u"HKEY_CURRENT_USER\\Software\\A";
const std::u16string kB = u"HKEY_CURRENT_USER\\Software\\B";

TEST(KeyRulesTest, Create) {
  const Case cases[] = {
      {"appends a new key in the long root form",
       Rule(u"Create", u"HKCU\\Software\\New"),
       {{kA, {Dword(u"n", 1)}}},
       "[HKEY_CURRENT_USER\\Software\\A]\n  n=4:01000000\n[HKEY_CURRENT_USER\\Software\\New]\n",
       {"[DEBUG] ProcessRegistryKey: Created key 'HKEY_CURRENT_USER\\Software\\New'"}},
      {"a root alone keeps its backslash",
       Rule(u"create", u"HKLM"),
       {},
       "[HKEY_LOCAL_MACHINE\\]\n",
       {"[DEBUG] ProcessRegistryKey: Created key 'HKEY_LOCAL_MACHINE\\'"}},
      {"a key that exists in another letter case is left alone",
       Rule(u"create", u"HKCU\\software\\a"),
       {{kA, {}}},
       "[HKEY_CURRENT_USER\\Software\\A]\n",
       {"[ERROR] ProcessRegistryKey: Cannot create key 'HKEY_CURRENT_USER\\software\\a' (key "
        "already exists)"}},
      {"the destination plays no part",
       Rule(u"CREATE", u"HKEY_CURRENT_USER\\X", u"not a key"),
       {},
       "[HKEY_CURRENT_USER\\X]\n",
       {"[DEBUG] ProcessRegistryKey: Created key 'HKEY_CURRENT_USER\\X'"}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(KeyRulesTest, DeleteRemovesTheWholeTree) {
  const std::vector<KeySpec> document = {
      {kA, {Sz(u"s", u"x")}}, {kA + u"\\B", {}}, {kA + u"B", {}}, {kA + u"\\B\\C", {}}, {kB, {}}};
  const Case cases[] = {
      {"the key and its subkeys, not a key that only starts alike",
       Rule(u"delete", u"HKCU\\Software\\A"),
       document,
       "[HKEY_CURRENT_USER\\Software\\AB]\n[HKEY_CURRENT_USER\\Software\\B]\n",
       {"[DEBUG] ProcessRegistryKey: Deleted tree 'HKEY_CURRENT_USER\\Software\\A' (3 keys were "
        "deleted)"}},
      {"a subtree named in another letter case",
       Rule(u"Delete", u"HKCU\\SOFTWARE\\a\\b"),
       document,
       "[HKEY_CURRENT_USER\\Software\\A]\n  s=1:78000000\n[HKEY_CURRENT_USER\\Software\\AB]\n"
       "[HKEY_CURRENT_USER\\Software\\B]\n",
       {"[DEBUG] ProcessRegistryKey: Deleted tree 'HKEY_CURRENT_USER\\SOFTWARE\\a\\b' (2 keys were "
        "deleted)"}},
      {"a missing tree",
       Rule(u"delete", u"HKCU\\Software\\Z"),
       {{kA, {}}},
       "[HKEY_CURRENT_USER\\Software\\A]\n",
       {"[ERROR] ProcessRegistryKey: Cannot delete tree 'HKEY_CURRENT_USER\\Software\\Z' (tree "
        "does not exist)"}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(KeyRulesTest, RenameRewritesTheTreeInPlace) {
  const Case cases[] = {
      {"the key and its subkeys keep their places and values",
       Rule(u"rename", u"HKCU\\Software\\Old", u"HKCU\\Software\\New"),
       {{u"HKEY_CURRENT_USER\\Software\\Old", {Dword(u"v", 7)}},
        {kB, {}},
        {u"HKEY_CURRENT_USER\\Software\\old\\Sub", {}},
        {u"HKEY_CURRENT_USER\\Software\\Older", {}}},
       "[HKEY_CURRENT_USER\\Software\\New]\n  v=4:07000000\n[HKEY_CURRENT_USER\\Software\\B]\n"
       "[HKEY_CURRENT_USER\\Software\\New\\Sub]\n[HKEY_CURRENT_USER\\Software\\Older]\n",
       {"[DEBUG] ProcessRegistryKey: Renamed tree 'HKEY_CURRENT_USER\\Software\\Old' to "
        "'HKEY_CURRENT_USER\\Software\\New' (2 keys were renamed)"}},
      {"doubled backslashes in the destination become single ones in the keys",
       Rule(u"Rename", u"HKCU\\Software\\Old", u"HKLM\\Software\\\\New\\\\"),
       {{u"HKEY_CURRENT_USER\\Software\\Old\\\\Sub", {}}},
       "[HKEY_LOCAL_MACHINE\\Software\\New\\Sub]\n",
       {"[DEBUG] ProcessRegistryKey: Renamed tree 'HKEY_CURRENT_USER\\Software\\Old' to "
        "'HKEY_LOCAL_MACHINE\\Software\\\\New\\\\' (1 keys were renamed)"}},
      {"an existing destination is not merged",
       Rule(u"rename", u"HKCU\\Software\\A", u"HKCU\\Software\\B"),
       {{kA, {Dword(u"a", 1)}}, {kB, {Dword(u"b", 2)}}},
       "[HKEY_CURRENT_USER\\Software\\B]\n  a=4:01000000\n[HKEY_CURRENT_USER\\Software\\B]\n"
       "  b=4:02000000\n",
       {"[DEBUG] ProcessRegistryKey: Renamed tree 'HKEY_CURRENT_USER\\Software\\A' to "
        "'HKEY_CURRENT_USER\\Software\\B' (1 keys were renamed)"}},
      {"a missing tree",
       Rule(u"rename", u"HKCU\\Software\\Z", u"HKCU\\Software\\B"),
       {{kA, {}}},
       "[HKEY_CURRENT_USER\\Software\\A]\n",
       {"[ERROR] ProcessRegistryKey: Cannot rename tree 'HKEY_CURRENT_USER\\Software\\Z' (tree "
        "does not exist)"}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(KeyRulesTest, MoveValue) {
  const Case cases[] = {
      {"to a new key, which is appended",
       Rule(u"move_value", u"HKCU\\Software\\A", u"HKCU\\Software\\B", u"Size"),
       {{kA, {Dword(u"x", 1), Dword(u"Size", 9), Dword(u"y", 2)}}, {u"HKEY_CURRENT_USER\\Z", {}}},
       "[HKEY_CURRENT_USER\\Software\\A]\n  x=4:01000000\n  y=4:02000000\n"
       "[HKEY_CURRENT_USER\\Z]\n[HKEY_CURRENT_USER\\Software\\B]\n  Size=4:09000000\n",
       {"[DEBUG] ProcessRegistryKey: Moved value 'Size' of key 'HKEY_CURRENT_USER\\Software\\A' to "
        "key 'HKEY_CURRENT_USER\\Software\\B'"}},
      {"over a value of that name, which keeps its place",
       Rule(u"MOVE_VALUE", u"HKCU\\Software\\A", u"HKCU\\Software\\b", u"Size"),
       {{kA, {Sz(u"Size", u"a")}}, {kB, {Dword(u"first", 1), Dword(u"Size", 2), Dword(u"z", 3)}}},
       "[HKEY_CURRENT_USER\\Software\\A]\n[HKEY_CURRENT_USER\\Software\\B]\n  first=4:01000000\n"
       "  Size=1:61000000\n  z=4:03000000\n",
       {"[DEBUG] ProcessRegistryKey: Moved value 'Size' of key 'HKEY_CURRENT_USER\\Software\\A' to "
        "key 'HKEY_CURRENT_USER\\Software\\b'"}},
      {"to the same key in another letter case, where it stays",
       Rule(u"move_value", u"HKCU\\Software\\A", u"HKCU\\SOFTWARE\\a", u"Size"),
       {{kA, {Dword(u"Size", 9), Dword(u"y", 2)}}},
       "[HKEY_CURRENT_USER\\Software\\A]\n  Size=4:09000000\n  y=4:02000000\n",
       {"[DEBUG] ProcessRegistryKey: Moved value 'Size' of key 'HKEY_CURRENT_USER\\Software\\A' to "
        "key 'HKEY_CURRENT_USER\\SOFTWARE\\a'"}},
      {"the default value",
       Rule(u"move_value", u"HKCU\\Software\\A", u"HKCU\\Software\\B", u""),
       {{kA, {Dword(u"x", 1), Sz(u"", u"d")}}, {kB, {Dword(u"b", 2)}}},
       "[HKEY_CURRENT_USER\\Software\\A]\n  x=4:01000000\n[HKEY_CURRENT_USER\\Software\\B]\n"
       "  b=4:02000000\n  =1:64000000\n",
       {"[DEBUG] ProcessRegistryKey: Moved value '' of key 'HKEY_CURRENT_USER\\Software\\A' to key "
        "'HKEY_CURRENT_USER\\Software\\B'"}},
      {"from a missing key, which creates no destination",
       Rule(u"move_value", u"HKCU\\Software\\Z", u"HKCU\\Software\\B", u"Size"),
       {{kA, {Dword(u"Size", 9)}}},
       "[HKEY_CURRENT_USER\\Software\\A]\n  Size=4:09000000\n",
       {"[ERROR] ProcessRegistryKey: Cannot move value 'Size' of key "
        "'HKEY_CURRENT_USER\\Software\\Z' (key does not exist)"}},
      {"a value name matches only in its letter case",
       Rule(u"move_value", u"HKCU\\Software\\A", u"HKCU\\Software\\B", u"size"),
       {{kA, {Dword(u"Size", 9)}}},
       "[HKEY_CURRENT_USER\\Software\\A]\n  Size=4:09000000\n",
       {"[ERROR] ProcessRegistryKey: Cannot move value 'size' of key "
        "'HKEY_CURRENT_USER\\Software\\A' (value does not exist)"}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(KeyRulesTest, InvalidPathsAndUnknownActionsStopTheRun) {
  const std::vector<KeySpec> document = {{kA, {Dword(u"Size", 9)}}};
  const std::string unchanged = "[HKEY_CURRENT_USER\\Software\\A]\n  Size=4:09000000\n";
  const Case cases[] = {
      {"a root word in lower case",
       Rule(u"create", u"hkcu\\x"),
       document,
       unchanged,
       {"[FATAL] ProcessRegistryKey: Invalid source key 'hkcu\\x'"},
       E_INVALIDARG},
      {"no root, before the action is looked at",
       Rule(u"copy", u"Software\\X"),
       document,
       unchanged,
       {"[FATAL] ProcessRegistryKey: Invalid source key 'Software\\X'"},
       E_INVALIDARG},
      {"a root this system does not handle",
       Rule(u"delete", u"HKEY_USERS\\x"),
       document,
       unchanged,
       {"[FATAL] ProcessRegistryKey: Invalid source key 'HKEY_USERS\\x'"},
       E_INVALIDARG},
      {"a rename destination",
       Rule(u"rename", u"HKCU\\Software\\A", u"Software\\New"),
       document,
       unchanged,
       {"[FATAL] ProcessRegistryKey: Invalid destination key 'Software\\New'"},
       E_INVALIDARG},
      {"a move destination, checked before the source key is looked for",
       Rule(u"move_value", u"HKCU\\Software\\Missing", u"hklm\\x", u"Size"),
       document,
       unchanged,
       {"[FATAL] ProcessRegistryKey: Invalid destination key 'hklm\\x'"},
       E_INVALIDARG},
      {"an unknown action",
       Rule(u"copy", u"HKCU\\Software\\A", u"HKCU\\Software\\B"),
       document,
       unchanged,
       {"[ERROR] ProcessRegistryKey: Unknown action 'copy'"},
       E_INVALIDARG},
      {"an empty action",
       Rule(u"", u"HKCU\\Software\\A"),
       document,
       unchanged,
       {"[ERROR] ProcessRegistryKey: Unknown action ''"},
       E_INVALIDARG},
  };
  for (const Case& c : cases) Check(c);
}

}  // namespace
}  // namespace orvex
