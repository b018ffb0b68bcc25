// derive --check-with and preview on a hand-made upgrade with two further users: what derive says
// the rules would take from each of them is what a migration with those rules takes, value by
// value and file by file, preview sees every rule act and warns of a number converted to text.
#include <gtest/gtest.h>

#include "OrvexInspect/inspect_command.h"
#include "OrvexMigrate/migration_run.h"
#include "engine/engine.h"
#include "engine/testing/test_zip.h"
#include "platform/com.h"
#include "platform/text.h"
#include "testing/temp_dir.h"
#include "testing/utf16_bytes.h"

namespace orvex {
namespace {

using testing::ScopedTempDir;
using testing::TestEntry;

// One user of the application: a zoom, a settings file of their own, and what only they hold.
struct Tallow {
  std::string name;
  std::string zoom;  // eight hex digits
  std::string settings;
  std::string own_value;  // a .reg line, or nothing
  std::vector<TestEntry> own_files;
};

std::string Reg(const std::string& body) {
  return testing::RegFileBytes(ToUtf16("Windows Registry Editor Version 5.00\r\n\r\n" + body));
}

// Before: the values in HKCU\Software\Tallow, the settings in AppData\Tallow\user.cfg. After the
// upgrade: the values in Tallow Labs\Window with a new one, the settings renamed to
// LocalAppData\Tallow Labs\user.ini, the example's with a line added.
void WriteUser(const ScopedTempDir& dir, const Tallow& user, bool example) {
  std::vector<TestEntry> before = {
      {"Registry/User.reg", TestEntry::kFile,
       Reg("[HKEY_CURRENT_USER\\Software\\Tallow]\r\n\"Zoom\"=dword:" + user.zoom +
           "\r\n\"Owner\"=\"" + user.name + "\"\r\n" + user.own_value + "\r\n")},
      {"AppData/Tallow/user.cfg", TestEntry::kFile, user.settings},
      {"AppData/Other/keep.txt", TestEntry::kFile, "k"}};
  before.insert(before.end(), user.own_files.begin(), user.own_files.end());
  testing::WriteTestZip(dir.path() / (user.name + ".zip"), before);
  testing::WriteTestZip(
      dir.path() / (user.name + "_after.zip"),
      {{"Registry/User.reg", TestEntry::kFile,
        Reg("[HKEY_CURRENT_USER\\Software\\Tallow Labs\\Window]\r\n\"Zoom\"=dword:" + user.zoom +
            "\r\n\"Owner\"=\"" + user.name + "\"\r\n\"Version\"=\"2\"\r\n\r\n")},
       {"LocalAppData/Tallow Labs/user.ini", TestEntry::kFile,
        user.settings + (example ? "version=2\n" : "")},
       {"AppData/Other/keep.txt", TestEntry::kFile, "k"}});
}

CommandOutput Inspect(ArgumentList args) {
  args.insert(args.begin(), u"OrvexInspect");
  return RunInspectCommand(args);
}

TEST(DeriveCheckTest, NamesWhatTheRulesTakeFromOtherUsers) {
  (void)platform::CoInitializeEx(nullptr, platform::COINIT_APARTMENTTHREADED);
  ASSERT_TRUE(SUCCEEDED(RegisterOrvexEngine()));
  ScopedTempDir dir;
  const Tallow alice{"alice", "00000096", "owner=alice\nzoom=150\n", "", {}};
  const Tallow bob{"bob",
                   "0000007d",
                   "owner=bob\nzoom=125\nwrap=on\n",
                   "\"Extra\"=\"1\"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tallow\\Plugins]\r\n",
                   {{"AppData/Tallow/notes.txt", TestEntry::kFile, "mine"}}};
  const Tallow carol{"carol", "00000064", "owner=carol\n", "", {}};
  WriteUser(dir, alice, true);
  for (const Tallow* user : {&bob, &carol}) WriteUser(dir, *user, false);

  const CommandOutput derived =
      Inspect({u"derive", dir.wide("alice.zip"), dir.wide("alice_after.zip"), u"--check-with",
               dir.wide("bob.zip"), dir.wide("carol.zip")});
  const std::string text = ToUtf8(derived.out);
  SCOPED_TRACE(text);
  EXPECT_EQ(derived.exit_code, kInspectFound);
  const std::string bob_zip = ToUtf8(dir.wide("bob.zip"));
  EXPECT_NE(
      text.find("     What still differs after them:\n"
                "       the example's file 'LocalAppData/Tallow Labs/user.ini' gained a "
                "line; the rules keep each user's own content\n"
                "     What they would do in the other profiles that they do not in the "
                "example:\n"
                "       deletes value \"Extra\" of key 'HKEY_CURRENT_USER\\Software\\Tallow', "
                "which the example did not have, in 1 of 2 profiles: " +
                bob_zip +
                "\n"
                "       deletes key 'HKEY_CURRENT_USER\\Software\\Tallow\\Plugins', which the "
                "example did not have, in 1 of 2 profiles: " +
                bob_zip +
                "\n"
                "       deletes file 'AppData\\Tallow\\notes.txt', which the example did "
                "not have, in 1 of 2 profiles: " +
                bob_zip + "\n-->\n"),
      std::string::npos);
  EXPECT_NE(text.find("<file action=\"move\" source=\"AppData\\Tallow\\user.cfg\" "
                      "destination=\"LocalAppData\\Tallow Labs\\user.ini\"/>"),
            std::string::npos);
  testing::WriteFile(dir.path() / "derived.xml", text);
  const CommandOutput checked = Inspect({u"check", u"--strict", dir.wide("derived.xml")});
  EXPECT_EQ(ToUtf8(checked.out + checked.err), "");

  // Each user keeps their settings and loses exactly what derive named.
  for (const Tallow* user : {&bob, &carol}) {
    ProgramOptions options;
    options.xml_path = dir.wide("derived.xml");
    options.input_path = dir.wide(user->name + ".zip");
    options.output_path = dir.wide(user->name + "_out.zip");
    ConsoleWriter console;
    ASSERT_EQ(RunMigration(options, console), 0u);
    const CommandOutput compared =
        Inspect({u"diff", dir.wide(user->name + "_out.zip"), dir.wide(user->name + "_after.zip")});
    EXPECT_EQ(ToUtf8(compared.out + compared.err), "") << user->name;
  }
  // One profile at a time: the engine is registered for this thread alone.
  const CommandOutput previewed = Inspect({u"preview", u"-j", u"1", dir.wide("derived.xml"),
                                           dir.wide("bob.zip"), dir.wide("carol.zip")});
  EXPECT_EQ(previewed.exit_code, 0u) << ToUtf8(previewed.out);

  // A number converted to text is warned of where it happens.
  testing::WriteFile(dir.path() / "convert.xml",
                     "<migration><value action=\"convert\" key=\"HKCU\\Software\\Tallow\" "
                     "source=\"Zoom\" type=\"string\"/></migration>");
  const CommandOutput converted = Inspect({u"preview", u"-j", u"1", dir.wide("convert.xml"),
                                           dir.wide("bob.zip"), dir.wide("carol.zip")});
  EXPECT_NE(ToUtf8(converted.out)
                .find("      warning: 'Zoom' held a number: convert changes only the type, so the "
                      "number's bytes read as characters; no rule turns a number into its digits "
                      "(2 profiles)\n"),
            std::string::npos)
      << ToUtf8(converted.out);
}

}  // namespace
}  // namespace orvex
