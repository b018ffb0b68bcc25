#include "engine/engine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "engine/import.h"
#include "engine/piece_compressor.h"
#include "engine/registry_import.h"
#include "engine/testing/test_zip.h"
#include "engine/zip_format.h"
#include "platform/com.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell_folders.h"
#include "platform/text.h"
#include "regfile/reg_test_support.h"
#include "testing/matchers.h"
#include "testing/scoped_env.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

using orvex::testing::ListTree;
using orvex::testing::ReadFile;
using orvex::testing::TestEntry;
using orvex::testing::WriteFile;
using orvex::testing::WriteTestZip;
using Lines = std::vector<std::string>;

std::int64_t ModificationTime(const fs::path& path) {
  platform::FileAttributeData data;
  EXPECT_EQ(platform::GetFileAttributesEx(ToUtf16(path.string()), &data), ERROR_SUCCESS);
  return data.last_write_time;
}

constexpr std::u16string_view kRegHeader = u"Windows Registry Editor Version 5.00\r\n\r\n";

// A value as "type:bytes in hex", or which of the key and the value is missing.
std::string RegistryValue(platform::RegistryRoot root, std::u16string_view subkey,
                          std::u16string_view name) {
  platform::RegistryKey key;
  if (const auto error = platform::RegOpenKeyEx(root, subkey, platform::KEY_QUERY_VALUE, &key)) {
    return "no key " + std::to_string(error);
  }
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  if (const auto error = platform::RegQueryValueEx(key, name, &type, &data)) {
    return "no value " + std::to_string(error);
  }
  return std::to_string(type) + ":" + testing::HexText(data);
}

// Removes a test's registry keys before and after it.
struct ScopedRegistryKeys {
  ScopedRegistryKeys(platform::RegistryRoot r, std::vector<std::u16string> s)
      : root(r), subkeys(std::move(s)) {
    Remove();
  }
  ~ScopedRegistryKeys() { Remove(); }
  void Remove() const {
    for (const auto& subkey : subkeys) (void)platform::RegDeleteTree(root, subkey);
  }
  platform::RegistryRoot root;
  std::vector<std::u16string> subkeys;
};

constexpr auto kCurrentUser = platform::RegistryRoot::kCurrentUser;

TEST_F(EngineTest, InterfaceAnswersOnlyItsOwnIdentifiers) {
  void* object = engine_;
  EXPECT_HR(platform::E_NOINTERFACE, engine_->QueryInterface(CLSID_OrvexEngine, &object));
  EXPECT_EQ(object, nullptr);
  EXPECT_HR(E_INVALIDARG, engine_->Unzip(nullptr, nullptr, nullptr, nullptr));
}

TEST_F(EngineTest, ZipAndUnzipRoundTripATree) {
  const fs::path source = temp_.path() / "source";
  const std::string unicode =
      "AppData/Gr\xC3\xB6\xC3\x9F"
      "e \xE8\xA8\xAD\xE5\xAE\x9A.txt";  // also outside every ANSI code page
  WriteFile(source / fs::path(ToUtf16(unicode)), std::string(100'000, 'a'));
  WriteFile(source / "Desktop/empty.txt", "");
  fs::create_directories(source / "AppData/a/empty");
  for (const char* path : {"Desktop/empty.txt", "AppData/a"}) {
    ASSERT_EQ(platform::SetFileTime(ToUtf16((source / path).string()), 1'234'567'890),
              ERROR_SUCCESS);
  }
  const fs::path archive = temp_.path() / "profile.zip", target = temp_.path() / "target";
  ASSERT_HR(S_OK, Zip(source, archive));
  // ASCII names read the same in every code page; others need the UTF-8 flag.
  for (const auto& record : orvex::testing::ReadCentralDirectory(ReadFile(archive))) {
    EXPECT_EQ((record.flags & engine::zip::kFlagUtf8) != 0, record.name == unicode) << record.name;
  }

  ASSERT_HR(S_OK, Unzip(target, archive));
  EXPECT_EQ(ListTree(target), ListTree(source));
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    const fs::path copy = target / entry.path().lexically_relative(source);
    if (entry.is_regular_file()) {
      EXPECT_EQ(ReadFile(copy), ReadFile(entry.path())) << copy;
    }
    EXPECT_EQ(ModificationTime(copy), ModificationTime(entry.path())) << copy;
  }
}

TEST_F(EngineTest, FailedZipLeavesNoArchiveBehind) {
  const fs::path source = temp_.path() / "source", out = temp_.path() / "out";
  WriteFile(source / "a.txt", "a");
  fs::create_directories(out);
  EXPECT_HR(HResultFromWin32(ERROR_PATH_NOT_FOUND), Zip(source, temp_.path() / "no/p.zip"));
  EXPECT_HR(HResultFromWin32(ERROR_FILE_NOT_FOUND), Zip(temp_.path() / "none", out / "p.zip"));
#ifndef _WIN32  // the C++ library makes no symbolic links on Windows
  // A link is packed as itself, and the platform refuses to open one: the run fails on the first
  // such file in name order, while the workers hold the files around it.
  const fs::path broken = temp_.path() / "broken";
  WriteFile(broken / "a.txt", std::string(40 << 20, 'a'));
  fs::create_symlink("nowhere", broken / "b-link");
  WriteFile(broken / "c.txt", std::string(40 << 20, 'c'));
  fs::create_symlink("nowhere", broken / "d-link");
  fs::remove(log_);
  EXPECT_HR(HResultFromWin32(ERROR_GEN_FAILURE), Zip(broken, out / "p.zip"));
  EXPECT_EQ(LogLines(),
            (Lines{"Zip: '" + broken.string() + "' into '" + (out / "p.zip").string() + "'",
                   "Zip: cannot read '" + (broken / "b-link").string() + "' (Error 31)",
                   "Zip: failed (Error 31)"}));
#endif
  EXPECT_EQ(ListTree(out), Lines()) << "no archive, no temporary file";

  // An existing archive is replaced only on request.
  WriteFile(out / "p.zip", "old");
  EXPECT_HR(HResultFromWin32(ERROR_ALREADY_EXISTS), Zip(source, out / "p.zip", false));
  EXPECT_EQ(ListTree(out), Lines{"p.zip"});
  EXPECT_EQ(ReadFile(out / "p.zip"), "old");
  ASSERT_HR(S_OK, Zip(source, out / "p.zip", true));
  EXPECT_EQ(ListTree(out), Lines{"p.zip"});
  EXPECT_NE(ReadFile(out / "p.zip"), "old");
}

// Whether two files hold the same bytes, read a block at a time: some are larger than memory.
bool SameBytes(const fs::path& a, const fs::path& b) {
  std::ifstream in_a(a, std::ios::binary), in_b(b, std::ios::binary);
  std::string block_a(1 << 20, '\0'), block_b(1 << 20, '\0');
  while (in_a && in_b) {
    in_a.read(block_a.data(), block_a.size());
    in_b.read(block_b.data(), block_b.size());
    if (in_a.gcount() != in_b.gcount() || block_a != block_b) return false;
  }
  return in_a.eof() && in_b.eof();
}

TEST_F(EngineTest, PackedTreeIsCompleteAndValid) {
  const struct {
    const char* name;
    bool heavy;  // too slow under Wine
    bool again;  // packed a second time on another number of threads
    std::function<void(const fs::path&)> make;
  } cases[] = {
      {"empty", false, true, [](const fs::path& root) { fs::create_directories(root); }},
      // More entries than the end record counts.
      {"many small files", true, true,
       [](const fs::path& root) {
         for (int i = 0; i < 70'000; ++i) {
           WriteFile(root / std::to_string(i % 100) / (std::to_string(i) + ".txt"),
                     std::to_string(i));
         }
       }},
      // Each larger than one compressed piece.
      {"incompressible and compressible", false, true,
       [](const fs::path& root) {
         std::mt19937 random(1);
         std::string noise(engine::kPieceSize + (8 << 20), '\0');
         for (char& c : noise) c = static_cast<char>(random());
         WriteFile(root / "noise.bin", noise);
         std::string text;
         for (int i = 0; text.size() < 2 * engine::kPieceSize + (6 << 20); ++i) {
           text += "line " + std::to_string(i % 9973);
         }
         WriteFile(root / "text.log", text);
       }},
      // Sparse, past what 32-bit sizes hold (ZIP64), with data where pieces meet and at the end;
      // packed once only, for the time it takes.
      {"over 4 GiB", true, false,
       [](const fs::path& root) {
         const fs::path path = root / "huge.bin";
         WriteFile(path, "start");
         fs::resize_file(path, (4ull << 30) + 5);
         std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
         file.seekp(engine::kPieceSize - 3);
         file << "across";
         file.seekp((4ull << 30));
         file << "end";
       }},
  };
  const fs::path source = temp_.path() / "source", target = temp_.path() / "target";
  const fs::path archive = temp_.path() / "p.zip", again = temp_.path() / "again.zip";
  const testing::ScopedEnv limit("ORVEX_MAX_UNPACKED_BYTES", "100000000000");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
#ifdef _WIN32
    if (c.heavy) continue;
#endif
    c.make(source);
    ASSERT_HR(S_OK, Zip(source, archive));
    if (c.again) {
      const testing::ScopedEnv threads("ORVEX_ZIP_THREADS", "3");
      ASSERT_HR(S_OK, Zip(source, again));
      EXPECT_TRUE(SameBytes(archive, again)) << "the same archive whatever the number of threads";
    }
#ifndef _WIN32
    // unzip calls an archive without entries a warning.
    if (!fs::is_empty(source)) {
      EXPECT_EQ(std::system(("unzip -tqq '" + archive.string() + "'").c_str()), 0);
    }
    EXPECT_EQ(std::system(("bsdtar -tf '" + archive.string() + "' >/dev/null").c_str()), 0);
#endif
    ASSERT_HR(S_OK, Unzip(target, archive));
    EXPECT_EQ(ListTree(target), ListTree(source));
    for (const auto& entry : fs::recursive_directory_iterator(source)) {
      const fs::path copy = target / entry.path().lexically_relative(source);
      if (entry.is_regular_file()) {
        EXPECT_TRUE(SameBytes(entry.path(), copy)) << copy;
      }
    }
    fs::remove_all(source);
    fs::remove_all(target);
  }
}

TEST_F(EngineTest, UnzipReadsCodePageNamesAndEveryOperationLogsItsOutcome) {
  const fs::path source = temp_.path() / "s", archive = temp_.path() / "a.zip";
  WriteFile(source / "d/f.txt", "12345");
  ASSERT_HR(S_OK, Zip(source, archive));
  // Names in the PC code page (no UTF-8 flag) and with "\\" separators; only the directory the
  // archive names is counted.
  const fs::path cp437 = temp_.path() / "cp437.zip", target = temp_.path() / "t";
  WriteTestZip(cp437,
               {{"caf\xC3\xA9.txt", TestEntry::kFile, "latte"},
                {"dir\\sub\\f.txt", TestEntry::kFile, "deep"},
                {"empty/", TestEntry::kDirectory, ""}},
               "CP437");
  ASSERT_EQ(orvex::testing::ReadCentralDirectory(ReadFile(cp437))[0].name, "caf\x82.txt");
  ASSERT_HR(S_OK, Unzip(target, cp437));
  EXPECT_EQ(ListTree(target),
            (Lines{"caf\xC3\xA9.txt", "dir/", "dir/sub/", "dir/sub/f.txt", "empty/"}));
  const fs::path missing = temp_.path() / "x.zip";
  EXPECT_HR(HResultFromWin32(ERROR_FILE_NOT_FOUND), Unzip(target, missing));
  // Far more than the default limits allow for an archive this small: refused before writing.
  const fs::path huge = temp_.path() / "huge.zip", untouched = temp_.path() / "u";
  WriteTestZip(huge, {{"small.txt", TestEntry::kFile, "tiny"}});
  std::string bytes = ReadFile(huge);
  orvex::testing::PatchUncompressedSize(&bytes, 0, 0xFFFFFFF0u);
  WriteFile(huge, bytes);
  EXPECT_HR(HResultFromWin32(ERROR_INVALID_DATA), Unzip(untouched, huge));
  EXPECT_EQ(ListTree(untouched), Lines());

  const std::string a = archive.string(), t = target.string(), h = huge.string();
  EXPECT_EQ(LogLines(),
            (Lines{
                "Zip: '" + source.string() + "' into '" + a + "'",
                "Zip: done: 1 files, 1 directories, 5 bytes",
                "Unzip: '" + cp437.string() + "' into '" + t + "'",
                "Unzip: done: 2 files, 1 directories, 9 bytes",
                "Unzip: '" + missing.string() + "' into '" + t + "'",
                "Unzip: cannot open archive '" + missing.string() + "' (Error 2)",
                "Unzip: failed (Error 2)",
                "Unzip: '" + h + "' into '" + untouched.string() + "'",
                "Unzip: refused archive '" + h +
                    "': it unpacks to more than 268435456 bytes, the limit for its size "
                    "(ORVEX_MAX_UNPACKED_BYTES sets another); possible archive bomb",
                "Unzip: failed (Error 13)",
            }));
}

TEST_F(EngineTest, EnvironmentReplacesTheBombLimits) {
  const fs::path archive = temp_.path() / "a.zip";
  WriteTestZip(archive, {{"a", TestEntry::kFile, "four"}, {"b", TestEntry::kFile, "four"}});
  const struct {
    const char *name, *value;
    HRESULT hr;
    std::string line;
  } cases[] = {
      {"ORVEX_MAX_ENTRIES", "1", HResultFromWin32(ERROR_INVALID_DATA), "more than 1 entries, the"},
      {"ORVEX_MAX_UNPACKED_BYTES", "7", HResultFromWin32(ERROR_INVALID_DATA), "than 7 bytes, the"},
      {"ORVEX_MAX_UNPACKED_BYTES", "8", S_OK, "Unzip: done: 2 files"},
      {"ORVEX_MAX_ENTRIES", "1e6", E_INVALIDARG,
       "Unzip: failed: ORVEX_MAX_ENTRIES='1e6' is not a whole number above 0 (Error 87)"},
  };
  for (const auto& c : cases) {
    const orvex::testing::ScopedEnv limit(c.name, c.value);
    fs::remove(log_);
    EXPECT_HR(c.hr, Unzip(temp_.path() / "t", archive)) << c.value;
    EXPECT_NE(ReadFile(log_).find(c.line), std::string::npos) << ReadFile(log_);
  }
}

#ifndef _WIN32  // Windows imports into the user's own folders and registry
TEST_F(EngineTest, ImportPlacesTokenFoldersAndRegistryFiles) {
  const fs::path home = temp_.path() / "home";
  testing::ScopedEnv home_env("HOME", home.string());
  testing::ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
  testing::ScopedEnv data("XDG_DATA_HOME", (temp_.path() / "data").string());
  testing::ScopedEnv state("XDG_STATE_HOME", (temp_.path() / "state").string());
  WriteFile(home / ".config/Vendor/a.ini", "old settings");

  const fs::path archive = temp_.path() / "p.zip";
  WriteTestZip(archive, {{"AppData/", TestEntry::kDirectory, ""},
                         {"AppData/Vendor/a.ini", TestEntry::kFile, "new settings"},
                         {"LocalAppData/Cache/c.bin", TestEntry::kFile, "c"},
                         {"Desktop/x.lnk", TestEntry::kFile, "x"},
                         {"Personal/", TestEntry::kDirectory, ""},
                         {"UserProfile/.profile", TestEntry::kFile, "p"},
                         {"Registry/HKCU_Software.reg", TestEntry::kFile, "reg"},
                         {"Registry/sub/nested.reg", TestEntry::kFile, "left out"},
                         {"Registry/notes.txt", TestEntry::kFile, "left out"},
                         {"appdata/y.txt", TestEntry::kFile, "left out: tokens match exactly"},
                         {"Other/z.txt", TestEntry::kFile, "left out"}});
  // Import writes to the log of the engine's last operation.
  ASSERT_HR(S_OK, Unzip(temp_.path() / "unpacked", archive));
  std::int32_t count = 0;
  EXPECT_HR(S_OK,
            engine_->Import(MakeBstr(u"-r \"" + ToUtf16(archive.string()) + u"\"").get(), &count));
  EXPECT_EQ(count, 5);

  // The live home and data folders are left as they were.
  EXPECT_EQ(ListTree(home), (Lines{".config/", ".config/Vendor/", ".config/Vendor/a.ini"}));
  EXPECT_EQ(ReadFile(home / ".config/Vendor/a.ini"), "old settings");
  EXPECT_FALSE(fs::exists(temp_.path() / "data"));
  EXPECT_EQ(ListTree(temp_.path() / "state/OrvexEngine"),
            (Lines{"Profile/", "Profile/AppData/", "Profile/AppData/Vendor/",
                   "Profile/AppData/Vendor/a.ini", "Profile/Desktop/", "Profile/Desktop/x.lnk",
                   "Profile/LocalAppData/", "Profile/LocalAppData/Cache/",
                   "Profile/LocalAppData/Cache/c.bin", "Profile/Personal/", "Profile/UserProfile/",
                   "Profile/UserProfile/.profile", "Registry/", "Registry/HKCU_Software.reg",
                   "import.lock"}));

  EXPECT_EQ(LogLines().back(), "Import: done: 5 files, 2 directories, 4 entries left out");
}
#else  // Windows imports into the user's own folders and registry
class WindowsImportTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_HR(S_OK, platform::SHGetFolderPath(platform::CSIDL_APPDATA, nullptr, 0, &appdata_));
    fs::create_directories(staging_);
  }
  std::u16string appdata_;
  // The registry files are unpacked below the temporary folder, which is the test's own here.
  fs::path staging_ = temp_.path() / "tmp";
  testing::ScopedEnv tmp_{"TMP", staging_.string()};
};

TEST_F(WindowsImportTest, ImportPlacesTokenFoldersAndWritesRegistryValues) {
  const ScopedRegistryKeys keys(kCurrentUser, {u"Software\\OrvexEngineTest\\Values"});
  const fs::path folder = fs::path(appdata_) / "OrvexEngineTest-Values";
  const std::u16string values = std::u16string(kRegHeader) +
                                u"[HKEY_CURRENT_USER\\Software\\OrvexEngineTest\\Values]\r\n"
                                u"@=\"d\"\r\n\"Empty\"=\"\"\r\n\"Expand\"=hex(2):25,00,00,00\r\n"
                                u"\"Binary\"=hex:de,ad\r\n"
                                u"\"Number\"=dword:0000002a\r\n\"Short\"=hex(4):01,02\r\n"
                                u"\"Multi\"=hex(7):61,00,00,00,00,00\r\n"
                                u"\"Quad\"=hex(b):01,02,03,04,05,06,07,08\r\n\"None\"=hex(0):\r\n"
                                u"\"Unended\"=hex(1):41,00\r\n\"Custom\"=hex(1234):00\r\n\r\n"
                                u"[hkcu\\Software\\\\OrvexEngineTest\\Values\\Sub\\]\r\n"
                                u"\"x\"=dword:00000001\r\n\r\n"
                                u"[HKEY_CURRENT_USER\\Software\\OrvexEngineTest\\Values\\None]\r\n";
  const fs::path archive = temp_.path() / "p.zip";
  WriteTestZip(archive, {{"AppData/OrvexEngineTest-Values/a.ini", TestEntry::kFile, "settings"},
                         {"Registry/values.reg", TestEntry::kFile, testing::RegFileBytes(values)},
                         {"Registry/notes.txt", TestEntry::kFile, "left out"}});
  ASSERT_HR(S_OK, Unzip(temp_.path() / "unpacked", archive));
  std::int32_t count = 0;
  EXPECT_HR(S_OK, Import(archive, &count));
  EXPECT_EQ(count, 2);
  EXPECT_EQ(ReadFile(folder / "a.ini"), "settings");
  fs::remove_all(folder);

  // Every value arrives with the type and the very bytes the file gives.
  const std::u16string key = u"Software\\OrvexEngineTest\\Values";
  const struct {
    std::u16string subkey, name;
    std::string expected;
  } cases[] = {
      {key, u"", "1:64000000"},
      {key, u"Empty", "1:0000"},
      {key, u"Expand", "2:25000000"},
      {key, u"Binary", "3:dead"},
      {key, u"Number", "4:2a000000"},
      {key, u"Short", "4:0102"},
      {key, u"Multi", "7:610000000000"},
      {key, u"Quad", "11:0102030405060708"},
      {key, u"None", "0:"},
      {key, u"Custom", "4660:00"},
      {key + u"\\Sub", u"x", "4:01000000"},
      {key + u"\\None", u"", "no value 2"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RegistryValue(kCurrentUser, c.subkey, c.name), c.expected) << ToUtf8(c.name);
  }
  // Also where the memory after text without its NUL happens to hold one.
  const std::uint8_t unended[] = {0x41, 0x00, 0x00, 0x00};
  platform::RegistryKey written;
  ASSERT_EQ(platform::RegCreateKeyEx(kCurrentUser, key, platform::KEY_SET_VALUE, &written), 0u);
  ASSERT_EQ(platform::RegSetValueEx(written, u"Unended", REG_SZ, std::span(unended, 2)), 0u);
  EXPECT_EQ(RegistryValue(kCurrentUser, key, u"Unended"), "1:4100");
  const Lines log = LogLines();
  EXPECT_EQ(Lines(log.end() - 3, log.end()),
            (Lines{"Import: AppData -> '" + ToUtf8(appdata_) + "'",
                   "Import: 'values.reg' -> registry: 3 keys, 12 values",
                   "Import: done: 2 files, 0 directories, 1 entries left out"}));
  EXPECT_EQ(ListTree(staging_), Lines()) << "the unpacked registry files are removed";
}

TEST_F(WindowsImportTest, ImportThatCannotTakeARegistryFileChangesNothing) {
  const ScopedRegistryKeys keys(kCurrentUser, {u"Software\\OrvexEngineTest\\Refused"});
  const fs::path folder = fs::path(appdata_) / "OrvexEngineTest-Refused";
  const std::string good = testing::RegFileBytes(
      std::u16string(kRegHeader) +
      u"[HKEY_CURRENT_USER\\Software\\OrvexEngineTest\\Refused]\r\n\"x\"=dword:00000001\r\n");
  const struct {
    std::string bad;
    HRESULT expected;
    std::string line;
  } cases[] = {
      {testing::RegFileBytes(std::u16string(kRegHeader) + u"[HKEY_USERS\\.DEFAULT\\x]\r\n"),
       HResultFromWin32(ERROR_INVALID_DATA),
       "Import: refused key 'HKEY_USERS\\.DEFAULT\\x' of 'b.reg': only HKEY_CURRENT_USER and "
       "HKEY_LOCAL_MACHINE are imported"},
      {"REGEDIT4\r\n", E_NOTIMPL, "Import: cannot read registry file 'b.reg' (Error 16385)"},
  };
  const fs::path archive = temp_.path() / "p.zip";
  for (const auto& c : cases) {
    fs::remove_all(folder);
    WriteTestZip(archive, {{"AppData/OrvexEngineTest-Refused/a.ini", TestEntry::kFile, "a"},
                           {"Registry/a.reg", TestEntry::kFile, good},
                           {"Registry/b.reg", TestEntry::kFile, c.bad}});
    ASSERT_HR(S_OK, Unzip(temp_.path() / "unpacked", archive));
    std::int32_t count = 0;
    EXPECT_HR(c.expected, Import(archive, &count));
    const Lines log = LogLines();
    EXPECT_EQ(
        Lines(log.end() - 2, log.end()),
        (Lines{c.line, "Import: failed (Error " + std::to_string(LowWord(c.expected)) + ")"}));
    EXPECT_FALSE(fs::exists(folder)) << c.line;
    EXPECT_EQ(RegistryValue(kCurrentUser, u"Software\\OrvexEngineTest\\Refused", u"x"), "no key 2");
    EXPECT_EQ(ListTree(staging_), Lines());
  }
}

TEST_F(WindowsImportTest, EpilogueMarkerArrivesLastOrNotAtAll) {
  const std::u16string marker = u"Software\\Quenlar\\Orvex Zoravudi\\ImportMarkers";
  const ScopedRegistryKeys keys(kCurrentUser, {marker, u"Software\\OrvexEngineTest\\Markers"});
  // As the tool writes a file: the marker key's first section opens it, its last one closes it.
  const std::u16string section = u"[HKEY_CURRENT_USER\\" + marker + u"]\r\n";
  const struct {
    std::u16string key;  // a key name over 255 characters cannot be created
    HRESULT expected;
    std::string post;
  } cases[] = {
      {u"Software\\OrvexEngineTest\\Markers", S_OK, "4:01000000"},
      {u"Software\\OrvexEngineTest\\Markers\\" + std::u16string(300, u'k'),
       HResultFromWin32(ERROR_INVALID_PARAMETER), "no value 2"},
  };
  const fs::path path = temp_.path() / "markers.reg";
  for (const auto& c : cases) {
    keys.Remove();
    WriteFile(path, testing::RegFileBytes(std::u16string(kRegHeader) + section +
                                          u"\"Pre\"=dword:00000001\r\n[HKEY_CURRENT_USER\\" +
                                          c.key + u"]\r\n" + section + u"\"Post\"=dword:1\r\n"));
    engine::EngineLog log(ToUtf16(log_.string()));
    engine::RegistryImporter importer;
    ASSERT_HR(S_OK, importer.Read(ToUtf16(path.string()), u"markers.reg", log));
    EXPECT_HR(c.expected, importer.Write(log));
    EXPECT_EQ(RegistryValue(kCurrentUser, marker, u"Pre"), "4:01000000");
    EXPECT_EQ(RegistryValue(kCurrentUser, marker, u"Post"), c.post);
  }
}
#endif

TEST_F(EngineTest, RegistryImporterTakesLocalMachineKeysOnlyWhereItMayWriteThem) {
  const std::u16string key = u"Software\\OrvexEngineTest\\Machine";
  const ScopedRegistryKeys keys(platform::RegistryRoot::kLocalMachine, {key});
  const fs::path path = temp_.path() / "machine.reg";
  // Two keys of the machine's, and one question.
  const std::u16string file = std::u16string(kRegHeader) + u"[HKEY_LOCAL_MACHINE\\" + key +
                              u"]\r\n\"x\"=dword:00000001\r\n[HKLM\\" + key + u"\\Sub]\r\n";
  WriteFile(path, testing::RegFileBytes(file));
  for (const bool may_write : {false, true}) {
    int asked = 0;
    engine::RegistryImporter importer([&] {
      ++asked;
      return may_write;
    });
    engine::EngineLog log(ToUtf16(log_.string()));
    EXPECT_HR(may_write ? S_OK : HResultFromWin32(ERROR_ACCESS_DENIED),
              importer.Read(ToUtf16(path.string()), u"machine.reg", log));
    EXPECT_EQ(asked, 1);
    if (may_write && platform::HasRegistry()) {
      ASSERT_HR(S_OK, importer.Write(log));
      EXPECT_EQ(RegistryValue(platform::RegistryRoot::kLocalMachine, key, u"x"), "4:01000000");
    }
  }
  EXPECT_EQ(LogLines().front(),
            "Import: refused key 'HKEY_LOCAL_MACHINE\\Software\\OrvexEngineTest\\Machine' of "
            "'machine.reg': this process may not write HKEY_LOCAL_MACHINE");
}

TEST_F(EngineTest, ImportCommandLineIsOptionRAndOnePath) {
  const struct {
    std::u16string line;
    HRESULT expected;
    std::u16string archive;
  } cases[] = {
      {u"-r \"/out/my p.zip\"", S_OK, u"/out/my p.zip"},
      {u"  -r\t/out/p.zip  ", S_OK, u"/out/p.zip"},
      {u"-r \"\"", E_INVALIDARG, u""},
      {u"-r", E_INVALIDARG, u""},
      {u"-x \"/out/p.zip\"", E_INVALIDARG, u""},
      {u"-r \"/out/p.zip", E_INVALIDARG, u""},
      {u"-r /a /b", E_INVALIDARG, u""},
  };
  for (const auto& c : cases) {
    std::u16string archive;
    EXPECT_HR(c.expected, engine::ParseImportCommandLine(c.line, &archive));
    EXPECT_EQ(archive, c.archive);
  }
  EXPECT_HR(E_INVALIDARG, engine_->Import(MakeBstr(std::u16string(u"-r")).get(), nullptr));
}

}  // namespace
}  // namespace orvex
