#include "OrvexInspect/rule_check.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "OrvexInspect/inspect_command.h"
#include "platform/text.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"
#include "testing/windows_name_rows.h"

namespace orvex {
namespace {

using testing::ScopedTempDir;

// Where each finding of the rule elements `body` stands and its code, one "line:column code" a
// line; the body follows a first line "<migration>".
std::string Check(const std::string& body) {
  ScopedTempDir dir;
  testing::WriteFile(dir.path() / "rules.xml", "<migration>\n" + body + "</migration>\n");
  std::vector<RuleFinding> findings;
  EXPECT_HR(S_OK, CheckMigrationXml(dir.wide("rules.xml"), &findings));
  std::string text;
  for (const RuleFinding& finding : findings) {
    text += std::to_string(finding.line) + ":" + std::to_string(finding.column) + " " +
            ToUtf8(finding.code) + "\n";
  }
  return text;
}

TEST(RuleCheckTest, ReportsEachFindingAtWhatItConcerns) {
  struct Case {
    std::string body;
    std::string findings;
  };
  const Case cases[] = {
      // Registry rules that stop a run or do nothing.
      {"  <key action=\"create\" source=\"Software\\X\"/>\n", "2:24 unknown-key-root\n"},
      {"  <key action=\"copy\" source=\"HKCU\\A\"/>\n", "2:8 unknown-action\n"},
      {"  <key action=\"rename\" source=\"HKCU\\A\" destination=\"hkcu\\B\" value=\"v\"/>\n",
       "2:40 unknown-key-root\n"},
      {"  <key action=\"delete\" source=\"HKCU\\A\" value=\"v\"/>\n",
       "2:24 deletes-top-level-key\n2:40 attribute-not-read\n"},
      {"  <Key action=\"create\" source=\"HKCU\\A\"/>\n  <file/>\n",
       "2:3 unknown-element\n3:3 empty-rule-element\n"},
      {"  <other>\n\t<key Action=\"create\" source=\"HKCU\\A\"/></other>\n",
       "3:2 unknown-action\n3:7 unknown-attribute\n"},
      {"  <value action=\"set\" key=\"HKCU\\A\" source=\"x\" type=\"str\">1</value>\n",
       "2:47 unknown-type\n"},
      {"  <value action=\"set\" key=\"HKLM\\A\" source=\"x\" type=\"integer\" flags=\"one\">-1"
       "</value>\n",
       "2:3 not-an-integer\n2:62 unknown-flags\n"},
      {"  <value action=\"set\" key=\"HKCU\\A\" source=\"x\" type=\"binary\" flags=\"3\"/>\n"
       "  <value action=\"set\" key=\"HKCU\\A\" source=\"y\" type=\"binary\">AQ?=</value>\n",
       "2:3 empty-binary\n2:61 unknown-flags\n3:3 not-base64\n"},
      {"  <value action=\"set\" key=\"HKCU\\A\" source=\"x\" type=\"string\" flags=\"2\">C:\\x"
       "</value>\n",
       "2:61 not-token-path\n"},
      {"  <value action=\"set\" key=\"HKCU\\A\" source=\"m\" type=\"multi\">\n    a\n  </value>\n",
       "2:3 indented-data\n"},
      {"  <value action=\"convert\" key=\"HKCU\\A\" source=\"x\" type=\"dword\" flags=\"1\"/>\n"
       "  <value action=\"delete\" key=\"HKCU\\A\" source=\"y\">text</value>\n",
       "2:51 unknown-type\n2:64 attribute-not-read\n3:3 text-not-read\n"},
      {"  <key action=\"delete\" source=\"HKCU\\A\"/>\n"
       "  <key action=\"rename\" source=\"HKCU\\A\\B\" destination=\"HKCU\\C\"/>\n"
       "  <value action=\"rename\" key=\"HKCU\\C\" source=\"v\" destination=\"w\"/>\n"
       "  <value action=\"delete\" key=\"HKCU\\C\" source=\"v\"/>\n",
       "2:24 deletes-top-level-key\n3:24 removed-by-earlier-rule\n5:39 removed-by-earlier-rule\n"},
      {"  <value action=\"set\" key=\"HKCU\\A\" source=\"v\" type=\"string\">1</value>\n"
       "  <value action=\"set\" key=\"HKEY_CURRENT_USER\\a\" source=\"v\" type=\"string\">2"
       "</value>\n  <key action=\"create\" source=\"HKCU\\A\"/>\n",
       "2:3 undone-by-later-rule\n4:24 creates-existing-key\n"},
      // Registry rules that damage every profile.
      {"  <value action=\"delete\" key=\"HKCU\\A\" name=\"v\"/>\n",
       "2:39 unknown-attribute\n2:39 default-value-by-mistake\n"},
      {"  <value action=\"rename\" key=\"HKCU\\A\" source=\"v\" dest=\"w\"/>\n",
       "2:50 unknown-attribute\n2:50 default-value-by-mistake\n"},
      {"  <key action=\"delete\" source=\"HKCU\\Software\"/>\n"
       "  <key action=\"rename\" source=\"\\HKCU\" destination=\"HKLM\\X\"/>\n",
       "2:24 removes-import-markers\n3:24 removes-import-markers\n"},
      {"  <value action=\"set\" key=\"HKCU\\A\" source=\"p\" type=\"string\" flags=\"1\">C:\\x"
       "</value>\n  <value action=\"set\" key=\"HKCU\\A\" source=\"d\" type=\"string\" "
       "flags=\"2\">AppData\\x</value>\n",
       "2:61 drive-letter-path\n2:61 machine-path\n3:61 machine-path\n"},
      // Key paths that name no key of a .reg file.
      {"  <key action=\"delete\" source=\"HKCU\\A\\\\B\"/>\n"
       "  <key action=\"create\" source=\"HKCU\\A\\\"/>\n"
       "  <value action=\"delete\" key=\"HKCU\\A \" source=\"v\"/>\n"
       "  <key action=\"rename\" source=\"HKCU\\A\" destination=\"HKCU\\A/B\"/>\n",
       "2:24 key-path-finds-nothing\n3:24 key-path-finds-nothing\n4:26 key-path-finds-nothing\n"
       "5:40 key-path-finds-nothing\n"},
      // Elements that are no rule, and words near the real ones.
      {"  <folder action=\"delete\" source=\"Desktop\\x\"/>\n"
       "  <registry-key source=\"HKCU\\A\"/>\n  <group name=\"x\"/>\n",
       "2:3 unknown-element\n3:3 unknown-element\n"},
      {"  <key action=\"move-value\" source=\"HKCU\\A\" destiantion=\"HKCU\\B\"/>\n",
       "2:8 unknown-action\n2:44 unknown-attribute\n"},
      // Directory and file rules.
      {"  <directory action=\"delete\" source=\"AppData\\A\" destination=\"AppData\\B\"/>\n"
       "  <directory action=\"move\" source=\"AppData\\a\\B\" destination=\"AppData\\C\"/>\n"
       "  <file action=\"create\" source=\"AppData\\A\\new.txt\"/>\n"
       "  <file action=\"copy\" source=\"AppData\\A\\new.txt\" destination=\"AppData\\D\"/>\n",
       "2:49 attribute-not-read\n3:28 removed-by-earlier-rule\n"},
      {"  <directory action=\"create\" source=\"C:\\Users\"/>\n"
       "  <directory action=\"create\" source=\"Documents\\x\"/>\n"
       "  <file action=\"move\" source=\"AppData\\x\" destination=\"AppData\\..\\..\\x\"/>\n"
       "  <file action=\"copy \" source=\"Desktop\\x\"/>\n",
       "2:30 not-token-path\n3:30 not-token-path\n4:42 leaves-token-folder\n5:9 unknown-action\n"},
      {"  <file action=\"create\" source=\"AppData\\x\">\n    not*base64\n  </file>\n"
       "  <file action=\"create\" source=\"AppData\\y\">Welcome</file>\n"
       "  <file action=\"convert\" source=\"Personal\\a.png\" destination=\"Personal\\a.bmp\"/>\n"
       "  <file action=\"delete\" source=\"AppData\\x\">text</file>\n",
       "2:3 not-base64\n5:3 text-as-base64\n6:50 no-converter\n7:3 text-not-read\n"},
      {"  <file action=\"delete\" source=\"AppData\\Con.txt\"/>\n"
       "  <file action=\"delete\" source=\"Desktop\\*.lnk\"/>\n"
       "  <directory action=\"copy\" source=\"AppData\\x\" destination=\"AppData\\y. \"/>\n",
       "2:25 unfit-name\n3:25 wildcard-path\n4:47 unfit-name\n"},
      {"  <directory action=\"delete\" source=\"Desktop\"/>\n"
       "  <file action=\"delete\" source=\"Desktop\\Old\\..\"/>\n"
       "  <directory action=\"create\" source=\"AppData\\Local\\Vendor\"/>\n"
       "  <file action=\"move\" source=\"AppData\\x.txt\" destination=\"Personal\\Notes\\\"/>\n",
       "2:30 deletes-token-root\n3:25 deletes-token-root\n3:25 removed-by-earlier-rule\n"
       "4:30 appdata-local\n5:46 file-named-like-folder\n"},
      // Rules that a later rule undoes, or that take what every application keeps.
      {"  <directory action=\"move\" source=\"AppData\\A\" destination=\"AppData\\B\"/>\n"
       "  <directory action=\"delete\" source=\"AppData\\B\"/>\n"
       "  <value action=\"set\" key=\"HKCU\\T\" source=\"v\" type=\"string\">1</value>\n"
       "  <value action=\"delete\" key=\"HKCU\\T\" source=\"v\"/>\n"
       "  <file action=\"move\" source=\"Desktop\\a\" destination=\"Desktop\\b\"/>\n"
       "  <file action=\"move\" source=\"Desktop\\b\" destination=\"Desktop\\a\"/>\n"
       "  <directory action=\"create\" source=\"AppData\\N\"/>\n"
       "  <directory action=\"move\" source=\"AppData\\O\" destination=\"AppData\\N\"/>\n"
       "  <directory action=\"copy\" source=\"AppData\\C\" destination=\"AppData\\C\\D\"/>\n",
       "3:30 undone-by-later-rule\n4:3 undone-by-later-rule\n7:23 undone-by-later-rule\n"
       "9:28 undone-by-later-rule\n10:47 copies-into-itself\n"},
      {"  <value action=\"set\" key=\"HKCU\\T\" source=\"b\" type=\"binary\">hello world</value>\n"
       "  <key action=\"delete\" source=\"HKCU\\Control Panel\"/>\n"
       "  <key action=\"delete\" source=\"HKCU\\Software\\Microsoft\"/>\n"
       "  <directory action=\"move\" source=\"Desktop\" destination=\"Personal\\D\"/>\n"
       "  <key action=\"move_value\" source=\"HKCU\\T\" destination=\"HKCU\\U\"/>\n"
       "  <file action=\"delete\" source=\"AppData\\Roaming\\T\\x\"/>\n"
       "  <directory action=\"delete\" source=\"UserProfile\\AppData\\Local\\T\"/>\n"
       "  <key action=\"move_value\" source=\"HKCU\\A\" destination=\"HKCU\\B\" value=\"v\"/>\n"
       "  <key action=\"create\" source=\"HKCU\\B\"/>\n",
       "2:3 text-as-base64\n3:24 deletes-top-level-key\n4:24 deletes-top-level-key\n"
       "5:28 moves-token-root\n6:3 default-value-by-mistake\n7:25 wrong-token-path\n"
       "8:30 wrong-token-path\n"},
      {"  <key action=\"rename\" source=\"HKCU\\S\\A\" destination=\"HKCU\\S\\B\"/>\n"
       "  <key action=\"rename\" source=\"HKCU\\S\\b\" destination=\"HKCU\\S\\a\"/>\n"
       "  <value action=\"rename\" key=\"HKCU\\S\\a\" source=\"v\" destination=\"w\"/>\n"
       "  <value action=\"rename\" key=\"HKCU\\S\\a\" source=\"w\" destination=\"v\"/>\n"
       "  <value action=\"set\" key=\"HKCU\\S\" source=\"z\" type=\"integer\">150</value>\n"
       "  <value action=\"convert\" key=\"HKCU\\S\" source=\"z\" type=\"string\"/>\n",
       "3:42 undone-by-later-rule\n5:52 undone-by-later-rule\n7:51 convert-reinterprets-data\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    EXPECT_EQ(Check(c.body), c.findings);
  }
}

// Every name the engine refuses in an archive, the checker refuses in a rule path: the engine's
// own rows, each written as the XML holds it (a name XML cannot hold at all is left out).
TEST(RuleCheckTest, RefusesEveryNameTheEngineRefuses) {
  for (const auto& [name, status] : testing::kUnfitNames) {
    std::string attribute;
    bool expressible = true;
    for (const char c : ToUtf8(name)) {
      const auto byte = static_cast<unsigned char>(c);
      if (c == '<' || c == '>' || c == '"' || c == '&' || byte < 0x20) {
        expressible &= byte >= 0x20 || c == '\t' || c == '\r' || c == '\n';
        attribute += "&#" + std::to_string(byte) + ";";
      } else {
        attribute += c == '/' ? '\\' : c;
      }
    }
    if (!expressible) continue;
#ifdef _WIN32
    // Wine's XML reader makes blanks of the references to a tab, CR or LF in an attribute, as it
    // should not, and a blank is a fine name: those rows are checked on Linux.
    if (name.find_first_of(u"\t\r\n") != std::u16string_view::npos) continue;
#endif
    SCOPED_TRACE(attribute);
    // A character that no path may hold stops the path's resolution already, as in the
    // migration ("Invalid source file"); the others reach the name rules.
    const std::string finding =
        Check("  <file action=\"delete\" source=\"Desktop\\" + attribute + "\"/>\n");
    EXPECT_TRUE(finding == "2:25 not-token-path\n" || finding == "2:25 wildcard-path\n" ||
                finding == "2:25 unfit-name\n")
        << finding;
  }
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
  testing::WriteFile(dir.path() / "twice.xml",
                     "<m><value action=\"delete\" key=\"HKCU\\A\" source=\"v\"/>\n"
                     "<value action=\"delete\" key=\"HKCU\\A\" source=\"v\"/></m>");
  testing::WriteFile(dir.path() / "hazards.xml",
                     "<m>\n<value action=\"delete\" key=\"HKCU\\A\" name=\"v\"/>\n"
                     "<value action=\"rename\" key=\"HKCU\\A\" source=\"a\" destiantion=\"b\"/>\n"
                     "<file action=\"create\" source=\"AppData\\w.txt\">Welcome</file>\n"
                     "<key action=\"move-value\" source=\"HKCU\\A\" destination=\"HKCU\\B\"/>\n"
                     "<value action=\"set\" key=\"HKCU\\A\" source=\"d\" type=\"dword\">1</value>\n"
                     "<directory action=\"delete\" source=\"Documents\\Old\"/>\n"
                     "<key action=\"create\" source=\"hkcu\\B\"/>\n</m>");
  std::string hazard_lines;
  for (const char* line :
       {"2:37: error: attribute 'name' is not read on a 'value' element",
        "2:37: error: 'delete' without a source attribute acts on the default value (@) of "
        "'HKCU\\A'; write source=\"\" if that is meant",
        "3:48: error: attribute 'destiantion' is not read on a 'value' element (did you mean "
        "'destination'?)",
        "3:48: error: 'rename' without a destination attribute renames 'a' to the default value "
        "(@) of 'HKCU\\A': a key that has one then holds two, and an import keeps the last; "
        "write destination=\"\" if that is meant",
        "4:1: error: the file content 'Welcome' is taken as Base64: the file gets 5 bytes that "
        "are not this text; for the text write 'V2VsY29tZQ=='",
        "5:6: error: unknown key action 'move-value'; expected create, delete, move_value or "
        "rename (did you mean 'move_value'?)",
        "6:45: error: unknown value type 'dword'; expected binary, expandable, integer, multi "
        "or string (did you mean 'integer'?)",
        "7:28: error: source 'Documents\\Old' does not start with a folder token (AppData, "
        "Cookies, Desktop, Favorites, LocalAppData, NetHood, Personal, PrintHood, "
        "ProgramsMenu, RecentFiles, SendTo, StartMenu, StartupMenu or UserProfile) (did you "
        "mean 'Personal'?)",
        "8:22: error: source key 'hkcu\\B' does not start with HKEY_CURRENT_USER, "
        "HKEY_LOCAL_MACHINE, HKCU or HKLM (did you mean 'HKCU'?)"}) {
    hazard_lines += ToUtf8(dir.wide("hazards.xml")) + ":" + line + "\n";
  }
  const char* source = std::getenv("ORVEX_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  const std::string example = std::string(source) + "/examples/migration.xml";
  struct Case {
    std::vector<std::u16string> args;
    std::uint32_t exit_code;
    std::string out, err;
  };
  const std::string usage =
      "Usage: OrvexInspect check [--json] [--strict] <rules.xml>\n"
      "       OrvexInspect diff [--json] [--expand] [--html <report.html>] <before.zip> "
      "<after.zip>\n"
      "       OrvexInspect derive <before.zip> <after.zip> [--check-with <profile.zip>...]\n"
      "       OrvexInspect preview [--json] [-j <jobs>] [--html <report.html>] <rules.xml> "
      "<profile.zip|folder>...\n";
  const Case cases[] = {
      {{u"check", dir.wide("good.xml")}, 0, "", ""},
      {{u"check", u"--json", dir.wide("good.xml")},
       0,
       "{\n  \"version\": 1,\n  \"command\": \"check\",\n  \"file\": \"" +
           JsonText(dir.wide("good.xml")) +
           "\",\n  \"summary\": {\"errors\": 0, \"warnings\": 0},\n  \"findings\": []\n}\n",
       ""},
      {{u"check", u"--json", dir.wide("bad.xml")},
       1,
       "{\n  \"version\": 1,\n  \"command\": \"check\",\n  \"file\": \"" +
           JsonText(dir.wide("bad.xml")) +
           "\",\n  \"summary\": {\"errors\": 1, \"warnings\": 0},\n  \"findings\": [\n"
           "    {\"file\": \"" +
           JsonText(dir.wide("bad.xml")) +
           "\", \"line\": 2, \"column\": 22, "
           "\"severity\": \"error\", \"code\": \"unknown-key-root\", \"message\": \"source key "
           "'A' does not start with HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKCU or HKLM\"}\n  "
           "]\n}\n",
       ""},
      {{u"check", dir.wide("broken.xml")},
       1,
       ToUtf8(dir.wide("broken.xml")) +
           ":2:48: error: the XML cannot be read: well-formedness "
           "constraint: element type match; the migration stops here\n",
       ""},
      {{u"check", dir.wide("twice.xml")},
       1,
       ToUtf8(dir.wide("twice.xml")) +
           ":2:37: warning: 'delete' of value 'v' of key "
           "'HKEY_CURRENT_USER\\A' finds nothing: the rule at 1:4 deleted that value\n",
       ""},
      {{u"check", u"--strict", dir.wide("hazards.xml")}, 2, hazard_lines, ""},
      {{u"check", u"--strict", ToUtf16(example)}, 0, "", ""},
      {{u"check", dir.wide("missing.xml")},
       2,
       "",
       "OrvexInspect: '" + ToUtf8(dir.wide("missing.xml")) + "' was not found\n"},
      {{u"check"}, 2, "", usage},
      {{u"--help"}, 0, usage, ""},
      {{u"diff", u"-h"}, 0, usage, ""},
      {{u"derive", u"--json", u"a.zip", u"b.zip"}, 2, "", usage},
      {{u"check", u"--expand", u"a.xml"}, 2, "", usage},
      {{u"derive", u"a.zip", u"b.zip", u"--check-with", u"--json"}, 2, "", usage},
      {{u"diff", u"a.zip", u"b.zip", u"--check-with", u"c.zip"}, 2, "", usage},
      {{u"derive", u"a.zip", u"b.zip", u"--check-with", dir.wide("missing.zip")},
       2,
       "",
       "OrvexInspect: '" + ToUtf8(dir.wide("missing.zip")) + "' was not found\n"},
      {{u"diff", u"a.zip", u"b.zip", u"--html"}, 2, "", usage},
      {{u"preview", u"-j", u"0", ToUtf16(example), u"a.zip"}, 2, "", usage},
      {{u"check", u"-j", u"2", ToUtf16(example)}, 2, "", usage},
      {{u"preview", dir.wide("good.xml"), dir.wide("missing.zip")},
       2,
       "",
       "OrvexInspect: '" + ToUtf8(dir.wide("missing.zip")) + "' was not found\n"},
      {{u"preview", u"--expand", ToUtf16(example), u"a.zip"}, 2, "", usage},
      // A report never replaces what the command reads.
      {{u"diff", u"--html", dir.wide("bad.xml"), dir.wide("good.xml"), dir.wide("bad.xml")},
       2,
       "",
       "OrvexInspect: the report '" + ToUtf8(dir.wide("bad.xml")) + "' would replace an input\n"},
      {{u"preview", u"--html", dir.wide("good.xml"), dir.wide("good.xml"), dir.wide("bad.xml")},
       2,
       "",
       "OrvexInspect: the report '" + ToUtf8(dir.wide("good.xml")) + "' would replace an input\n"},
      {{u"preview", u"--html", dir.wide("no folder/r.html"), ToUtf16(example), dir.wide("bad.xml")},
       2,
       "",
       "OrvexInspect: cannot write '" + ToUtf8(dir.wide("no folder/r.html")) + "' (error 3)\n"},
      {{u"diff", u"--html", dir.wide(), dir.wide("good.xml"), dir.wide("bad.xml")},
       2,
       "",
       "OrvexInspect: cannot write '" + ToUtf8(dir.wide()) + "' (error 5)\n"},
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
       "bad.xml:2:22: error: source key 'A' does not start with HKEY_CURRENT_USER, "
       "HKEY_LOCAL_MACHINE, HKCU or HKLM\n",
       ""},
      {"check", 2, "", "Usage: OrvexInspect check [--json] [--strict] <rules.xml>\n"},
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
