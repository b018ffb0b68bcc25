#include "transforms/registry/key_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/capture_logger.h"
#include "testing/matchers.h"
#include "transforms/registry/rule_test_support.h"

namespace orvex {
namespace {

KeyRule Rule(std::u16string action, std::u16string source, std::u16string destination = u"",
             std::u16string value = u"") {
  return KeyRule{std::move(action), std::move(destination), std::move(source), std::move(value)};
}

// One rule on one small document: the document after it, the lines logged, the result and the
// outcome those lines tell.
void Check(const char* what, const KeyRule& rule, const std::string& before,
           const std::string& after, const std::vector<std::string>& log, HRESULT result = S_OK) {
  SCOPED_TRACE(what);
  testing::ScopedCaptureLogger capture;
  RegistryDocument document = testing::ParseDump(before);
  RuleOutcome outcome = RuleOutcome::kActed;
  EXPECT_HR(result, ProcessRegistryKey(document, rule, &outcome));
  EXPECT_EQ(after, testing::Dump(document));
  EXPECT_EQ(log, capture.Take());
  EXPECT_EQ(testing::OutcomeTheLogShows(result, log), outcome);
}

TEST(KeyRulesTest, TreeActionsReportWhatTheyDid) {
  const std::string document =
      "[HKEY_CURRENT_USER\\A]\n  s=1:78000000\n[HKEY_CURRENT_USER\\A\\B]\n[HKEY_CURRENT_USER\\AB]\n"
      "[HKEY_CURRENT_USER\\a\\B\\C]\n";
  Check("create puts a new key last, in the long root form", Rule(u"Create", u"HKCU\\New"),
        document, document + "[HKEY_CURRENT_USER\\New]\n",
        {"[DEBUG] ProcessRegistryKey: Created key 'HKEY_CURRENT_USER\\New'"});
  Check("create of a key that exists in another letter case", Rule(u"create", u"HKCU\\ab"),
        document, document,
        {"[ERROR] ProcessRegistryKey: Cannot create key 'HKEY_CURRENT_USER\\ab' (key already "
         "exists)"});
  Check("delete takes the key and its subkeys, not a key that only starts alike",
        Rule(u"delete", u"HKCU\\A"), document, "[HKEY_CURRENT_USER\\AB]\n",
        {"[DEBUG] ProcessRegistryKey: Deleted tree 'HKEY_CURRENT_USER\\A' (3 keys were deleted)"});
  Check("delete of a missing tree", Rule(u"delete", u"HKCU\\Z"), document, document,
        {"[ERROR] ProcessRegistryKey: Cannot delete tree 'HKEY_CURRENT_USER\\Z' (tree does not "
         "exist)"});
  Check("rename keeps the keys in their places, with their values",
        Rule(u"rename", u"HKCU\\A", u"HKCU\\New"), document,
        "[HKEY_CURRENT_USER\\New]\n  s=1:78000000\n[HKEY_CURRENT_USER\\New\\B]\n"
        "[HKEY_CURRENT_USER\\AB]\n[HKEY_CURRENT_USER\\New\\B\\C]\n",
        {"[DEBUG] ProcessRegistryKey: Renamed tree 'HKEY_CURRENT_USER\\A' to "
         "'HKEY_CURRENT_USER\\New' (3 keys were renamed)"});
  Check("rename of a missing tree", Rule(u"rename", u"HKCU\\Z", u"HKCU\\B"), document, document,
        {"[ERROR] ProcessRegistryKey: Cannot rename tree 'HKEY_CURRENT_USER\\Z' (tree does not "
         "exist)"});
}

TEST(KeyRulesTest, MoveValue) {
  Check("to a new key, which goes last", Rule(u"move_value", u"HKCU\\A", u"HKCU\\B", u"Size"),
        "[HKEY_CURRENT_USER\\A]\n  x=4:01000000\n  Size=4:09000000\n  y=4:02000000\n"
        "[HKEY_CURRENT_USER\\Z]\n",
        "[HKEY_CURRENT_USER\\A]\n  x=4:01000000\n  y=4:02000000\n[HKEY_CURRENT_USER\\Z]\n"
        "[HKEY_CURRENT_USER\\B]\n  Size=4:09000000\n",
        {"[DEBUG] ProcessRegistryKey: Moved value 'Size' of key 'HKEY_CURRENT_USER\\A' to key "
         "'HKEY_CURRENT_USER\\B'"});
  Check("over a value of that name, which keeps its place",
        Rule(u"MOVE_VALUE", u"HKCU\\A", u"HKCU\\b", u"Size"),
        "[HKEY_CURRENT_USER\\A]\n  Size=1:61000000\n"
        "[HKEY_CURRENT_USER\\B]\n  f=4:01000000\n  Size=4:02000000\n  z=4:03000000\n",
        "[HKEY_CURRENT_USER\\A]\n"
        "[HKEY_CURRENT_USER\\B]\n  f=4:01000000\n  Size=1:61000000\n  z=4:03000000\n",
        {"[DEBUG] ProcessRegistryKey: Moved value 'Size' of key 'HKEY_CURRENT_USER\\A' to key "
         "'HKEY_CURRENT_USER\\b'"});
  Check("to the same key in another letter case, where it stays",
        Rule(u"move_value", u"HKCU\\A", u"HKCU\\a", u"Size"),
        "[HKEY_CURRENT_USER\\A]\n  Size=4:09000000\n  y=4:02000000\n",
        "[HKEY_CURRENT_USER\\A]\n  Size=4:09000000\n  y=4:02000000\n",
        {"[DEBUG] ProcessRegistryKey: Moved value 'Size' of key 'HKEY_CURRENT_USER\\A' to key "
         "'HKEY_CURRENT_USER\\a'"});
  Check("from a missing key, which creates no destination",
        Rule(u"move_value", u"HKCU\\Z", u"HKCU\\B", u"Size"), "[HKEY_CURRENT_USER\\A]\n",
        "[HKEY_CURRENT_USER\\A]\n",
        {"[ERROR] ProcessRegistryKey: Cannot move value 'Size' of key 'HKEY_CURRENT_USER\\Z' (key "
         "does not exist)"});
  Check("a value name matches only in its letter case",
        Rule(u"move_value", u"HKCU\\A", u"HKCU\\B", u"size"),
        "[HKEY_CURRENT_USER\\A]\n  Size=4:09000000\n",
        "[HKEY_CURRENT_USER\\A]\n  Size=4:09000000\n",
        {"[ERROR] ProcessRegistryKey: Cannot move value 'size' of key 'HKEY_CURRENT_USER\\A' "
         "(value does not exist)"});
}

TEST(KeyRulesTest, InvalidPathsAndUnknownActionsStopTheRun) {
  const std::string document = "[HKEY_CURRENT_USER\\A]\n  Size=4:09000000\n";
  Check("no root, before the action is looked at", Rule(u"copy", u"Software\\X"), document,
        document, {"[FATAL] ProcessRegistryKey: Invalid source key 'Software\\X'"}, E_INVALIDARG);
  Check("a move destination, checked before the source key is looked for",
        Rule(u"move_value", u"HKCU\\Missing", u"hklm\\x", u"Size"), document, document,
        {"[FATAL] ProcessRegistryKey: Invalid destination key 'hklm\\x'"}, E_INVALIDARG);
  Check("an unknown action", Rule(u"copy", u"HKCU\\A", u"HKCU\\B"), document, document,
        {"[ERROR] ProcessRegistryKey: Unknown action 'copy'"}, E_INVALIDARG);
}

}  // namespace
}  // namespace orvex
