// Whole migrations through the built binary: archives made by the test go in, the output archive,
// the exit code, the console, the log and the temporary folder are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine/testing/test_zip.h"
#include "engine/zip_format.h"
#include "platform/text.h"
#include "regfile/reg_reader.h"
#include "testing/temp_dir.h"
#include "testing/utf16_bytes.h"
#include "tool_runner.h"

namespace orvex::testing {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// A .reg file as the writer makes it: UTF-16LE with a byte-order mark, CR LF line ends.
std::string RegFile(const std::string& text) { return testing::RegFileBytes(ToUtf16(text)); }

const std::string kMarkers = "HKEY_CURRENT_USER\\Software\\Quenlar\\Orvex Zoravudi\\ImportMarkers";

class MigrationE2eTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(temp_); }

  // Runs the tool in the test's folder with its own temporary folder.
  ToolResult Run(const std::vector<std::string>& extra, const std::string& xml_text,
                 const std::vector<std::string>& environment = {}) {
    WriteFile(dir_.path() / "rules.xml", xml_text);
    std::vector<std::string> args = {"/XML",    "rules.xml", "/INPUT",   "in.zip",
                                     "/OUTPUT", "out.zip",   "/LOGFILE", "run.log"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<std::string> env = {"TMPDIR=" + temp_.string()};
    env.insert(env.end(), environment.begin(), environment.end());
    return RunTool(args, dir_.path(), env);
  }

  // The output archive unpacked by an independent tool.
  fs::path Unpacked() {
    const fs::path target = dir_.path() / "unpacked";
    fs::remove_all(target);
    fs::create_directories(target);
    const std::string command = "cd '" + target.string() + "' && unzip -q ../out.zip";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return target;
  }

  Lines Log() { return LogLines(dir_.path() / "run.log"); }
  bool Logged(const std::string& line) {
    const Lines lines = Log();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  ScopedTempDir dir_;
  fs::path temp_ = dir_.path() / "tmp";
};

const char* kNoRules = "<migration/>";

TEST_F(MigrationE2eTest, RoundTripLosesNothing) {
  const std::string reg = RegFile(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[" +
      kMarkers +
      "]\r\n\"Pre\"=\"1\"\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\A]\r\n\"x\"=dword:00000001\r\n\r\n"
      "[" +
      kMarkers + "]\r\n\"Post\"=\"1\"\r\n\r\n");
  std::string big(3 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
  WriteTestZip(dir_.path() / "in.zip",
               {{"Registry/User.reg", TestEntry::kFile, reg},
                {"AppData/Vendor/empty/", TestEntry::kDirectory, "", 1600000000},
                {"AppData/Vendor/Grüße.txt", TestEntry::kFile, "hello"},
                {"Personal/big.bin", TestEntry::kFile, big}});
  const ToolResult result = Run({}, kNoRules);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.console, kBanner);
  const fs::path out = Unpacked();
  EXPECT_EQ(ListTree(out), (Lines{"AppData/", "AppData/Vendor/", "AppData/Vendor/Grüße.txt",
                                  "AppData/Vendor/empty/", "Personal/", "Personal/big.bin",
                                  "Registry/", "Registry/User.reg"}));
  EXPECT_EQ(ReadFile(out / "Registry" / "User.reg"), reg);
  EXPECT_EQ(ReadFile(out / "AppData" / "Vendor" / "Grüße.txt"), "hello");
  EXPECT_EQ(ReadFile(out / "Personal" / "big.bin"), big);
  EXPECT_TRUE(fs::is_empty(temp_)) << "the working directory must be removed";
  EXPECT_EQ(Log().back(), "[INFO ] Created output profile archive successfully");
  EXPECT_FALSE(Logged("[DEBUG] Created Orvex Engine instance")) << "DEBUG needs /VERBOSE";
}

TEST_F(MigrationE2eTest, RulesRewriteRegistryFilesAndTheTree) {
  const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
  const std::string user = RegFile(
      header + "[HKEY_CURRENT_USER\\Software\\Old\\Sub]\r\n\"Mode\"=\"fast\"\r\n\r\n" + "[" +
      kMarkers + "]\r\n\"Pre\"=\"1\"\r\n\"Extra\"=\"x\"\r\n\"Post\"=\"1\"\r\n\r\n" +
      "[HKEY_CURRENT_USER\\Software\\Old]\r\n\"Size\"=dword:0000000a\r\n\"Gone\"=hex:01\r\n\r\n" +
      "[HKEY_CURRENT_USER\\Software\\Aa]\r\n\r\n");
  const std::string nested = RegFile(header + "[HKEY_CURRENT_USER\\Software\\Old]\r\n\r\n");
  WriteTestZip(dir_.path() / "in.zip",
               {{"Registry/User.reg", TestEntry::kFile, user},
                {"Registry/Nested/Deep.reg", TestEntry::kFile, nested},
                {"Registry/folder.reg/", TestEntry::kDirectory, "", 1600000000},
                {"AppData/Old/a.ini", TestEntry::kFile, "a"}});
  // Key, file, value and directory rules interleaved: each pass keeps their order.
  const std::string xml = R"(<?xml version="1.0"?>
<m>
  <key action="rename" source="HKCU\Software\Old" destination="HKCU\Software\New"/>
  <file action="create" source="AppData\Old\b.txt">YmI=</file>
  <value action="set" key="HKCU\Software\New" source="Size" type="integer">42</value>
  <value action="delete" key="HKCU\Software\New" source="Gone"/>
  <directory action="move" source="AppData\Old" destination="AppData\New"/>
  <value action="set" key="HKLM\Software\X" source="" type="multi">a

b</value>
</m>)";
  const ToolResult result = Run({}, xml);
  ASSERT_EQ(result.status, 0) << result.console;
  const fs::path out = Unpacked();
  EXPECT_EQ(ReadFile(out / "Registry" / "User.reg"),
            RegFile(header + "[" + kMarkers + "]\r\n\"Pre\"=\"1\"\r\n\r\n" +
                    "[HKEY_CURRENT_USER\\Software\\Aa]\r\n\r\n" +
                    "[HKEY_CURRENT_USER\\Software\\New]\r\n\"Size\"=dword:0000002a\r\n\r\n" +
                    "[HKEY_CURRENT_USER\\Software\\New\\Sub]\r\n\"Mode\"=\"fast\"\r\n\r\n" +
                    "[HKEY_LOCAL_MACHINE\\Software\\X]\r\n" +
                    "@=hex(7):61,00,00,00,62,00,00,00,00,00\r\n\r\n" + "[" + kMarkers +
                    "]\r\n\"Post\"=\"1\"\r\n\r\n"));
  EXPECT_EQ(ReadFile(out / "Registry" / "Nested" / "Deep.reg"), nested);
  EXPECT_TRUE(fs::is_directory(out / "Registry" / "folder.reg"));
  EXPECT_EQ(ReadFile(out / "AppData" / "New" / "a.ini"), "a");
  EXPECT_EQ(ReadFile(out / "AppData" / "New" / "b.txt"), "bb");
  EXPECT_FALSE(fs::exists(out / "AppData" / "Old"));
}

// What a run writes, the next run reads: a rule step whose result no .reg file or archive could
// carry is refused with an ERROR line and the run goes on; the output migrates again to the same.
TEST_F(MigrationE2eTest, OutputsMigrateAgainToTheSame) {
  const auto set = [](const std::string& type, const std::string& data) {
    return "<m><value action='set' key='HKCU\\A' source='v' type='" + type + "'>" + data +
           "</value></m>";
  };
  const auto zeros = [](std::size_t bytes) {  // in Base64
    return std::string(bytes / 3 * 4, 'A') + (bytes % 3 == 1 ? "AA==" : bytes % 3 ? "AAA=" : "");
  };
  const auto too_long = [](std::size_t bytes) {
    return "[ERROR] ProcessRegistryValue: Cannot set value 'v' of key 'HKEY_CURRENT_USER\\A' (" +
           std::to_string(bytes) + " bytes of data, more than the " + std::to_string(kMaxHexBytes) +
           " a .REG file holds for one value)";
  };
  const struct {
    std::string xml, error;  // no error: the rule takes effect
  } cases[] = {
      {set("string", std::string(kMaxStringUnits, 's')), ""},      // the most text quotes carry
      {set("string", std::string(kMaxStringUnits + 1, 's')), ""},  // written as bytes instead
      {set("multi", std::string(kMaxHexBytes / 2, 'm')), too_long(kMaxHexBytes + 4)},
      {set("binary", zeros(kMaxHexBytes)), ""},
      {set("binary", zeros(kMaxHexBytes + 1)), too_long(kMaxHexBytes + 1)},
      {"<m><file action='create' source='AppData\\x:y'>eA==</file></m>",
       "[ERROR] ProcessFile: Invalid source file 'AppData\\x:y' (character Windows does not allow "
       "in names)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    WriteTestZip(
        dir_.path() / "in.zip",
        {{"Registry/User.reg", TestEntry::kFile,
          RegFile("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n")}});
    ASSERT_EQ(Run({}, c.xml).status, 0);
    if (!c.error.empty()) {
      EXPECT_TRUE(Logged(c.error)) << c.error;
    }
    const std::string written = ReadFile(Unpacked() / "Registry" / "User.reg");
    EXPECT_EQ(written.find(Utf16Bytes(u"\"v\"=")) != std::string::npos, c.error.empty());
    // A name the engine refuses, or a line the reader refuses, would fail this run.
    fs::rename(dir_.path() / "out.zip", dir_.path() / "in.zip");
    EXPECT_EQ(Run({}, c.xml).status, 0);
    EXPECT_TRUE(ReadFile(Unpacked() / "Registry" / "User.reg") == written);
    fs::remove(dir_.path() / "out.zip");
  }
}

TEST_F(MigrationE2eTest, ARegFileThatDoesNotParseStopsTheRun) {
  WriteTestZip(dir_.path() / "in.zip",
               {{"Registry/a.reg", TestEntry::kFile,
                 RegFile("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n")},
                {"Registry/b.reg", TestEntry::kFile, RegFile("REGEDIT4\r\n")}});
  const ToolResult result = Run({"/nocleanup"}, kNoRules);
  EXPECT_EQ(result.status, ToolStatus(32768));  // 0x80048000, its low word
  EXPECT_EQ(Log().back(), "[FATAL] Failed to parse .REG file '" +
                              ToolPath(temp_ / "KVA00001" / "in.zip" / "Registry" / "b.reg") +
                              "'. (Error 32768)");
  EXPECT_FALSE(fs::exists(dir_.path() / "out.zip"));
  // The file before it was already rewritten in the working directory.
  EXPECT_EQ(ReadFile(temp_ / "KVA00001" / "in.zip" / "Registry" / "a.reg"),
            RegFile("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\r\n"));
}

TEST_F(MigrationE2eTest, NumbersWorkingDirectoriesAndKeepsThemOnRequest) {
  fs::create_directories(temp_ / "KVA00001");
  fs::create_directories(temp_ / "KVA00002");
  WriteTestZip(dir_.path() / "in.zip", {{"Desktop/a.txt", TestEntry::kFile, "a"}});
  const ToolResult result = Run({"/VERBOSE", "-NoCleanup"}, kNoRules);
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(Logged("[DEBUG] Created working directory '" + ToolPath(temp_ / "KVA00003") +
                     ToolSeparator() + "'"));
  EXPECT_EQ(ReadFile(temp_ / "KVA00003" / "in.zip" / "Desktop" / "a.txt"), "a");
  EXPECT_TRUE(fs::is_regular_file(temp_ / "KVA00003" / "in.log"));
}

TEST_F(MigrationE2eTest, FailuresStopBeforeAnyOutputAndCleanUp) {
  const auto with_reg_file = [&](const std::string& text) {
    WriteTestZip(dir_.path() / "in.zip", {{"Registry/a.reg", TestEntry::kFile, RegFile(text)}});
    return ReadFile(dir_.path() / "in.zip");
  };
  const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
  const struct {
    std::string name, input, xml;
    int status;
    std::string console_tail, log_line;
  } cases[] = {
      {"not a zip", "this is no archive", kNoRules, 13, "",
       "[FATAL] Failed to unzip input profile archive to working directory. (Error 13)"},
      {"malformed xml", "", "<migration><value action=set/></migration>", 87,
       "Specified migration XML file contains errors.\n",
       "[FATAL] Failed to parse migration XML file"},
      {"integer that is no number", "",
       "<m><value action='set' key='HKCU\\A' source='n' type='integer'>abc</value></m>", 5, "",
       "[DEBUG] Parsed .REG file '" + ToolPath(temp_ / "KVA00001/in.zip/Registry/a.reg") +
           "' successfully"},
      {"negative integer", "",
       "<m><value action='set' key='HKCU\\A' source='n' type='integer'>-1</value></m>", 10, "",
       "[INFO ] Parsed migration XML file successfully"},
      {"invalid key root", "", "<m><key action='create' source='hkcu\\x'/></m>", 87, "",
       "[INFO ] Parsed migration XML file successfully"},
      {"file content that is no Base64", "",
       "<m><file action='create' source='AppData\\x.bin'>not base64!</file></m>", 13, "",
       "[ERROR] ProcessFile: Failed to get length of decoded file 'AppData\\x.bin' content. "
       "(Error 13)"},
      {"string value without data",
       with_reg_file(header + "[HKEY_CURRENT_USER\\A]\r\n\"s\"=hex(1):\r\n\r\n"), kNoRules, 87, "",
       "[FATAL] Failed to export .REG file '" + ToolPath(temp_ / "KVA00001/in.zip/Registry/a.reg") +
           "'. (Error 87)"},
  };
  const std::string plain = with_reg_file(header);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir_.path() / "in.zip", c.input.empty() ? plain : c.input);
    const ToolResult result = Run({"/VERBOSE"}, c.xml);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.console, kBanner + c.console_tail);
    EXPECT_TRUE(Logged(c.log_line)) << c.log_line;
    EXPECT_FALSE(fs::exists(dir_.path() / "out.zip"));
    EXPECT_TRUE(fs::is_empty(temp_));
  }
}

TEST_F(MigrationE2eTest, HostileEntriesAreRefusedWithNothingWrittenOutside) {
  const fs::path outside = dir_.path() / "outside.txt";
  const struct {
    TestEntry hostile;
    std::string central_name;  // what listings show, when it is not the local header's name
  } cases[] = {
      {{"AppData/../../../outside.txt", TestEntry::kFile, "x"}, ""},
      {{outside.string(), TestEntry::kFile, "x"}, ""},
      {{"Z:" + outside.string(), TestEntry::kFile, "x"}, ""},
      {{"AppData/link", TestEntry::kSymlink, "../../../outside.txt"}, ""},
      {{"Registry/Smuggled.reg", TestEntry::kFile, "x"}, "Desktop/harmless1.txt"},
      {{"Desktop/outside1.txt", TestEntry::kFile, "x"}, "../../../outside.txt"},
      {{"Registry/a.reg\r\n[INFO ] Migrated .REG file 'x' successfully", TestEntry::kFile, "x"},
       ""},
      {{"Registry/a.reg:hidden", TestEntry::kFile, "x"}, ""},
  };
  for (const auto& [hostile, central_name] : cases) {
    SCOPED_TRACE(hostile.name);
    WriteTestZip(dir_.path() / "in.zip", {{"Desktop/a.txt", TestEntry::kFile, "a"}, hostile});
    if (!central_name.empty()) {
      std::string bytes = ReadFile(dir_.path() / "in.zip");
      PatchCentralName(&bytes, 1, central_name);
      WriteFile(dir_.path() / "in.zip", bytes);
    }
    const ToolResult result = Run({}, kNoRules);
    EXPECT_EQ(result.status, 13);
    EXPECT_EQ(Log().back(),
              "[FATAL] Failed to unzip input profile archive to working directory. (Error 13)");
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_FALSE(fs::exists(dir_.path() / "out.zip"));
    EXPECT_TRUE(fs::is_empty(temp_));
  }
}

// Every line of both logs is one the system wrote: line breaks from the archive (in the engine's
// log) or from a rule (in the tool's) are written escaped.
TEST_F(MigrationE2eTest, LineBreaksFromArchivesAndRulesStartNoLines) {
  const std::string forged = "2024-01-01 00:00:00.000 [INFO ] Migrated .REG file 'x' successfully";
  WriteTestZip(dir_.path() / "in.zip", {{"Registry/a.reg\r\n" + forged, TestEntry::kFile, "x"}});
  EXPECT_EQ(Run({"/nocleanup"}, kNoRules).status, 13);
  const std::string engine_log = ReadFile(temp_ / "KVA00001" / "in.log");
  EXPECT_NE(engine_log.find("refused entry 'Registry/a.reg\\r\\n" + forged + "' of "),
            std::string::npos)
      << engine_log;
  // One stamped line after another, and nothing else.
  static const std::regex kEngineLines(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [^\r\n]*\r\n)+)");
  EXPECT_TRUE(std::regex_match(engine_log, kEngineLines)) << engine_log;

  WriteTestZip(dir_.path() / "in.zip", {{"Desktop/a.txt", TestEntry::kFile, "a"}});
  const ToolResult result =
      Run({}, "<m><file action=\"zap&#13;&#10;" + forged + "\" source='Desktop\\a.txt'/></m>");
  EXPECT_EQ(result.status, 87);
  const Lines log = Log();  // fails on any line without a time stamp
  // Wine's XML reader makes blanks of the character references (CR and LF), as it should not: the
  // escaped form is checked on Linux, and no forged line appears on either build.
  if (!ToolIsWindows()) {
    EXPECT_EQ(log.back(), "[ERROR] ProcessFile: Unknown action 'zap\\r\\n" + forged + "'");
  }
  EXPECT_FALSE(Logged("[INFO ] Migrated .REG file 'x' successfully"));
}

// The named inputs are files: a FIFO (whose reads may never end) or a directory as the rules is
// refused before anything happens, and a symbolic link to a file is followed.
TEST_F(MigrationE2eTest, NamedInputsAreFilesOrLinksToFiles) {
  WriteTestZip(dir_.path() / "in.zip", {{"Desktop/a.txt", TestEntry::kFile, "a"}});
  WriteFile(dir_.path() / "rules.xml", kNoRules);
  fs::create_directory(dir_.path() / "folder");
  fs::create_symlink("in.zip", dir_.path() / "in-link.zip");
  fs::create_symlink("rules.xml", dir_.path() / "rules-link.xml");
  // Windows has no FIFOs in its file system.
  if (!ToolIsWindows()) {
    ASSERT_EQ(std::system(("mkfifo '" + (dir_.path() / "fifo").string() + "'").c_str()), 0);
  }
  const struct {
    std::string option, name;
    std::string what;  // what the refusal names; empty for a run that succeeds
  } cases[] = {
      {"/XML", "fifo", "Migration XML file"},
      {"/INPUT", "fifo", "Input profile archive"},
      {"/XML", "folder", "Migration XML file"},
      {"/XML", "rules-link.xml", ""},
      {"/INPUT", "in-link.zip", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option + " " + c.name);
    if (c.name == "fifo" && ToolIsWindows()) continue;
    std::vector<std::string> args = {"/XML",    "rules.xml", "/INPUT",   "in.zip",
                                     "/OUTPUT", "out.zip",   "/LOGFILE", "run.log"};
    *(std::find(args.begin(), args.end(), c.option) + 1) = c.name;
    fs::remove(dir_.path() / "out.zip");
    const ToolResult result = RunTool(args, dir_.path(), {"TMPDIR=" + temp_.string()});
    const std::string path = ToolPath(dir_.path() / c.name);
    if (c.what.empty()) {
      EXPECT_EQ(result.status, 0);
      EXPECT_TRUE(fs::exists(dir_.path() / "out.zip"));
    } else {
      EXPECT_EQ(result.status, 87);
      EXPECT_EQ(result.console, kBanner + c.what + " '" + path + "' is not a regular file.\n");
      EXPECT_EQ(Log().back(), "[FATAL] " + c.what + " '" + path + "' is not a regular file");
    }
    EXPECT_TRUE(fs::is_empty(temp_));
  }
}

// Comments and texts have no size limit; a rule after a 100 MB comment still applies.
TEST_F(MigrationE2eTest, HugeCommentsParse) {
  if (ToolIsWindows()) GTEST_SKIP() << "Wine 8's XmlLite faults on comments of a few hundred KB";
  WriteTestZip(dir_.path() / "in.zip", {{"Desktop/a.txt", TestEntry::kFile, "a"}});
  const ToolResult result = Run({}, "<m><!--" + std::string(100 << 20, 'c') +
                                        "--><file action='delete' source='Desktop\\a.txt'/></m>");
  EXPECT_EQ(result.status, 0) << result.console;
  EXPECT_FALSE(fs::exists(Unpacked() / "Desktop" / "a.txt"));
}

// Where a reader's chunks of the rule file end, no character of a rule is lost. Runs of two-,
// three- and four-byte characters cross the 4, 8, 16 and 64 KiB boundaries and the ends of the
// reads of Wine's XmlLite (8,188 bytes each: 8188, 16376, 65504), cut there at every split a
// character can have.
TEST_F(MigrationE2eTest, CharactersAcrossReadBoundariesArriveWhole) {
  const std::string run = "é€😀é€😀é€😀é€😀é€😀";  // 45 bytes
  const std::size_t starts[] = {
      4093,   // 4096 cuts € 1|2
      8184,   // 8188 cuts € 2|1, 8192 😀 3|1
      16369,  // 16376 cuts 😀 2|2, 16384 😀 1|3
      65499,  // € ends at 65504, 65536 cuts é 1|1
  };
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<migration><files>";
  std::vector<std::string> expected;
  for (const std::size_t start : starts) {
    const std::string name = std::to_string(start) + " " + run + ".txt";
    const std::string head =
        "<file action=\"create\" source=\"Desktop\\" + std::to_string(start) + " ";
    const std::size_t padding = start - xml.size() - head.size();
    ASSERT_GT(padding, 7u);  // a comment
    xml += "<!--" + std::string(padding - 7, '.') + "-->" + head;
    ASSERT_EQ(xml.size(), start);
    xml += run + ".txt\">QQ==</file>";
    expected.push_back("Desktop/" + name);
  }
  xml += "</files></migration>";
  std::sort(expected.begin(), expected.end());
  WriteTestZip(dir_.path() / "in.zip", {{"Desktop/a.txt", TestEntry::kFile, "a"}});
  const ToolResult result = Run({}, xml);
  ASSERT_EQ(result.status, 0) << result.console;
  std::vector<std::string> created;
  for (const CentralRecord& record : ReadCentralDirectory(ReadFile(dir_.path() / "out.zip"))) {
    if (record.name != "Desktop/" && record.name != "Desktop/a.txt") created.push_back(record.name);
  }
  std::sort(created.begin(), created.end());
  EXPECT_EQ(created, expected);
}

// A .reg file stored read-only is migrated all the same and stays read-only in the output.
TEST_F(MigrationE2eTest, ReadOnlyRegFilesMigrateAndStayReadOnly) {
  const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
  WriteTestZip(dir_.path() / "in.zip", {{"Registry/ro.reg", TestEntry::kFile,
                                         RegFile(header + "[HKEY_CURRENT_USER\\A]\r\n")},
                                        {"Registry/rw.reg", TestEntry::kFile, RegFile(header)}});
  std::string bytes = ReadFile(dir_.path() / "in.zip");
  Patch32(&bytes,
          ReadCentralDirectory(bytes).at(0).offset + engine::zip::kCentralExternalAttributes,
          0100444u << 16);
  WriteFile(dir_.path() / "in.zip", bytes);
  ASSERT_EQ(Run({}, kNoRules).status, 0);
  const std::vector<CentralRecord> out = ReadCentralDirectory(ReadFile(dir_.path() / "out.zip"));
  ASSERT_EQ(out.size(), 3u);  // Registry/ and its two files
  for (const CentralRecord& record : out) {
    SCOPED_TRACE(record.name);
    EXPECT_EQ((record.external_attributes >> 16) & 0222,
              record.name == "Registry/ro.reg" ? 0u : 0200u);
  }
  EXPECT_EQ(ReadFile(Unpacked() / "Registry" / "ro.reg"),
            RegFile(header + "[HKEY_CURRENT_USER\\A]\r\n\r\n"));
}

// The old output archive stays until the new one is complete: a pack that fails keeps it.
TEST_F(MigrationE2eTest, OverwriteReplacesTheOutputOnlyAtTheEnd) {
  WriteTestZip(dir_.path() / "in.zip", {{"Desktop/a.txt", TestEntry::kFile, "new"}});
  WriteFile(dir_.path() / "out.zip", "old output");
  // Every temporary name the packer may take beside the output is taken.
  for (int n = 1; n <= 100; ++n) {
    fs::create_directory(dir_.path() / ("out.zip." + std::to_string(n) + ".tmp"));
  }
  EXPECT_EQ(Run({"/OVERWRITE"}, kNoRules).status, 80);  // ERROR_FILE_EXISTS
  EXPECT_EQ(Log().back(), "[FATAL] Failed to create output profile archive. (Error 80)");
  EXPECT_EQ(ReadFile(dir_.path() / "out.zip"), "old output");
  fs::remove(dir_.path() / "out.zip.1.tmp");
  EXPECT_EQ(Run({"/OVERWRITE"}, kNoRules).status, 0);
  EXPECT_EQ(ReadFile(Unpacked() / "Desktop" / "a.txt"), "new");
}

TEST_F(MigrationE2eTest, ImportPlacesTheOutputForTheUser) {
  const std::string reg = RegFile(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\OrvexE2e]\r\n\"v\"=\"imported\"\r\n\r\n");
  WriteTestZip(dir_.path() / "in.zip", {{"AppData/OrvexE2e/a.ini", TestEntry::kFile, "a"},
                                        {"Registry/u.reg", TestEntry::kFile, reg}});
  if (!ToolIsWindows()) {
    const auto import_for = [&](const fs::path& home, const std::string& state = "") {
      return Run({"/IMPORT", "/OVERWRITE"}, kNoRules,
                 {"HOME=" + home.string(), "XDG_CONFIG_HOME=", "XDG_STATE_HOME=" + state,
                  "XDG_DATA_HOME="});
    };
    // A store below a file can be no folder.
    WriteFile(dir_.path() / "file", "");
    EXPECT_EQ(import_for(dir_.path() / "home", (dir_.path() / "file").string()).status, 255);
    EXPECT_EQ(Log().back(), "[FATAL] Failed to import output profile archive: the profile store '" +
                                (dir_.path() / "file" / "OrvexEngine").string() +
                                "' cannot be a folder. (Error 267)");
    const fs::path home = dir_.path() / "home";
    const ToolResult result = import_for(home);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(Logged("[INFO ] Imported output profile archive successfully"));
    // No Windows profile lives here: the engine's store takes it, never the live home folders.
    const fs::path store = home / ".local" / "state" / "OrvexEngine";
    EXPECT_EQ(ReadFile(store / "Profile" / "AppData" / "OrvexE2e" / "a.ini"), "a");
    EXPECT_EQ(ReadFile(store / "Registry" / "u.reg"), reg);
    EXPECT_FALSE(fs::exists(home / ".config"));
    return;
  }
  // The Windows program imports for the Wine prefix's user: into its folders and its registry.
  const fs::path appdata = WindowsFolder("%APPDATA%");
  const ToolResult result = Run({"/IMPORT"}, kNoRules);
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(Logged("[INFO ] Imported output profile archive successfully"));
  EXPECT_EQ(ReadFile(appdata / "OrvexE2e" / "a.ini"), "a");
  EXPECT_NE(WindowsShell("reg query HKCU\\Software\\OrvexE2e /v v").find("imported"),
            std::string::npos);
  fs::remove_all(appdata / "OrvexE2e");
  WindowsShell("reg delete HKCU\\Software\\OrvexE2e /f");
}

TEST_F(MigrationE2eTest, EightRunsAtOnceShareTheTemporaryFolder) {
  WriteTestZip(dir_.path() / "in.zip", {{"Desktop/a.txt", TestEntry::kFile, "a"}});
  WriteFile(dir_.path() / "rules.xml", kNoRules);
  {
    std::vector<std::jthread> runs;
    for (int i = 1; i <= 8; ++i) {
      runs.emplace_back([this, i] {
        const std::string out = "out" + std::to_string(i) + ".zip";
        RunTool({"/XML", "rules.xml", "/INPUT", "in.zip", "/OUTPUT", out}, dir_.path(),
                {"TMPDIR=" + temp_.string()});
      });
    }
  }
  for (int i = 1; i <= 8; ++i) {
    EXPECT_TRUE(fs::is_regular_file(dir_.path() / ("out" + std::to_string(i) + ".zip"))) << i;
  }
  EXPECT_TRUE(fs::is_empty(temp_));
}

// A signal in the middle of a run: the run stops at its next safe point, says where, removes what
// it made and exits as the signal would have it.
TEST_F(MigrationE2eTest, StopRequestsEndTheRunSoonAndCleanUp) {
  if (ToolIsWindows()) GTEST_SKIP() << "the Windows program hears console events, not signals";
  // Every step lasts long enough for a signal to arrive in it: 64 MiB for deflate, twenty .reg
  // files of 10,000 keys renamed back and forth forty times.
  std::mt19937 random(15);
  std::string data(64 << 20, 'a'), keys, rules = "<m>";
  for (char& c : data) c = static_cast<char>('a' + random() % 16);
  std::vector<TestEntry> entries = {{"AppData/data.txt", TestEntry::kFile, data}};
  for (int k = 0; k < 10000; ++k)
    keys += "[HKEY_CURRENT_USER\\Software\\K" + std::to_string(k) + "]\r\n\r\n";
  for (int f = 0; f < 20; ++f) {
    entries.push_back({"Registry/r" + std::to_string(f) + ".reg", TestEntry::kFile,
                       RegFile("Windows Registry Editor Version 5.00\r\n\r\n" + keys)});
    rules +=
        "<key action='rename' source='HKCU\\Software' destination='HKCU\\Other'/>"
        "<key action='rename' source='HKCU\\Other' destination='HKCU\\Software'/>";
  }
  WriteTestZip(dir_.path() / "in.zip", entries);
  WriteFile(dir_.path() / "rules.xml", rules + "</m>");
  const std::string input = ReadFile(dir_.path() / "in.zip");
  // Each moment is a file appearing, or a line in the engine's log.
  const fs::path engine_log = temp_ / "KVA00001" / "in.log",
                 temporary = dir_.path() / "out.zip.1.tmp";
  const struct {
    std::string signal, status, text, step;
    fs::path sign;
  } cases[] = {
      {"INT", "130", "Unzip: '", "unpacking the input profile archive", engine_log},
      {"TERM", "143", "Unzip: done", "migrating .REG files", engine_log},
      {"INT", "130", "", "packing the output profile archive", temporary},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal + " while " + c.step);
    fs::remove(dir_.path() / "pid");
    fs::remove(dir_.path() / "status");
    // The shell writes its process number and becomes the tool, in the foreground: a job started
    // in the background would begin with SIGINT ignored. Every file is written, so that packing
    // reads the large one back rather than copying it from the archive in a moment.
    const std::string command = "cd '" + dir_.path().string() +
                                "' && sh -c 'echo $$ >pid; exec env ORVEX_WRITE_ALL_ENTRIES=1 "
                                "TMPDIR=" +
                                temp_.string() + " " + ToolProgram() +
                                " /XML rules.xml /INPUT in.zip /OUTPUT out.zip /LOGFILE run.log' "
                                ">/dev/null; echo $? >status";
    std::jthread run([&command] { (void)std::system(command.c_str()); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (ReadFile(dir_.path() / "pid").empty() || !fs::exists(c.sign) ||
           ReadFile(c.sign).find(c.text) == std::string::npos) {
      ASSERT_FALSE(fs::exists(dir_.path() / "status")) << "the run ended before the moment came";
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the moment never came";
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(std::system(("kill -" + c.signal + " " + ReadFile(dir_.path() / "pid")).c_str()), 0);
    run.join();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(2));
    EXPECT_EQ(ReadFile(dir_.path() / "status"), c.status + "\n");
    EXPECT_EQ(Log().back(), "[FATAL] Migration stopped by the user while " + c.step);
    EXPECT_EQ(ListTree(dir_.path()),
              (Lines{"in.zip", "pid", "rules.xml", "run.log", "status", "tmp/"}));
    EXPECT_EQ(ReadFile(dir_.path() / "in.zip"), input);
  }
}

}  // namespace
}  // namespace orvex::testing
