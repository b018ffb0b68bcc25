#include "transforms/registry/value_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/shell_folders.h"
#include "platform/text.h"
#include "testing/capture_logger.h"
#include "testing/matchers.h"
#include "testing/scoped_env.h"
#include "testing/temp_dir.h"
#include "transforms/registry/rule_test_support.h"

namespace orvex {
namespace {

// One rule on one small document: the document after it, the lines logged, the result and the
// outcome those lines tell.
void Check(const char* what, const ValueRule& rule, const std::string& before,
           const std::string& after, const std::vector<std::string>& log, HRESULT result = S_OK) {
  SCOPED_TRACE(what);
  testing::ScopedCaptureLogger capture;
  RegistryDocument document = testing::ParseDump(before);
  RuleOutcome outcome = RuleOutcome::kActed;
  EXPECT_HR(result, ProcessRegistryValue(document, rule, &outcome));
  EXPECT_EQ(after, testing::Dump(document));
  EXPECT_EQ(log, capture.Take());
  EXPECT_EQ(testing::OutcomeTheLogShows(result, log), outcome);
}

// A rule as the XML reader delivers it; fields the action does not use stay empty.
ValueRule Rule(std::u16string action, std::u16string key, std::u16string name,
               std::u16string type = u"", std::u16string destination = u"") {
  ValueRule rule;
  rule.action = std::move(action);
  rule.key = std::move(key);
  rule.source = std::move(name);
  rule.type = std::move(type);
  rule.destination = std::move(destination);
  return rule;
}

ValueRule Set(std::u16string key, std::u16string type, std::u16string data,
              std::u16string flags = u"") {
  ValueRule rule = Rule(u"set", std::move(key), u"v", std::move(type));
  rule.data = std::move(data);
  rule.flags = std::move(flags);
  return rule;
}

// The bytes of a REG_SZ value holding `text`, in hexadecimal.
std::string SzHex(std::u16string_view text) {
  const std::string bytes = testing::Utf16Bytes(text);
  return testing::HexText({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}) +
         "0000";
}

const std::string kAdded =
    "[DEBUG] ProcessRegistryValue: Added value 'v' to key 'HKEY_CURRENT_USER\\A'";

TEST(ValueRulesTest, SetBuildsTheBytesOfEveryType) {
  struct DataCase {
    std::u16string type;
    std::u16string data;
    std::string value;
  };
  const DataCase cases[] = {
      {u"string", u"Hello", "1:480065006c006c006f000000"},
      {u"Expandable", u"%A%", "2:2500410025000000"},
      {u"integer", u"42", "4:2a000000"},
      // Only line feeds split; carriage returns, tabs and blanks stay in their pieces.
      {u"multi", u"\na\r\n\t b\n", "7:61000d00000009002000620000000000"},
      {u"multi", u"\n\n", "7:0000"},
      {u"binary", u"AQID", "3:010203"},
      // Blanks alone are Base64 for no bytes at all.
      {u"binary", u" \n ", "3:"},
  };
  for (const DataCase& c : cases) {
    Check("set", Set(u"HKCU\\A", c.type, c.data), "[HKEY_CURRENT_USER\\A]\n  x=4:01000000\n",
          "[HKEY_CURRENT_USER\\A]\n  x=4:01000000\n  v=" + c.value + "\n", {kAdded});
  }
}

TEST(ValueRulesTest, SetStoresTheValue) {
  ValueRule replace = Set(u"HKCU\\a", u"integer", u"5");
  replace.action = u"Set";
  Check("in a new key, which goes last", Set(u"HKCU\\New", u"string", u"Hi"),
        "[HKEY_CURRENT_USER\\A]\n",
        "[HKEY_CURRENT_USER\\A]\n[HKEY_CURRENT_USER\\New]\n  v=1:480069000000\n",
        {"[DEBUG] ProcessRegistryValue: Created key 'HKEY_CURRENT_USER\\New'",
         "[DEBUG] ProcessRegistryValue: Added value 'v' to key 'HKEY_CURRENT_USER\\New'"});
  Check("over the first value of that name, in its place, whatever its type", replace,
        "[HKEY_CURRENT_USER\\A]\n  a=4:01000000\n  v=1:78000000\n  v=4:03000000\n",
        "[HKEY_CURRENT_USER\\A]\n  a=4:01000000\n  v=4:05000000\n  v=4:03000000\n",
        {"[DEBUG] ProcessRegistryValue: Modified value 'v' of key 'HKEY_CURRENT_USER\\a'"});
}

TEST(ValueRulesTest, FlagsRewriteTheTextFirst) {
  const testing::ScopedTempDir base;
  const testing::ScopedEnv base_variable("ORVEX_REGRULES_BASE", base.path().string());
  std::u16string desktop;
  ASSERT_HR(S_OK, platform::SHGetFolderPath(platform::CSIDL_DESKTOP, nullptr, 0, &desktop));
  struct FlagCase {
    std::u16string flags;
    std::u16string data;
    std::u16string stored;
    std::string error;
  };
  const FlagCase cases[] = {
      {u"", u"%ORVEX_REGRULES_BASE%\\x", u"%ORVEX_REGRULES_BASE%\\x", ""},
      {u"1", u"%ORVEX_REGRULES_BASE%\\sub\\..\\f.txt", base.wide("f.txt"), ""},
      // Only the leading token is replaced; the rest keeps its separators.
      {u"2", u"Desktop\\Desktop\\x.lnk", desktop + u"\\Desktop\\x.lnk", ""},
      // Flags are alternatives, not bits.
      {u"3", u"Desktop\\x", u"Desktop\\x", "unknown flag '3'"},
      {u"one", u"Desktop\\x", u"Desktop\\x", "unknown flag 'one'"},
  };
  for (const FlagCase& c : cases) {
    std::vector<std::string> log = {kAdded};
    if (!c.error.empty()) {
      log.insert(
          log.begin(),
          "[ERROR] ProcessRegistryValue: Value 'v' of key 'HKEY_CURRENT_USER\\A', " + c.error);
    }
    // The same rule serves every .reg file of a run and must give each the same value.
    const ValueRule rule = Set(u"HKCU\\A", u"string", c.data, c.flags);
    const std::string after = "[HKEY_CURRENT_USER\\A]\n  v=1:" + SzHex(c.stored) + "\n";
    Check("first file", rule, "[HKEY_CURRENT_USER\\A]\n", after, log);
    Check("second file", rule, "[HKEY_CURRENT_USER\\A]\n", after, log);
  }
}

TEST(ValueRulesTest, FailuresLeaveTheDocumentAlone) {
  const std::string document = "[HKEY_CURRENT_USER\\A]\n  v=4:01000000\n";
  Check("an integer that is not a number", Set(u"HKCU\\New", u"integer", u"abc"), document,
        document,
        {"[ERROR] ProcessRegistryValue: Value 'v' of key 'HKEY_CURRENT_USER\\New' is not "
         "REG_DWORD"},
        DISP_E_TYPEMISMATCH);
  Check("Base64 text with a foreign character", Set(u"HKCU\\A", u"binary", u"AQ*D"), document,
        document,
        {"[ERROR] ProcessRegistryValue: Failed to get length of decoded data for value 'v' of key "
         "'HKEY_CURRENT_USER\\A'"},
        HResultFromWin32(ERROR_INVALID_DATA));
  Check(
      "an unknown type word, after the flag step", Set(u"HKCU\\New", u"float", u"1", u"7"),
      document, document,
      {"[ERROR] ProcessRegistryValue: Value 'v' of key 'HKEY_CURRENT_USER\\New', unknown flag '7'",
       "[ERROR] ProcessRegistryValue: Cannot set value 'v' of key 'HKEY_CURRENT_USER\\New' "
       "(unknown type 'float')"},
      E_INVALIDARG);
  Check("a folder token flag on text without a token, silently",
        Set(u"HKCU\\New", u"string", u"NotAToken\\x", u"2"), document, document, {}, E_INVALIDARG);
  Check("no root, before the action is looked at", Rule(u"copy", u"Software\\A", u"v"), document,
        document, {"[FATAL] ProcessRegistryValue: Invalid source key 'Software\\A'"}, E_INVALIDARG);
  Check("an unknown action", Rule(u"move", u"HKCU\\A", u"v"), document, document,
        {"[ERROR] ProcessRegistryValue: Unknown action 'move'"}, E_INVALIDARG);
}

TEST(ValueRulesTest, ConvertRenameAndDeleteWorkOnAnExistingValue) {
  const std::string document =
      "[HKEY_CURRENT_USER\\A]\n  s=1:310032000000\n  n=4:05000000\n  s=4:07000000\n";
  Check("convert keeps the bytes", Rule(u"convert", u"HKCU\\A", u"s", u"Integer"), document,
        "[HKEY_CURRENT_USER\\A]\n  s=4:310032000000\n  n=4:05000000\n  s=4:07000000\n",
        {"[DEBUG] ProcessRegistryValue: Converted value 's' of key 'HKEY_CURRENT_USER\\A' to "
         "'Integer'"});
  Check("convert to an unknown word gives type 0", Rule(u"CONVERT", u"HKCU\\A", u"n", u"float"),
        document, "[HKEY_CURRENT_USER\\A]\n  s=1:310032000000\n  n=0:05000000\n  s=4:07000000\n",
        {"[DEBUG] ProcessRegistryValue: Converted value 'n' of key 'HKEY_CURRENT_USER\\A' to "
         "'float'"});
  Check("convert of a missing key", Rule(u"convert", u"HKCU\\B", u"s", u"string"), document,
        document,
        {"[ERROR] ProcessRegistryValue: Cannot convert value 's' of key 'HKEY_CURRENT_USER\\B' "
         "(key does not exist)"});
  Check("rename to a name another value has", Rule(u"rename", u"HKCU\\A", u"n", u"", u"s"),
        document, "[HKEY_CURRENT_USER\\A]\n  s=1:310032000000\n  s=4:05000000\n  s=4:07000000\n",
        {"[DEBUG] ProcessRegistryValue: Renamed value 'n' of key 'HKEY_CURRENT_USER\\A' to 's'"});
  Check("rename of a name that differs in letter case",
        Rule(u"rename", u"HKCU\\A", u"S", u"", u"t"), document, document,
        {"[ERROR] ProcessRegistryValue: Cannot rename value 'S' of key 'HKEY_CURRENT_USER\\A' "
         "(value does not exist)"});
  Check("delete takes the first of two", Rule(u"DELETE", u"HKCU\\a", u"s"), document,
        "[HKEY_CURRENT_USER\\A]\n  n=4:05000000\n  s=4:07000000\n",
        {"[DEBUG] ProcessRegistryValue: Deleted value 's' of key 'HKEY_CURRENT_USER\\a'"});
  Check("delete of a missing key", Rule(u"delete", u"HKLM\\A", u"s"), document, document,
        {"[ERROR] ProcessRegistryValue: Cannot delete value 's' of key 'HKEY_LOCAL_MACHINE\\A' "
         "(key does not exist)"});
  Check("delete of a missing default value", Rule(u"delete", u"HKCU\\A", u""), document, document,
        {"[ERROR] ProcessRegistryValue: Cannot delete value '' of key 'HKEY_CURRENT_USER\\A' "
         "(value does not exist)"});
}

}  // namespace
}  // namespace orvex
