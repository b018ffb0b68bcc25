#include "engine/engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/import.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "testing/matchers.h"
#include "testing/scoped_env.h"
#include "testing/temp_dir.h"
#include "testing/test_zip.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

using orvex::testing::ListTree;
using orvex::testing::ReadFile;
using orvex::testing::TestEntry;
using orvex::testing::WriteFile;
using orvex::testing::WriteTestZip;
using Lines = std::vector<std::string>;

// A COM string that frees itself.
using Bstr = std::unique_ptr<char16_t, decltype(&platform::SysFreeString)>;
Bstr MakeBstr(const std::u16string& text) {
  return Bstr(platform::SysAllocString(text.c_str()), &platform::SysFreeString);
}
Bstr MakeBstr(const fs::path& path) { return MakeBstr(ToUtf16(path.string())); }

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HR(S_OK, platform::CoInitializeEx(nullptr, platform::COINIT_APARTMENTTHREADED));
    ASSERT_HR(S_OK, RegisterOrvexEngine());
    void* object = nullptr;
    ASSERT_HR(S_OK, platform::CoCreateInstance(CLSID_OrvexEngine, nullptr, platform::CLSCTX_ALL,
                                               IID_IOrvexEngine, &object));
    engine_ = static_cast<IOrvexEngine*>(object);
  }
  void TearDown() override {
    if (engine_ != nullptr) engine_->Release();
    platform::CoUninitialize();
  }

  HRESULT Unzip(const fs::path& target, const fs::path& archive) {
    std::int32_t count = 0;
    return engine_->Unzip(MakeBstr(target).get(), MakeBstr(archive).get(), MakeBstr(log_).get(),
                          &count);
  }
  HRESULT Zip(const fs::path& source, const fs::path& archive, bool replace = true) {
    std::int32_t count = 0;
    return engine_->Zip(MakeBstr(source).get(), MakeBstr(archive).get(), MakeBstr(log_).get(),
                        replace ? platform::VARIANT_TRUE : platform::VARIANT_FALSE, &count);
  }

  // The log's lines without their time stamps; lines end in "\r\n", so a bare "\n" costs a letter.
  Lines LogLines() const {
    Lines lines;
    std::istringstream log(ReadFile(log_));
    for (std::string line; std::getline(log, line);)
      lines.push_back(line.substr(20, line.size() - 21));
    return lines;
  }

  orvex::testing::ScopedTempDir temp_;
  fs::path log_ = temp_.path() / "engine.log";
  IOrvexEngine* engine_ = nullptr;
};

std::int64_t ModificationTime(const fs::path& path) {
  platform::FileAttributeData data;
  EXPECT_EQ(platform::GetFileAttributesEx(ToUtf16(path.string()), &data), ERROR_SUCCESS);
  return data.last_write_time;
}

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
      "e.txt";
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
    EXPECT_EQ((record.flags & 0x800) != 0, record.name == unicode) << record.name;
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
  const fs::path broken = temp_.path() / "broken";
  WriteFile(broken / "a.txt", "a");
  // A link is packed as itself, and the platform refuses to open one: the run fails midway.
  fs::create_symlink("nowhere", broken / "b-link");
  EXPECT_TRUE(FAILED(Zip(broken, out / "p.zip")));
#endif
  EXPECT_EQ(ListTree(out), Lines()) << "no archive, no temporary file";

  // An existing archive is replaced only on request.
  WriteFile(out / "p.zip", "old");
  EXPECT_HR(HResultFromWin32(ERROR_FILE_EXISTS), Zip(source, out / "p.zip", false));
  EXPECT_EQ(ListTree(out), Lines{"p.zip"});
  EXPECT_EQ(ReadFile(out / "p.zip"), "old");
  ASSERT_HR(S_OK, Zip(source, out / "p.zip", true));
  EXPECT_EQ(ListTree(out), Lines{"p.zip"});
  EXPECT_NE(ReadFile(out / "p.zip"), "old");
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
                    "': it unpacks to more than 268435456 bytes, the limit for its size; "
                    "possible archive bomb",
                "Unzip: failed (Error 13)",
            }));
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

  EXPECT_EQ(ListTree(home), (Lines{".config/", ".config/Vendor/", ".config/Vendor/a.ini",
                                   ".profile", "Desktop/", "Desktop/x.lnk", "Documents/"}));
  EXPECT_EQ(ReadFile(home / ".config/Vendor/a.ini"), "new settings");
  EXPECT_EQ(ReadFile(temp_.path() / "data/Cache/c.bin"), "c");
  EXPECT_EQ(ListTree(temp_.path() / "state"), (Lines{"OrvexEngine/", "OrvexEngine/Registry/",
                                                     "OrvexEngine/Registry/HKCU_Software.reg"}));

  EXPECT_EQ(LogLines().back(), "Import: done: 5 files, 2 directories, 4 entries left out");
}
#endif

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
