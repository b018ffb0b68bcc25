#include "transforms/registry/value_rules.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "testing/capture_logger.h"
#include "testing/matchers.h"
#include "transforms/registry/rule_test_support.h"

namespace orvex {
namespace {

using testing::Dump;
using testing::Dword;
using testing::HexText;
using testing::KeySpec;
using testing::MakeDocument;
using testing::Sz;

const std::u16string kA = u"HKEY_CURRENT_USER\\Software\\A";

// One rule on one small document: the document after it, the lines logged and the result.
struct Case {
  const char* what;
  ValueRule rule;
  std::vector<KeySpec> before;
  std::string after;
  std::vector<std::string> log;
  HRESULT result = S_OK;
};

void Check(const Case& c) {
  SCOPED_TRACE(c.what);
  testing::ScopedCaptureLogger capture;
  RegistryDocument document = MakeDocument(c.before);
  EXPECT_HR(c.result, ProcessRegistryValue(document, c.rule));
  EXPECT_EQ(c.after, Dump(document));
  EXPECT_EQ(c.log, capture.Take());
}

// Rules as the XML reader delivers them; the fields an action does not use stay empty.
ValueRule Rule(std::u16string action, std::u16string key, std::u16string name) {
  ValueRule rule;
  rule.action = std::move(action);
  rule.key = std::move(key);
  rule.source = std::move(name);
  return rule;
}

ValueRule Set(std::u16string key, std::u16string name, std::u16string type, std::u16string data,
              std::u16string flags = u"", std::u16string action = u"set") {
  ValueRule rule = Rule(std::move(action), std::move(key), std::move(name));
  rule.type = std::move(type);
  rule.data = std::move(data);
  rule.flags = std::move(flags);
  return rule;
}

ValueRule Convert(std::u16string action, std::u16string key, std::u16string name,
                  std::u16string type) {
  ValueRule rule = Rule(std::move(action), std::move(key), std::move(name));
  rule.type = std::move(type);
  return rule;
}

ValueRule Rename(std::u16string action, std::u16string key, std::u16string name,
                 std::u16string destination) {
  ValueRule rule = Rule(std::move(action), std::move(key), std::move(name));
  rule.destination = std::move(destination);
  return rule;
}

// Sets an environment variable for the length of a test, then puts the old state back.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value, 1);
  }
  ~ScopedEnvironmentVariable() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// The text a string value holds, without its NUL.
std::string TextOf(const RegistryValueEntry& value) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
    text.push_back(static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8)));
  }
  if (!text.empty() && text.back() == u'\0') text.pop_back();
  return ToUtf8(text);
}

TEST(ValueRulesTest, SetBuildsTheBytesOfEveryType) {
  struct DataCase {
    std::u16string type;
    std::u16string data;
    std::uint32_t number;
    std::string bytes;
  };
  const DataCase cases[] = {
      {u"string", u"Hello", REG_SZ, "480065006c006c006f000000"},
      {u"STRING", u"", REG_SZ, "0000"},
      {u"Expandable", u"%A%", REG_EXPAND_SZ, "2500410025000000"},
      {u"integer", u"42", REG_DWORD, "2a000000"},
      {u"integer", u"4294967295", REG_DWORD, "ffffffff"},
      {u"integer", u" &H10 ", REG_DWORD, "10000000"},
      {u"multi", u"a\n\nb", REG_MULTI_SZ, "61000000620000000000"},
      // Only line feeds split; carriage returns, tabs and blanks stay in their pieces.
      {u"multi", u"\na\r\n\t b\n", REG_MULTI_SZ, "61000d00000009002000620000000000"},
      {u"multi", u"", REG_MULTI_SZ, "0000"},
      {u"multi", u"\n\n", REG_MULTI_SZ, "0000"},
      {u"binary", u"AQID", REG_BINARY, "010203"},
      {u"binary", u" AQ\r\n\tID", REG_BINARY, "010203"},
      {u"binary", u"AQ==", REG_BINARY, "01"},
      // Blanks alone are Base64 for no bytes at all.
      {u"binary", u" \n ", REG_BINARY, ""},
  };
  for (const DataCase& c : cases) {
    SCOPED_TRACE(ToUtf8(c.type) + " " + ToUtf8(c.data));
    testing::ScopedCaptureLogger capture;
    RegistryDocument document = MakeDocument({{kA, {Dword(u"x", 1)}}});
    const ValueRule rule = Set(u"HKCU\\Software\\A", u"v", c.type, c.data);
    EXPECT_HR(S_OK, ProcessRegistryValue(document, rule));
    EXPECT_EQ("[HKEY_CURRENT_USER\\Software\\A]\n  x=4:01000000\n  v=" + std::to_string(c.number) +
                  ":" + c.bytes + "\n",
              Dump(document));
    EXPECT_EQ(std::vector<std::string>{"[DEBUG] ProcessRegistryValue: Added value 'v' to key "
                                       "'HKEY_CURRENT_USER\\Software\\A'"},
              capture.Take());
  }
}

TEST(ValueRulesTest, SetStoresTheValue) {
  const Case cases[] = {
      {"in a new key, appended with its value",
       Set(u"HKCU\\Software\\New", u"Name", u"string", u"Hello"),
       {{kA, {}}},
       "[HKEY_CURRENT_USER\\Software\\A]\n[HKEY_CURRENT_USER\\Software\\New]\n"
       "  Name=1:480065006c006c006f000000\n",
       {"[DEBUG] ProcessRegistryValue: Created key 'HKEY_CURRENT_USER\\Software\\New'",
        "[DEBUG] ProcessRegistryValue: Added value 'Name' to key "
        "'HKEY_CURRENT_USER\\Software\\New'"}},
      {"over a value of another type, in its place",
       Set(u"HKCU\\software\\a", u"b", u"integer", u"5", u"", u"Set"),
       {{kA, {Dword(u"a", 1), Sz(u"b", u"x"), Dword(u"c", 3)}}},
       "[HKEY_CURRENT_USER\\Software\\A]\n  a=4:01000000\n  b=4:05000000\n  c=4:03000000\n",
       {"[DEBUG] ProcessRegistryValue: Modified value 'b' of key "
        "'HKEY_CURRENT_USER\\software\\a'"}},
      {"the first of two values of that name",
       Set(kA, u"d", u"integer", u"7"),
       {{kA, {Dword(u"d", 1), Dword(u"d", 2)}}},
       "[HKEY_CURRENT_USER\\Software\\A]\n  d=4:07000000\n  d=4:02000000\n",
       {"[DEBUG] ProcessRegistryValue: Modified value 'd' of key "
        "'HKEY_CURRENT_USER\\Software\\A'"}},
      {"the default value, beside one named in another letter case",
       Set(kA, u"", u"string", u"d"),
       {{kA, {Sz(u"D", u"x")}}},
       "[HKEY_CURRENT_USER\\Software\\A]\n  D=1:78000000\n  =1:64000000\n",
       {"[DEBUG] ProcessRegistryValue: Added value '' to key 'HKEY_CURRENT_USER\\Software\\A'"}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(ValueRulesTest, FlagsRewriteTheTextFirst) {
  const ScopedEnvironmentVariable home("HOME", "/home/orvex-test");
  const ScopedEnvironmentVariable base("ORVEX_REGRULES_BASE", "/orvex-test/base");
  struct FlagCase {
    std::u16string flags;
    std::u16string data;
    std::string stored;
    std::vector<std::string> log;
  };
  const std::string added =
      "[DEBUG] ProcessRegistryValue: Added value 'v' to key 'HKEY_CURRENT_USER\\Software\\A'";
  const FlagCase cases[] = {
      {u"", u"%ORVEX_REGRULES_BASE%\\x", "%ORVEX_REGRULES_BASE%\\x", {added}},
      {u"1", u"%ORVEX_REGRULES_BASE%\\sub\\..\\file.txt", "/orvex-test/base/file.txt", {added}},
      {u" 1 ", u"%ORVEX_REGRULES_BASE%", "/orvex-test/base", {added}},
      // Only the leading token is replaced; the rest keeps its separators.
      {u"2", u"Desktop\\Desktop\\x.lnk", "/home/orvex-test/Desktop\\Desktop\\x.lnk", {added}},
      // Flags are alternatives, not bits.
      {u"3",
       u"Desktop\\x",
       "Desktop\\x",
       {"[ERROR] ProcessRegistryValue: Value 'v' of key 'HKEY_CURRENT_USER\\Software\\A', unknown "
        "flag '3'",
        added}},
      {u"-1",
       u"Desktop\\x",
       "Desktop\\x",
       {"[ERROR] ProcessRegistryValue: Value 'v' of key 'HKEY_CURRENT_USER\\Software\\A', unknown "
        "flag '-1'",
        added}},
      {u"one",
       u"Desktop\\x",
       "Desktop\\x",
       {"[ERROR] ProcessRegistryValue: Value 'v' of key 'HKEY_CURRENT_USER\\Software\\A', unknown "
        "flag 'one'",
        added}},
      {u"4294967298",
       u"x",
       "x",
       {"[ERROR] ProcessRegistryValue: Value 'v' of key 'HKEY_CURRENT_USER\\Software\\A', unknown "
        "flag '4294967298'",
        added}},
  };
  for (const FlagCase& c : cases) {
    SCOPED_TRACE(ToUtf8(c.flags) + " " + ToUtf8(c.data));
    testing::ScopedCaptureLogger capture;
    const ValueRule rule = Set(u"HKCU\\Software\\A", u"v", u"string", c.data, c.flags);
    // The same rule serves every .reg file of a run and must give each the same value.
    for (int file = 0; file < 2; ++file) {
      RegistryDocument document = MakeDocument({{kA, {}}});
      ASSERT_HR(S_OK, ProcessRegistryValue(document, rule));
      ASSERT_EQ(1, document.KeyAt(0).values().size());
      EXPECT_EQ(REG_SZ, document.KeyAt(0).values()[0].value.type);
      EXPECT_EQ(c.stored, TextOf(document.KeyAt(0).values()[0].value));
      EXPECT_EQ(c.log, capture.Take());
    }
  }
}

TEST(ValueRulesTest, SetFailuresLeaveTheDocumentAlone) {
  const std::vector<KeySpec> document = {{kA, {Dword(u"v", 1)}}};
  const std::string unchanged = "[HKEY_CURRENT_USER\\Software\\A]\n  v=4:01000000\n";
  const Case cases[] = {
      {"an integer that is not a number",
       Set(u"HKCU\\Software\\New", u"v", u"integer", u"abc"),
       document,
       unchanged,
       {"[ERROR] ProcessRegistryValue: Value 'v' of key 'HKEY_CURRENT_USER\\Software\\New' is "
        "not REG_DWORD"},
       DISP_E_TYPEMISMATCH},
      {"a negative integer",
       Set(kA, u"v", u"integer", u"-1"),
       document,
       unchanged,
       {"[ERROR] ProcessRegistryValue: Value 'v' of key 'HKEY_CURRENT_USER\\Software\\A' is not "
        "REG_DWORD"},
       DISP_E_OVERFLOW},
      {"an integer beyond 32 bits",
       Set(kA, u"v", u"integer", u"4294967296"),
       document,
       unchanged,
       {"[ERROR] ProcessRegistryValue: Value 'v' of key 'HKEY_CURRENT_USER\\Software\\A' is not "
        "REG_DWORD"},
       DISP_E_OVERFLOW},
      {"empty Base64 text",
       Set(u"HKCU\\Software\\New", u"v", u"binary", u""),
       document,
       unchanged,
       {"[ERROR] ProcessRegistryValue: Failed to get length of decoded data for value 'v' of key "
        "'HKEY_CURRENT_USER\\Software\\New'"},
       HResultFromWin32(ERROR_INVALID_PARAMETER)},
      {"Base64 text with a foreign character",
       Set(kA, u"v", u"binary", u"AQ*D"),
       document,
       unchanged,
       {"[ERROR] ProcessRegistryValue: Failed to get length of decoded data for value 'v' of key "
        "'HKEY_CURRENT_USER\\Software\\A'"},
       HResultFromWin32(ERROR_INVALID_DATA)},
      {"an unknown type word, after the flag step",
       Set(u"HKCU\\Software\\New", u"v", u"float", u"1", u"7"),
       document,
       unchanged,
       {"[ERROR] ProcessRegistryValue: Value 'v' of key 'HKEY_CURRENT_USER\\Software\\New', "
        "unknown flag '7'",
        "[ERROR] ProcessRegistryValue: Cannot set value 'v' of key "
        "'HKEY_CURRENT_USER\\Software\\New' (unknown type 'float')"},
       E_INVALIDARG},
      {"no type word",
       Set(kA, u"v", u"", u"1"),
       document,
       unchanged,
       {"[ERROR] ProcessRegistryValue: Cannot set value 'v' of key "
        "'HKEY_CURRENT_USER\\Software\\A' (unknown type '')"},
       E_INVALIDARG},
      {"a folder token flag on text without a token, silently",
       Set(u"HKCU\\Software\\New", u"v", u"string", u"NotAToken\\x", u"2"),
       document,
       unchanged,
       {},
       E_INVALIDARG},
  };
  for (const Case& c : cases) Check(c);
}

TEST(ValueRulesTest, ConvertChangesOnlyTheType) {
  const std::vector<KeySpec> document = {{kA, {Sz(u"s", u"12"), Dword(u"n", 5)}}};
  const Case cases[] = {
      {"a string to an integer keeps the text's bytes",
       Convert(u"convert", u"HKCU\\Software\\A", u"s", u"Integer"),
       document,
       "[HKEY_CURRENT_USER\\Software\\A]\n  s=4:310032000000\n  n=4:05000000\n",
       {"[DEBUG] ProcessRegistryValue: Converted value 's' of key "
        "'HKEY_CURRENT_USER\\Software\\A' to 'Integer'"}},
      {"an unknown type word gives type 0",
       Convert(u"CONVERT", u"HKCU\\Software\\A", u"n", u"float"),
       document,
       "[HKEY_CURRENT_USER\\Software\\A]\n  s=1:310032000000\n  n=0:05000000\n",
       {"[DEBUG] ProcessRegistryValue: Converted value 'n' of key "
        "'HKEY_CURRENT_USER\\Software\\A' to 'float'"}},
      {"a missing key",
       Convert(u"convert", u"HKCU\\Software\\B", u"s", u"string"),
       document,
       "[HKEY_CURRENT_USER\\Software\\A]\n  s=1:310032000000\n  n=4:05000000\n",
       {"[ERROR] ProcessRegistryValue: Cannot convert value 's' of key "
        "'HKEY_CURRENT_USER\\Software\\B' (key does not exist)"}},
      {"a value name that differs in letter case",
       Convert(u"convert", u"HKCU\\Software\\A", u"S", u"string"),
       document,
       "[HKEY_CURRENT_USER\\Software\\A]\n  s=1:310032000000\n  n=4:05000000\n",
       {"[ERROR] ProcessRegistryValue: Cannot convert value 'S' of key "
        "'HKEY_CURRENT_USER\\Software\\A' (value does not exist)"}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(ValueRulesTest, RenameKeepsPlaceAndData) {
  const std::vector<KeySpec> document = {{kA, {Dword(u"a", 1), Dword(u"b", 2)}}};
  const Case cases[] = {
      {"to a name another value has, which leaves two of that name",
       Rename(u"rename", u"HKCU\\Software\\A", u"a", u"b"),
       document,
       "[HKEY_CURRENT_USER\\Software\\A]\n  b=4:01000000\n  b=4:02000000\n",
       {"[DEBUG] ProcessRegistryValue: Renamed value 'a' of key 'HKEY_CURRENT_USER\\Software\\A' "
        "to 'b'"}},
      {"to the default value",
       Rename(u"Rename", u"HKCU\\Software\\A", u"b", u""),
       document,
       "[HKEY_CURRENT_USER\\Software\\A]\n  a=4:01000000\n  =4:02000000\n",
       {"[DEBUG] ProcessRegistryValue: Renamed value 'b' of key 'HKEY_CURRENT_USER\\Software\\A' "
        "to ''"}},
      {"a missing key",
       Rename(u"rename", u"HKLM\\Software\\A", u"a", u"z"),
       document,
       "[HKEY_CURRENT_USER\\Software\\A]\n  a=4:01000000\n  b=4:02000000\n",
       {"[ERROR] ProcessRegistryValue: Cannot rename value 'a' of key "
        "'HKEY_LOCAL_MACHINE\\Software\\A' (key does not exist)"}},
      {"a missing value",
       Rename(u"rename", u"HKCU\\Software\\A", u"c", u"z"),
       document,
       "[HKEY_CURRENT_USER\\Software\\A]\n  a=4:01000000\n  b=4:02000000\n",
       {"[ERROR] ProcessRegistryValue: Cannot rename value 'c' of key "
        "'HKEY_CURRENT_USER\\Software\\A' (value does not exist)"}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(ValueRulesTest, DeleteRemovesTheFirstValueOfTheName) {
  const std::vector<KeySpec> document = {{kA, {Dword(u"a", 1), Dword(u"b", 2), Dword(u"a", 3)}}};
  const Case cases[] = {
      {"the first of two",
       Rule(u"DELETE", u"HKCU\\Software\\A", u"a"),
       document,
       "[HKEY_CURRENT_USER\\Software\\A]\n  b=4:02000000\n  a=4:03000000\n",
       {"[DEBUG] ProcessRegistryValue: Deleted value 'a' of key 'HKEY_CURRENT_USER\\Software\\A'"}},
      {"a missing key",
       Rule(u"delete", u"HKCU\\Software\\B", u"a"),
       document,
       "[HKEY_CURRENT_USER\\Software\\A]\n  a=4:01000000\n  b=4:02000000\n  a=4:03000000\n",
       {"[ERROR] ProcessRegistryValue: Cannot delete value 'a' of key "
        "'HKEY_CURRENT_USER\\Software\\B' (key does not exist)"}},
      {"a missing value",
       Rule(u"delete", u"HKCU\\Software\\A", u""),
       document,
       "[HKEY_CURRENT_USER\\Software\\A]\n  a=4:01000000\n  b=4:02000000\n  a=4:03000000\n",
       {"[ERROR] ProcessRegistryValue: Cannot delete value '' of key "
        "'HKEY_CURRENT_USER\\Software\\A' (value does not exist)"}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(ValueRulesTest, InvalidKeysAndUnknownActionsStopTheRun) {
  const std::vector<KeySpec> document = {{kA, {Dword(u"v", 1)}}};
  const std::string unchanged = "[HKEY_CURRENT_USER\\Software\\A]\n  v=4:01000000\n";
  const Case cases[] = {
      {"a root word in lower case",
       Set(u"hklm\\Software", u"v", u"integer", u"1"),
       document,
       unchanged,
       {"[FATAL] ProcessRegistryValue: Invalid source key 'hklm\\Software'"},
       E_INVALIDARG},
      {"no root, before the action is looked at",
       Rule(u"copy", u"Software\\A", u"v"),
       document,
       unchanged,
       {"[FATAL] ProcessRegistryValue: Invalid source key 'Software\\A'"},
       E_INVALIDARG},
      {"a root this system does not handle",
       Rule(u"delete", u"HKEY_USERS\\x", u"v"),
       document,
       unchanged,
       {"[FATAL] ProcessRegistryValue: Invalid source key 'HKEY_USERS\\x'"},
       E_INVALIDARG},
      {"an unknown action",
       Rule(u"move", u"HKCU\\Software\\A", u"v"),
       document,
       unchanged,
       {"[ERROR] ProcessRegistryValue: Unknown action 'move'"},
       E_INVALIDARG},
  };
  for (const Case& c : cases) Check(c);
}

}  // namespace
}  // namespace orvex
