#include "engine/engine.h"

#include <archive.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/text.h"
#include "engine/import.h"
#include "platform/platform.h"
#include "testing/matchers.h"
#include "testing/scoped_env.h"
#include "testing/temp_dir.h"
#include "testing/test_zip.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

using orvex::testing::ListTree;
using orvex::testing::ReadCentralDirectory;
using orvex::testing::ReadFile;
using orvex::testing::TestEntry;
using orvex::testing::WriteFile;
using orvex::testing::WriteTestZip;

// A COM string that frees itself.
class Bstr {
 public:
  explicit Bstr(const fs::path& path)
      : text_(platform::SysAllocString(ToUtf16(path.string()).c_str())) {}
  explicit Bstr(const std::u16string& text) : text_(platform::SysAllocString(text.c_str())) {}
  ~Bstr() { platform::SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator platform::BSTR() const { return text_; }

 private:
  platform::BSTR text_;
};

// Sets (or with nullopt unsets) an environment variable for the length of a test.

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HR(S_OK, RegisterOrvexEngine());
    void* object = nullptr;
    ASSERT_HR(S_OK, platform::CoCreateInstance(CLSID_OrvexEngine, nullptr, platform::CLSCTX_ALL,
                                               IID_IOrvexEngine, &object));
    engine_ = static_cast<IOrvexEngine*>(object);
  }
  void TearDown() override {
    if (engine_ != nullptr) engine_->Release();
  }

  HRESULT Unzip(const fs::path& target, const fs::path& archive) {
    std::int32_t count = 0;
    return engine_->Unzip(Bstr(target), Bstr(archive), Bstr(log_), &count);
  }
  HRESULT Zip(const fs::path& source, const fs::path& archive, bool replace = true) {
    std::int32_t count = 0;
    return engine_->Zip(Bstr(source), Bstr(archive), Bstr(log_),
                        replace ? platform::VARIANT_TRUE : platform::VARIANT_FALSE, &count);
  }

  // The log's lines without their time stamps.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    const std::string text = ReadFile(log_);
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = text.find("\r\n", start);
      if (end == std::string::npos) break;
      lines.push_back(text.substr(start + 20, end - start - 20));
      start = end + 2;
    }
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

void SetModificationTime(const fs::path& path, std::int64_t time) {
  ASSERT_EQ(platform::SetFileTime(ToUtf16(path.string()), time), ERROR_SUCCESS);
}

TEST_F(EngineTest, InterfaceAnswersOnlyItsOwnIdentifiers) {
  void* object = nullptr;
  EXPECT_HR(S_OK, engine_->QueryInterface(platform::IID_IUnknown, &object));
  EXPECT_EQ(object, engine_);
  engine_->Release();
  EXPECT_HR(platform::E_NOINTERFACE, engine_->QueryInterface(CLSID_OrvexEngine, &object));
  EXPECT_EQ(object, nullptr);
  EXPECT_HR(platform::E_NOINTERFACE,
            platform::CoCreateInstance(CLSID_OrvexEngine, nullptr, platform::CLSCTX_ALL,
                                       CLSID_OrvexEngine, &object));
  EXPECT_HR(E_NOTIMPL, engine_->Reserved1());
  EXPECT_HR(E_NOTIMPL, engine_->Reserved4());
  EXPECT_HR(E_INVALIDARG, engine_->Unzip(nullptr, nullptr, nullptr, nullptr));
}

TEST_F(EngineTest, ZipAndUnzipRoundTripATree) {
  const fs::path source = temp_.path() / "source";
  std::string noise(3 << 20, '\0');
  std::mt19937 random(7);
  for (char& c : noise) c = static_cast<char>(random());
  const std::string text(100'000, 'a');
  WriteFile(source / "Registry/HKCU.reg", "\xFF\xFEW\0i\0n\0");
  WriteFile(source /
                "AppData/Gr\xC3\xB6\xC3\x9F"
                "e/\xE6\x96\x87\xE6\x9B\xB8.txt",
            text);
  WriteFile(source / "AppData/b/noise.bin", noise);
  WriteFile(source / "Desktop/empty.txt", "");
  fs::create_directories(source / "AppData/a/deep/empty");
  fs::create_directories(source / "Personal");
  SetModificationTime(source / "AppData/b/noise.bin", 1'234'567'890);
  SetModificationTime(source / "AppData/a/deep/empty", 1'111'111'111);

  const fs::path archive = temp_.path() / "out" / "profile.zip";
  fs::create_directories(archive.parent_path());
  ASSERT_HR(S_OK, Zip(source, archive));

  // Names in name order, directories as entries of their own, stored or deflated by content.
  const std::vector<orvex::testing::CentralRecord> records =
      ReadCentralDirectory(ReadFile(archive));
  std::vector<std::string> names;
  for (const auto& r : records) names.push_back(r.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"AppData/", "AppData/a/", "AppData/a/deep/",
                                      "AppData/a/deep/empty/", "AppData/b/", "AppData/b/noise.bin",
                                      "AppData/Gr\xC3\xB6\xC3\x9F"
                                      "e/",
                                      "AppData/Gr\xC3\xB6\xC3\x9F"
                                      "e/\xE6\x96\x87\xE6\x9B\xB8.txt",
                                      "Desktop/", "Desktop/empty.txt", "Personal/", "Registry/",
                                      "Registry/HKCU.reg"}));
  for (const auto& r : records) {
    // ASCII reads the same in every code page; other names need the UTF-8 flag.
    const bool ascii = std::all_of(r.name.begin(), r.name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    EXPECT_EQ((r.flags & 0x800) != 0, !ascii) << r.name;
    if (r.name == "AppData/b/noise.bin") {
      EXPECT_EQ(r.method, 0) << "random data is stored";
    } else if (r.name.ends_with(".txt") && r.uncompressed_size > 0) {
      EXPECT_EQ(r.method, 8) << r.name;
    }
  }
  EXPECT_LT(fs::file_size(archive), noise.size() + 20'000);

  const fs::path target = temp_.path() / "target";
  ASSERT_HR(S_OK, Unzip(target, archive));
  EXPECT_EQ(ListTree(target), ListTree(source));
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    const fs::path copy = target / entry.path().lexically_relative(source);
    if (entry.is_regular_file()) {
      EXPECT_EQ(ReadFile(copy), ReadFile(entry.path())) << copy;
    }
    EXPECT_EQ(ModificationTime(copy), ModificationTime(entry.path())) << copy;
  }
  EXPECT_EQ(ModificationTime(target / "AppData/b/noise.bin"), 1'234'567'890);
}

TEST_F(EngineTest, FailedZipLeavesNoArchiveBehind) {
  const fs::path source = temp_.path() / "source";
  WriteFile(source / "a.txt", "a");
  const fs::path broken = temp_.path() / "broken";
  WriteFile(broken / "a.txt", "a");
  // A link is packed as itself, and the platform refuses to open one: the run fails midway.
  fs::create_symlink("nowhere", broken / "b-link");
  WriteFile(temp_.path() / "existing" / "p.zip", "old");

  const struct {
    const char* label;
    fs::path source;
    fs::path archive;
    bool replace;
    HRESULT expected;
  } cases[] = {
      {"missing directory", source, temp_.path() / "no" / "p.zip", true,
       HResultFromWin32(ERROR_PATH_NOT_FOUND)},
      {"missing source", temp_.path() / "none", temp_.path() / "out1" / "p.zip", true,
       HResultFromWin32(ERROR_FILE_NOT_FOUND)},
      {"unreadable file", broken, temp_.path() / "out2" / "p.zip", true, E_FAIL},
      {"existing archive", source, temp_.path() / "existing" / "p.zip", false,
       HResultFromWin32(ERROR_FILE_EXISTS)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::create_directories(c.archive.parent_path().filename() == "no" ? temp_.path()
                                                                      : c.archive.parent_path());
    const HRESULT hr = Zip(c.source, c.archive, c.replace);
    EXPECT_TRUE(FAILED(hr));
    if (c.expected != E_FAIL) {
      EXPECT_HR(c.expected, hr);
    }
    const fs::path directory = c.archive.parent_path();
    if (fs::exists(directory)) {
      // Only what was there before: no archive, no temporary file.
      const std::vector<std::string> expected =
          c.replace ? std::vector<std::string>{} : std::vector<std::string>{"p.zip"};
      EXPECT_EQ(ListTree(directory), expected);
    }
  }
  EXPECT_EQ(ReadFile(temp_.path() / "existing" / "p.zip"), "old");

  // Replacing an existing archive is what the boolean is for.
  ASSERT_HR(S_OK, Zip(source, temp_.path() / "existing" / "p.zip", true));
  EXPECT_EQ(ListTree(temp_.path() / "existing"), std::vector<std::string>{"p.zip"});
}

TEST_F(EngineTest, UnzipRefusesWhatTheArchiveSaysIsHuge) {
  const fs::path archive = temp_.path() / "claims.zip";
  WriteTestZip(archive, {{"small.txt", TestEntry::kFile, "tiny"}});
  std::string bytes = ReadFile(archive);
  orvex::testing::PatchUncompressedSize(&bytes, 0, 0xFFFFFFF0u);
  WriteFile(archive, bytes);
  EXPECT_HR(HResultFromWin32(ERROR_INVALID_DATA), Unzip(temp_.path() / "t", archive));
  EXPECT_EQ(ListTree(temp_.path() / "t"), std::vector<std::string>());
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "Unzip: refused archive '" + archive.string() +
                          "': it unpacks to more than 268435456 bytes, the limit for its size; "
                          "possible archive bomb");
  EXPECT_EQ(lines[2], "Unzip: failed (Error 13)");
}

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
  EXPECT_HR(S_OK, engine_->Import(Bstr(u"-r \"" + ToUtf16(archive.string()) + u"\""), &count));
  EXPECT_EQ(count, 5);

  EXPECT_EQ(ListTree(home),
            (std::vector<std::string>{".config/", ".config/Vendor/", ".config/Vendor/a.ini",
                                      ".profile", "Desktop/", "Desktop/x.lnk", "Documents/"}));
  EXPECT_EQ(ReadFile(home / ".config/Vendor/a.ini"), "new settings");
  EXPECT_EQ(ReadFile(temp_.path() / "data/Cache/c.bin"), "c");
  EXPECT_EQ(ListTree(temp_.path() / "state"),
            (std::vector<std::string>{"OrvexEngine/", "OrvexEngine/Registry/",
                                      "OrvexEngine/Registry/HKCU_Software.reg"}));

  const std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 3u);
  const std::string import_lines[] = {
      "Import: -r \"" + archive.string() + "\"",
      "Import: AppData -> '" + (home / ".config").string() + "'",
      "Import: Desktop -> '" + (home / "Desktop").string() + "'",
      "Import: LocalAppData -> '" + (temp_.path() / "data").string() + "'",
      "Import: Personal -> '" + (home / "Documents").string() + "'",
      "Import: UserProfile -> '" + home.string() + "'",
      "Import: 1 registry files -> '" + (temp_.path() / "state/OrvexEngine/Registry").string() +
          "'",
      "Import: done: 5 files, 2 directories, 4 entries left out",
  };
  EXPECT_EQ(std::vector<std::string>(lines.end() - 8, lines.end()),
            std::vector<std::string>(std::begin(import_lines), std::end(import_lines)));
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
      {u"", E_INVALIDARG, u""},
  };
  for (const auto& c : cases) {
    std::u16string archive;
    EXPECT_HR(c.expected, engine::ParseImportCommandLine(c.line, &archive));
    EXPECT_EQ(archive, c.archive);
  }
  EXPECT_HR(E_INVALIDARG, engine_->Import(Bstr(std::u16string(u"-r")), nullptr));
}

TEST_F(EngineTest, EveryOperationLogsWhatItDid) {
  const fs::path source = temp_.path() / "s";
  WriteFile(source / "d/f.txt", "12345");
  const fs::path archive = temp_.path() / "a.zip";
  ASSERT_HR(S_OK, Zip(source, archive));
  ASSERT_HR(S_OK, Unzip(temp_.path() / "t", archive));
  EXPECT_HR(HResultFromWin32(ERROR_FILE_NOT_FOUND),
            Unzip(temp_.path() / "u", temp_.path() / "x.zip"));
  const std::string a = archive.string(), t = (temp_.path() / "t").string();
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{
                "Zip: '" + source.string() + "' into '" + a + "'",
                "Zip: done: 1 files, 1 directories, 5 bytes",
                "Unzip: '" + a + "' into '" + t + "'",
                "Unzip: done: 1 files, 1 directories, 5 bytes",
                "Unzip: '" + (temp_.path() / "x.zip").string() + "' into '" +
                    (temp_.path() / "u").string() + "'",
                "Unzip: cannot open archive '" + (temp_.path() / "x.zip").string() + "' (Error 2)",
                "Unzip: failed (Error 2)",
            }));
}

}  // namespace
}  // namespace orvex
