#include "OrvexInspect/rule_check.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "OrvexInspect/inspect_command.h"
#include "platform/text.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"
#include "transforms/files/directory_rules.h"
#include "transforms/files/file_rules.h"
#include "transforms/registry/key_rules.h"
#include "transforms/registry/value_rules.h"

namespace orvex {
namespace {

using testing::ScopedTempDir;

constexpr const char* kTokens =
    "(AppData, Cookies, Desktop, Favorites, LocalAppData, NetHood, Personal, PrintHood, "
    "ProgramsMenu, RecentFiles, SendTo, StartMenu, StartupMenu or UserProfile)";

// The findings for the rule elements `body`, which follow a first line "<migration>".
std::string Check(const std::string& body) {
  ScopedTempDir dir;
  testing::WriteFile(dir.path() / "rules.xml", "<migration>\n" + body + "</migration>\n");
  std::vector<RuleFinding> findings;
  EXPECT_HR(S_OK, CheckMigrationXml(dir.wide("rules.xml"), &findings));
  std::u16string text;
  AppendFindingsText(u"rules.xml", findings, &text);
  return ToUtf8(text);
}

TEST(RuleCheckTest, ReportsEachMistakeAtItsElement) {
  struct Case {
    std::string body;
    std::string findings;
  };
  const Case cases[] = {
      {"  <key action=\"create\" source=\"Software\\X\"/>\n",
       "rules.xml:2:3: error: source key 'Software\\X' does not start with HKEY_CURRENT_USER, "
       "HKEY_LOCAL_MACHINE, HKCU or HKLM\n"},
      {"  <key action=\"copy\" source=\"HKCU\\A\"/>\n",
       "rules.xml:2:3: error: unknown key action 'copy'; expected create, delete, move_value or "
       "rename\n"},
      {"  <key action=\"rename\" source=\"HKCU\\A\" destination=\"hkcu\\B\" value=\"v\"/>\n",
       "rules.xml:2:3: error: destination key 'hkcu\\B' does not start with HKEY_CURRENT_USER, "
       "HKEY_LOCAL_MACHINE, HKCU or HKLM\n"},
      {"  <key action=\"delete\" source=\"HKCU\\A\" value=\"v\"/>\n",
       "rules.xml:2:3: warning: value is not read by 'delete'\n"},
      {"  <Key action=\"create\" source=\"HKCU\\A\"/>\n  <file/>\n",
       "rules.xml:2:3: warning: element 'Key' is not a rule: rule elements are written in lower "
       "case ('key')\n"
       "rules.xml:3:3: warning: 'file' element without attributes makes no rule\n"},
      {"  <other>\n    <key Action=\"create\" source=\"HKCU\\A\"/></other>\n",
       "rules.xml:3:5: warning: attribute 'Action' is not read on a 'key' element\n"
       "rules.xml:3:5: error: unknown key action ''; expected create, delete, move_value or "
       "rename\n"},
      {"  <value action=\"set\" key=\"HKCU\\A\" source=\"x\" type=\"str\">1</value>\n",
       "rules.xml:2:3: error: unknown value type 'str'; expected binary, expandable, integer, "
       "multi or string\n"},
      {"  <value action=\"set\" key=\"HKLM\\A\" source=\"x\" type=\"integer\" flags=\"one\">-1"
       "</value>\n",
       "rules.xml:2:3: warning: flags 'one' is not a number; the data is stored as written\n"
       "rules.xml:2:3: error: '-1' is not an integer from 0 to 4294967295\n"},
      {"  <value action=\"set\" key=\"HKCU\\A\" source=\"x\" type=\"binary\" flags=\"3\"/>\n"
       "  <value action=\"set\" key=\"HKCU\\A\" source=\"y\" type=\"binary\">AQ?=</value>\n",
       "rules.xml:2:3: warning: flags '3' is neither 1 nor 2; the data is stored as written\n"
       "rules.xml:2:3: error: the binary data is empty\n"
       "rules.xml:3:3: error: the binary data is not Base64\n"},
      {"  <value action=\"set\" key=\"HKCU\\A\" source=\"x\" type=\"string\" flags=\"2\">C:\\x"
       "</value>\n",
       std::string("rules.xml:2:3: error: flags 2 needs data that starts with a folder token ") +
           kTokens + ": 'C:\\x'\n"},
      {"  <value action=\"set\" key=\"HKCU\\A\" source=\"m\" type=\"multi\">\n    a\n    b\n  "
       "</value>\n",
       "rules.xml:2:3: warning: the data stands on lines of its own: the indentation becomes part "
       "of each string\n"},
      {"  <value action=\"convert\" key=\"HKCU\\A\" source=\"x\" type=\"dword\" flags=\"1\"/>\n"
       "  <value action=\"delete\" key=\"HKCU\\A\" source=\"y\">text</value>\n",
       "rules.xml:2:3: warning: conversion to the unknown type 'dword' sets the type number 0 "
       "(REG_NONE)\n"
       "rules.xml:2:3: warning: flags is not read by 'convert'\n"
       "rules.xml:3:3: warning: the element's text is not read by 'delete'\n"},
      {"  <key action=\"delete\" source=\"HKCU\\A\"/>\n"
       "  <key action=\"rename\" source=\"HKCU\\A\\B\" destination=\"HKCU\\C\"/>\n"
       "  <value action=\"rename\" key=\"HKCU\\C\" source=\"v\" destination=\"w\"/>\n"
       "  <value action=\"delete\" key=\"HKCU\\C\" source=\"v\"/>\n",
       "rules.xml:3:3: warning: 'rename' of key 'HKEY_CURRENT_USER\\A\\B' finds nothing: the rule "
       "at 2:3 deleted 'HKCU\\A'\n"
       "rules.xml:5:3: warning: 'delete' of value 'v' of key 'HKEY_CURRENT_USER\\C' finds "
       "nothing: the rule at 4:3 renamed that value\n"},
      {"  <value action=\"set\" key=\"HKCU\\A\" source=\"v\" type=\"string\">1</value>\n"
       "  <value action=\"set\" key=\"HKEY_CURRENT_USER\\a\" source=\"v\" type=\"string\">2"
       "</value>\n  <key action=\"create\" source=\"HKCU\\A\"/>\n",
       "rules.xml:2:3: warning: value 'v' of key 'HKEY_CURRENT_USER\\A' is set again at 3:3 "
       "before anything reads it; this set has no effect\n"
       "rules.xml:4:3: warning: key 'HKEY_CURRENT_USER\\A' already exists after the rule at 2:3; "
       "this create changes nothing\n"},
      {"  <directory action=\"delete\" source=\"AppData\\A\" destination=\"AppData\\B\"/>\n"
       "  <directory action=\"move\" source=\"AppData\\a\\B\" destination=\"AppData\\C\"/>\n"
       "  <file action=\"create\" source=\"AppData\\A\\new.txt\"/>\n"
       "  <file action=\"copy\" source=\"AppData\\A\\new.txt\" destination=\"AppData\\D\"/>\n",
       "rules.xml:2:3: warning: destination is not read by 'delete'\n"
       "rules.xml:3:3: warning: 'move' of 'AppData\\a\\B' finds nothing: the rule at 2:3 deleted "
       "'AppData\\A'\n"},
      {"  <directory action=\"create\" source=\"C:\\Users\"/>\n"
       "  <directory action=\"create\" source=\"appdata\\x\"/>\n"
       "  <file action=\"move\" source=\"AppData\\x\" destination=\"AppData\\..\\..\\x\"/>\n"
       "  <file action=\"copy \" source=\"Desktop\\x\"/>\n",
       std::string("rules.xml:2:3: error: source 'C:\\Users' does not start with a folder token ") +
           kTokens + "\n"
           "rules.xml:3:3: error: source 'appdata\\x' does not start with a folder token: tokens "
           "are case-sensitive (AppData)\n"
           "rules.xml:4:3: error: destination 'AppData\\..\\..\\x' leaves the folder of its token\n"
           "rules.xml:5:3: error: unknown file action 'copy '; expected convert, copy, create, "
           "delete or move\n"},
      {"  <file action=\"create\" source=\"AppData\\x\">\n    not*base64\n  </file>\n"
       "  <file action=\"convert\" source=\"Personal\\a.png\" destination=\"Personal\\a.bmp\"/>\n"
       "  <file action=\"delete\" source=\"AppData\\x\">text</file>\n",
       "rules.xml:2:3: error: the file content is not Base64\n"
       "rules.xml:5:3: warning: no converter turns 'Personal\\a.png' into 'Personal\\a.bmp'; the "
       "converters take .jpg to .bmp, .jpeg to .bmp, .bmp to .jpg or .bmp to .jpeg\n"
       "rules.xml:6:3: warning: the element's text is not read by 'delete'\n"},
      {"  <file action=\"delete\" source=\"AppData\\Con.txt\"/>\n"
       "  <file action=\"delete\" source=\"AppData\\a:b\"/>\n"
       "  <directory action=\"copy\" source=\"AppData\\x\" destination=\"AppData\\y. \"/>\n"
       "  <value action=\"set\" key=\"HKCU\\A\" source=\"p\" type=\"string\" flags=\"1\">C:\\x"
       "</value>\n",
       "rules.xml:2:3: warning: source 'AppData\\Con.txt' holds a name Windows cannot give a "
       "file (device name): the rule is refused\n"
       "rules.xml:3:3: warning: source 'AppData\\a:b' holds a name Windows cannot give a file "
       "(character Windows does not allow in names): the rule is refused\n"
       "rules.xml:4:3: warning: destination 'AppData\\y. ' holds a name Windows cannot give a "
       "file (name ending in a dot or a blank): the rule is refused\n"
       "rules.xml:5:3: warning: flags 1 makes 'C:\\x' a full path, but Linux has no drive "
       "letters: there it lands below the current directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    EXPECT_EQ(Check(c.body), c.findings);
  }
}

TEST(RuleCheckTest, ExampleRulesAreClean) {
  const char* source = std::getenv("ORVEX_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  std::vector<RuleFinding> findings;
  ASSERT_HR(S_OK, CheckMigrationXml(ToUtf16(std::string(source) + "/examples/migration.xml"),
                                    &findings));
  std::u16string text;
  AppendFindingsText(u"migration.xml", findings, &text);
  EXPECT_EQ(ToUtf8(text), "");
}

// The checker's words are the processors' own: each is accepted, and a word outside is refused.
TEST(RuleCheckTest, ActionWordsAreTheProcessorsOwn) {
  ScopedTempDir dir;
  const std::u16string archive = dir.wide();
  const auto refused = [](HRESULT hr) { return hr == E_INVALIDARG; };
  for (const std::u16string_view word : kKeyActions) {
    RegistryDocument document;
    EXPECT_FALSE(refused(ProcessRegistryKey(document, {std::u16string(word), u"HKCU\\B", u"HKCU\\A", {}})))
        << ToUtf8(word);
  }
  for (const std::u16string_view word : kValueActions) {
    RegistryDocument document;
    ValueRule rule{std::u16string(word), {}, u"v", u"1", u"HKCU\\A", {}, u"string"};
    EXPECT_FALSE(refused(ProcessRegistryValue(document, rule))) << ToUtf8(word);
  }
  for (const std::u16string_view word : kDirectoryActions) {
    EXPECT_FALSE(refused(ProcessDirectory(archive, {std::u16string(word), u"AppData\\b", u"AppData\\a"})))
        << ToUtf8(word);
  }
  for (const std::u16string_view word : kFileActions) {
    EXPECT_FALSE(refused(ProcessFile(archive, {std::u16string(word), u"AppData\\b.bmp", u"AppData\\a.jpg", {}})))
        << ToUtf8(word);
  }
  RegistryDocument document;
  EXPECT_TRUE(refused(ProcessRegistryKey(document, {u"copy", {}, u"HKCU\\A", {}})));
  EXPECT_TRUE(refused(ProcessDirectory(archive, {u"rename", {}, u"AppData\\a"})));
}

std::string JsonText(std::u16string_view text) {
  std::string out;
  for (const char c : ToUtf8(text)) {
    if (c == '\\') out += '\\';
    out += c;
  }
  return out;
}

TEST(RuleCheckTest, CommandExitsAsCompilersDo) {
  ScopedTempDir dir;
  testing::WriteFile(dir.path() / "good.xml", "<m><key action=\"create\" source=\"HKCU\\A\"/></m>");
  testing::WriteFile(dir.path() / "bad.xml", "<m>\n<key action=\"create\" source=\"A\"/></m>");
  testing::WriteFile(dir.path() / "broken.xml",
                     "<m>\n  <key action=\"create\" source=\"HKCU\\A\"></value>\n</m>");
  struct Case {
    std::vector<std::u16string> args;
    std::uint32_t exit_code;
    std::string out, err;
  };
  const std::string usage =
      "Usage: OrvexInspect check [--json] <rules.xml>\n"
      "       OrvexInspect diff [--json] <before.zip> <after.zip>\n"
      "       OrvexInspect derive <before.zip> <after.zip>\n";
  const Case cases[] = {
      {{u"check", dir.wide("good.xml")}, 0, "", ""},
      {{u"check", u"--json", dir.wide("good.xml")}, 0, "[]\n", ""},
      {{u"check", u"--json", dir.wide("bad.xml")}, 1,
       "[\n  {\"file\": \"" + JsonText(dir.wide("bad.xml")) + "\", \"line\": 2, \"column\": 1, "
       "\"severity\": \"error\", \"message\": \"source key 'A' does not start with "
       "HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKCU or HKLM\"}\n]\n",
       ""},
      {{u"check", dir.wide("broken.xml")}, 1,
       ToUtf8(dir.wide("broken.xml")) + ":2:48: error: the XML cannot be read: well-formedness "
       "constraint: element type match; the migration stops here\n",
       ""},
      {{u"check", dir.wide("missing.xml")}, 2, "",
       "OrvexInspect: '" + ToUtf8(dir.wide("missing.xml")) + "' was not found\n"},
      {{u"check"}, 2, "", usage},
      {{u"derive", u"--json", u"a.zip", u"b.zip"}, 2, "", usage},
  };
  for (const Case& c : cases) {
    ArgumentList args = {u"OrvexInspect"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CommandOutput output = RunInspectCommand(args);
    SCOPED_TRACE(ToUtf8(args[1] + u" " + args.back()));
    EXPECT_EQ(output.exit_code, c.exit_code);
    EXPECT_EQ(ToUtf8(output.out), c.out);
    EXPECT_EQ(ToUtf8(output.err), c.err);
  }
}

// The program hands on what its command wrote and its exit code; quotes around an argument only
// group it.
TEST(RuleCheckTest, ProgramHandsOnTheCommandsOutputAndCode) {
#ifdef _WIN32
  GTEST_SKIP() << "runs the Linux program";
#else
  ScopedTempDir dir;
  testing::WriteFile(dir.path() / "bad.xml", "<m>\n<key action=\"create\" source=\"A\"/></m>");
  const struct {
    std::string args;
    int status;
    std::string out, err;
  } cases[] = {
      {"check '\"bad.xml\"'", 1,
       "bad.xml:2:1: error: source key 'A' does not start with HKEY_CURRENT_USER, "
       "HKEY_LOCAL_MACHINE, HKCU or HKLM\n",
       ""},
      {"check", 2, "", "Usage: OrvexInspect check [--json] <rules.xml>\n"},
  };
  for (const auto& c : cases) {
    const std::string command =
        "cd '" + dir.path().string() + "' && " ORVEX_INSPECT_BINARY " " + c.args + " >out 2>err";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), c.status) << c.args;
    EXPECT_EQ(testing::ReadFile(dir.path() / "out"), c.out) << c.args;
    EXPECT_EQ(testing::ReadFile(dir.path() / "err").substr(0, c.err.size()), c.err) << c.args;
  }
#endif
}

}  // namespace
}  // namespace orvex
