#include "OrvexInspect/profile_diff.h"

#include <gtest/gtest.h>

#include "OrvexInspect/inspect_command.h"
#include "engine/engine.h"
#include "engine/testing/test_zip.h"
#include "platform/text.h"
#include "regfile/reg_test_support.h"
#include "reports/report_text.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

using testing::ScopedTempDir;
using testing::TestEntry;

constexpr std::u16string_view kUserReg =
    u"Windows Registry Editor Version 5.00\r\n\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Vendor\\App]\r\n"
    u"@=\"default \\\"quoted\\\"\"\r\n"
    u"\"Count\"=dword:0000002a\r\n"
    u"\"Path\"=hex(2):25,00,41,00,25,00,00,00\r\n"
    u"\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    u"\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11\r\n"
    u"\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Vendor\\App\\Sub]\r\n"
    u"\"Name\"=\"x\"\r\n\r\n";

// The same keys in another order and letter case, one of them in two sections, values reordered.
constexpr std::u16string_view kUserRegReordered =
    u"Windows Registry Editor Version 5.00\r\n\r\n"
    u"[hkey_current_user\\software\\vendor\\app\\SUB]\r\n"
    u"\"Name\"=\"x\"\r\n\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Vendor\\App]\r\n"
    u"\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
    u"\"Count\"=dword:0000002a\r\n"
    u"@=\"default \\\"quoted\\\"\"\r\n\r\n"
    u"[HKEY_CURRENT_USER\\SOFTWARE\\Vendor\\App]\r\n"
    u"\"Path\"=hex(2):25,00,41,00,25,00,00,00\r\n"
    u"\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11\r\n"
    u"\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n\r\n";

constexpr std::u16string_view kUserRegChanged =
    u"Windows Registry Editor Version 5.00\r\n\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Vendor\\App]\r\n"
    u"@=\"default \\\"quoted\\\"\"\r\n"
    u"\"Count\"=hex(4):2a,00\r\n"
    u"\"Path\"=hex(2):25,00,41,00,25,00,00,00\r\n"
    u"\"List\"=hex(7):61,00,00,00,00,00,63,00,00,00,00,00\r\n"
    u"\"Big\"=hex(b):00,00,00,00,01,00,00,00\r\n"
    u"\"New\"=hex:\r\n"
    u"\"Path\"=\"%B%\"\r\n\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Vendor\\Other]\r\n\r\n";

std::vector<TestEntry> Profile(std::u16string_view reg, const std::string& notes) {
  return {{"Registry/User.reg", TestEntry::kFile, testing::RegFileBytes(reg)},
          {"AppData/Vendor/notes.txt", TestEntry::kFile, notes},
          {"AppData/Vendor/data.bin", TestEntry::kFile, std::string("\0\1\2", 3)},
          {"AppData/Vendor/Old/a.txt", TestEntry::kFile, "a"},
          {"AppData/Vendor/Old/b/c.txt", TestEntry::kFile, "c"},
          {"Desktop/Empty/", TestEntry::kDirectory, ""}};
}

class ProfileDiffTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    (void)platform::CoInitializeEx(nullptr, platform::COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(SUCCEEDED(RegisterOrvexEngine()));
  }

  std::u16string Archive(const std::string& name, std::vector<TestEntry> entries) {
    testing::WriteTestZip(dir_.path() / name, entries);
    return dir_.wide(name);
  }

  ScopedTempDir dir_;
};

TEST_F(ProfileDiffTest, ComparesByMeaning) {
  // Paths as JSON strings (the escaping itself is checked with check's output).
  auto Json = [](std::u16string_view text) {
    std::u16string quoted;
    AppendJsonString(&quoted, text);
    return ToUtf8(quoted);
  };
  const std::u16string original = Archive("a.zip", Profile(kUserReg, "one\ntwo\nthree\n"));
  std::vector<TestEntry> changed = Profile(kUserRegChanged, "one\n2\nthree\n");
  changed.erase(changed.begin() + 3, changed.begin() + 5);  // AppData/Vendor/Old
  changed.push_back({"Personal/new.txt", TestEntry::kFile, "hello"});
  struct Case {
    std::u16string after;
    std::vector<std::u16string> options;
    std::string out;
  };
  const Case cases[] = {
      {original, {}, ""},
      {Archive("b.zip", Profile(kUserRegReordered, "one\ntwo\nthree\n")), {}, ""},
      // Of the same size: told apart by the CRC-32 the archives record.
      {Archive("same-size.zip", Profile(kUserReg, "one\nTwo\nthree\n")),
       {},
       "keys: 0 added, 0 removed, 0 changed, 0 moved\n"
       "values: 0 added, 0 removed, 0 changed, 0 moved\n"
       "files: 0 added, 0 removed, 1 changed, 0 moved\n"
       "\n"
       "~ AppData/Vendor/notes.txt (14 bytes, other content)\n"
       "  - two\n"
       "  + Two\n"},
      {Archive("c.zip", changed),
       {},
       "keys: 1 added, 1 removed, 1 changed, 0 moved\n"
       "values: 1 added, 2 removed, 4 changed, 0 moved\n"
       "files: 1 added, 2 removed, 1 changed, 0 moved\n"
       "\n"
       "- AppData/Vendor/Old/ (directory, 2 files)\n"
       "~ AppData/Vendor/notes.txt (14 -> 12 bytes)\n"
       "  - two\n"
       "  + 2\n"
       "+ Personal/ (directory, 1 file)\n"
       "~ Registry/User.reg\n"
       "    [HKEY_CURRENT_USER\\Software\\Vendor\\App]\n"
       "  -     \"Big\" = qword 1\n"
       "  +     \"Big\" = qword 4294967296\n"
       "  -     \"Blob\" = binary (18 bytes)\n"
       "  -         00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f\n"
       "  -         10 11\n"
       "  -     \"Count\" = integer 42\n"
       "  +     \"Count\" = hex(4) 2a 00\n"
       "  -     \"List\" = multi\n"
       "  -         \"a\"\n"
       "  -         \"b\"\n"
       "  +     \"List\" = multi\n"
       "  +         \"a\"\n"
       "  +         \"\"\n"
       "  +         \"c\"\n"
       "  +     \"New\" = binary (no bytes)\n"
       "  -     \"Path\" = expandable \"%A%\"\n"
       "  +     \"Path\" = string \"%B%\" (the key holds this name twice; an import keeps this "
       "last value)\n"
       "  - [HKEY_CURRENT_USER\\Software\\Vendor\\App\\Sub]\n"
       "  -     \"Name\" = string \"x\"\n"
       "  + [HKEY_CURRENT_USER\\Software\\Vendor\\Other]\n"},
      {dir_.wide("c.zip"),
       {u"--json"},
       "{\n  \"version\": 1,\n  \"command\": \"diff\",\n  \"before\": " + Json(original) +
           ",\n  \"after\": " + Json(dir_.wide("c.zip")) +
           ",\n  \"summary\": {\"keys\": {\"added\": 1, \"removed\": 1, \"changed\": 1, "
           "\"moved\": 0}, \"values\": {\"added\": 1, \"removed\": 2, \"changed\": 4, \"moved\": "
           "0}, "
           "\"files\": {\"added\": 1, \"removed\": 2, \"changed\": 1, \"moved\": 0}},\n"
           "  \"differences\": [\n"
           "    {\"what\": \"value\", \"change\": \"changed\", \"file\": \"Registry/User.reg\", "
           "\"key\": "
           "\"HKEY_CURRENT_USER\\\\Software\\\\Vendor\\\\App\", \"name\": \"Big\", \"before\": "
           "{\"type\": \"qword\", \"data\": 1}, \"after\": {\"type\": \"qword\", \"data\": "
           "4294967296}},\n"
           "    {\"what\": \"value\", \"change\": \"removed\", \"file\": \"Registry/User.reg\", "
           "\"key\": "
           "\"HKEY_CURRENT_USER\\\\Software\\\\Vendor\\\\App\", \"name\": \"Blob\", \"before\": "
           "{\"type\": \"binary\", \"data\": \"000102030405060708090a0b0c0d0e0f1011\"}},\n"
           "    {\"what\": \"value\", \"change\": \"changed\", \"file\": \"Registry/User.reg\", "
           "\"key\": "
           "\"HKEY_CURRENT_USER\\\\Software\\\\Vendor\\\\App\", \"name\": \"Count\", \"before\": "
           "{\"type\": \"integer\", \"data\": 42}, \"after\": {\"type\": \"hex(4)\", \"data\": "
           "\"2a00\"}},\n"
           "    {\"what\": \"value\", \"change\": \"changed\", \"file\": \"Registry/User.reg\", "
           "\"key\": "
           "\"HKEY_CURRENT_USER\\\\Software\\\\Vendor\\\\App\", \"name\": \"List\", \"before\": "
           "{\"type\": \"multi\", \"data\": [\"a\", \"b\"]}, \"after\": {\"type\": \"multi\", "
           "\"data\": "
           "[\"a\", \"\", \"c\"]}},\n"
           "    {\"what\": \"value\", \"change\": \"added\", \"file\": \"Registry/User.reg\", "
           "\"key\": "
           "\"HKEY_CURRENT_USER\\\\Software\\\\Vendor\\\\App\", \"name\": \"New\", \"after\": "
           "{\"type\": \"binary\", \"data\": \"\"}},\n"
           "    {\"what\": \"value\", \"change\": \"changed\", \"file\": \"Registry/User.reg\", "
           "\"key\": "
           "\"HKEY_CURRENT_USER\\\\Software\\\\Vendor\\\\App\", \"name\": \"Path\", \"before\": "
           "{\"type\": \"expandable\", \"data\": \"%A%\"}, \"after\": {\"type\": \"string\", "
           "\"data\": \"%B%\", \"name_count\": 2}},\n"
           "    {\"what\": \"key\", \"change\": \"removed\", \"file\": \"Registry/User.reg\", "
           "\"key\": "
           "\"HKEY_CURRENT_USER\\\\Software\\\\Vendor\\\\App\\\\Sub\"},\n"
           "    {\"what\": \"value\", \"change\": \"removed\", \"file\": \"Registry/User.reg\", "
           "\"key\": "
           "\"HKEY_CURRENT_USER\\\\Software\\\\Vendor\\\\App\\\\Sub\", \"name\": \"Name\", "
           "\"before\": "
           "{\"type\": \"string\", \"data\": \"x\"}},\n"
           "    {\"what\": \"key\", \"change\": \"added\", \"file\": \"Registry/User.reg\", "
           "\"key\": "
           "\"HKEY_CURRENT_USER\\\\Software\\\\Vendor\\\\Other\"},\n"
           "    {\"what\": \"directory\", \"change\": \"removed\", \"path\": "
           "\"AppData/Vendor/Old\", "
           "\"files\": 2},\n"
           "    {\"what\": \"file\", \"change\": \"changed\", \"path\": "
           "\"AppData/Vendor/notes.txt\", "
           "\"size_before\": 14, \"size\": 12},\n"
           "    {\"what\": \"directory\", \"change\": \"added\", \"path\": \"Personal\", "
           "\"files\": 1}\n"
           "  ]\n}\n"},
      {Archive("d.zip",
               [] {
                 std::vector<TestEntry> entries = Profile(kUserReg, "one\ntwo\nthree\n");
                 entries.erase(entries.begin() + 3, entries.begin() + 5);  // AppData/Vendor/Old
                 entries.push_back({"Personal/new.txt", TestEntry::kFile, "hello"});
                 return entries;
               }()),
       {u"--expand"},
       "keys: 0 added, 0 removed, 0 changed, 0 moved\n"
       "values: 0 added, 0 removed, 0 changed, 0 moved\n"
       "files: 1 added, 2 removed, 0 changed, 0 moved\n"
       "\n"
       "- AppData/Vendor/Old/ (directory)\n"
       "- AppData/Vendor/Old/a.txt (1 bytes)\n"
       "- AppData/Vendor/Old/b/ (directory)\n"
       "- AppData/Vendor/Old/b/c.txt (1 bytes)\n"
       "+ Personal/ (directory)\n"
       "+ Personal/new.txt (5 bytes)\n"},
  };
  for (const Case& c : cases) {
    ArgumentList args = {u"OrvexInspect", u"diff"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {original, c.after});
    const CommandOutput output = RunInspectCommand(args);
    SCOPED_TRACE(ToUtf8(c.after));
    EXPECT_EQ(ToUtf8(output.out), c.out);
    EXPECT_EQ(ToUtf8(output.err), "");
    EXPECT_EQ(output.exit_code, c.out.empty() ? 0u : 1u);
  }
}

// Key trees, values, folders and files that went elsewhere with their content show as moves: a
// key tree whose keys moved with it (the ones that also changed listed under their new path), a
// value renamed in its key or moved to another, a folder most of whose files went to the same
// places under a new one (what did not go along listed on its own), files found again by content,
// names whose letter case alone changed. A control character in a value shows as its code.
TEST_F(ProfileDiffTest, ShowsMovesAsMoves) {
  const std::u16string before = Archive(
      "before.zip", {{"Registry/User.reg", TestEntry::kFile,
                      testing::RegFileBytes(
                          u"Windows Registry Editor Version 5.00\r\n\r\n"
                          u"[HKEY_CURRENT_USER\\Software\\Old\\App]\r\n"
                          u"\"A\"=\"1\"\r\n\"Last\"=\"x\"\r\n\"WordWrap\"=dword:00000001\r\n\r\n"
                          u"[HKEY_CURRENT_USER\\Software\\Old\\App\\Window]\r\n"
                          u"\"Left\"=dword:00000001\r\n\r\n"
                          u"[HKEY_CURRENT_USER\\Software\\Old\\App\\Cache]\r\n"
                          u"\"P\"=\"t\"\r\n\r\n"
                          u"[HKEY_CURRENT_USER\\Software\\Zed]\r\n"
                          u"\"Zoom\"=dword:00000096\r\n\"Ctl\"=\"x\"\r\n\r\n")},
                     {"AppData/keep.txt", TestEntry::kFile, "k"},
                     {"AppData/Old/App/settings.ini", TestEntry::kFile, "s1"},
                     {"AppData/Old/App/sub/t.txt", TestEntry::kFile, "t2"},
                     {"AppData/Old/App/cache.tmp", TestEntry::kFile, "zzz"},
                     {"Desktop/note.txt", TestEntry::kFile, "n"},
                     {"Desktop/empty.txt", TestEntry::kFile, ""}});
  const std::u16string after = Archive(
      "after.zip", {{"Registry/User.reg", TestEntry::kFile,
                     testing::RegFileBytes(
                         u"Windows Registry Editor Version 5.00\r\n\r\n"
                         u"[HKEY_CURRENT_USER\\Software\\New\\App2]\r\n"
                         u"\"A\"=\"1\"\r\n\"Recent\"=\"x\"\r\n\"wordwrap\"=dword:00000001\r\n\r\n"
                         u"[HKEY_CURRENT_USER\\Software\\New\\App2\\Window]\r\n"
                         u"\"Left\"=dword:00000001\r\n\r\n"
                         u"[HKEY_CURRENT_USER\\Software\\Zed]\r\n"
                         u"\"Ctl\"=\"\u0096\"\r\n\r\n"
                         u"[HKEY_CURRENT_USER\\Software\\Zed\\View]\r\n"
                         u"\"Zoom\"=dword:00000096\r\n\r\n")},
                    {"AppData/keep.txt", TestEntry::kFile, "k"},
                    {"LocalAppData/New/App2/settings.ini", TestEntry::kFile, "s1"},
                    {"LocalAppData/New/App2/sub/t.txt", TestEntry::kFile, "t2"},
                    {"LocalAppData/New/App2/welcome.txt", TestEntry::kFile, "w"},
                    {"Desktop/Note.txt", TestEntry::kFile, "n"},
                    {"Desktop/Empty.txt", TestEntry::kFile, ""}});
  const CommandOutput output = RunInspectCommand({u"OrvexInspect", u"diff", before, after});
  EXPECT_EQ(
      ToUtf8(output.out),
      "keys: 1 added, 1 removed, 2 changed, 2 moved\n"
      "values: 0 added, 1 removed, 1 changed, 3 moved\n"
      "files: 1 added, 1 removed, 0 changed, 4 moved\n"
      "\n"
      "- AppData/Old/ (directory)\n"
      "> AppData/Old/App/ -> LocalAppData/New/App2/ (directory, 2 files)\n"
      "- AppData/Old/App/cache.tmp (3 bytes)\n"
      "> Desktop/empty.txt -> Desktop/Empty.txt (0 bytes; letter case only)\n"
      "> Desktop/note.txt -> Desktop/Note.txt (1 bytes; letter case only)\n"
      "+ LocalAppData/ (directory)\n"
      "+ LocalAppData/New/ (directory)\n"
      "+ LocalAppData/New/App2/welcome.txt (1 bytes)\n"
      "~ Registry/User.reg\n"
      "  > [HKEY_CURRENT_USER\\Software\\Old\\App] -> [HKEY_CURRENT_USER\\Software\\New\\App2] "
      "(2 keys)\n"
      "    [HKEY_CURRENT_USER\\Software\\New\\App2]\n"
      "  >     \"Last\" -> \"Recent\" = string \"x\"\n"
      "  >     \"WordWrap\" -> \"wordwrap\" (letter case only) = integer 1\n"
      "  - [HKEY_CURRENT_USER\\Software\\Old\\App\\Cache]\n"
      "  -     \"P\" = string \"t\"\n"
      "    [HKEY_CURRENT_USER\\Software\\Zed]\n"
      "  -     \"Ctl\" = string \"x\"\n"
      "  +     \"Ctl\" = string \"\\u0096\"\n"
      "  + [HKEY_CURRENT_USER\\Software\\Zed\\View]\n"
      "  >     \"Zoom\" from [HKEY_CURRENT_USER\\Software\\Zed] = integer 150\n");
  EXPECT_EQ(output.exit_code, kInspectFound);
}

// What keeps an archive from being read is named: no file, no regular file, the engine's reason
// for refusing it, or the line of a .reg file where reading stopped and why.
TEST_F(ProfileDiffTest, MissingOrBrokenArchiveIsAnError) {
  testing::WriteFile(dir_.path() / "not.zip", "no archive");
  std::filesystem::create_directory(dir_.path() / "folder");
  const std::u16string good = Archive("a.zip", Profile(kUserReg, ""));
  const std::u16string linked =
      Archive("link.zip", {{"AppData/link", TestEntry::kSymlink, "../../x"}});
  auto reg_archive = [&](const std::string& name, const std::string& bytes) {
    return ToUtf8(Archive(name, {{"Registry/User.reg", TestEntry::kFile, bytes}}));
  };
  const std::string deleting = reg_archive(
      "deleting.zip", testing::RegFileBytes(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                            u"[-HKEY_CURRENT_USER\\A]\r\n"));
  const std::string unended = reg_archive(
      "unended.zip", testing::RegFileBytes(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                           u"[HKEY_CURRENT_USER\\A]\r\n\"a\"=hex:01,\\\r\n"));
  const std::string utf8 = reg_archive("utf8.zip", "Windows Registry Editor Version 5.00\r\n");
  const std::string missing = ToUtf8(dir_.wide("missing.zip")),
                    broken = ToUtf8(dir_.wide("not.zip")), folder = ToUtf8(dir_.wide("folder"));
  for (const auto& [other, err] : {
           std::pair(missing, "'" + missing + "' was not found"),
           std::pair(folder, "'" + folder + "' is not a regular file"),
           std::pair(broken, "cannot unpack '" + broken + "' (error 13): cannot read '" + broken +
                                 "' from '" + broken + "': Unrecognized archive format (Error 13)"),
           std::pair(ToUtf8(linked), "cannot unpack '" + ToUtf8(linked) +
                                         "' (error 13): refused entry 'AppData/link' of '" +
                                         ToUtf8(linked) + "': symbolic link"),
           std::pair(deleting, "cannot read 'Registry/User.reg' of '" + deleting +
                                   "' (error 65535): line 3: a key deletion '[-'"),
           std::pair(unended, "cannot read 'Registry/User.reg' of '" + unended +
                                  "' (error 38): line 4: the file ends inside an entry"),
           std::pair(utf8, "cannot read 'Registry/User.reg' of '" + utf8 +
                               "' (error 16385): line 1: not UTF-16LE text with its byte-order "
                               "mark"),
       }) {
    const CommandOutput output =
        RunInspectCommand({u"OrvexInspect", u"diff", good, ToUtf16(other)});
    EXPECT_EQ(output.exit_code, kInspectFailed) << err;
    EXPECT_EQ(ToUtf8(output.err), "OrvexInspect: " + err + "\n");
  }
}

}  // namespace
}  // namespace orvex
