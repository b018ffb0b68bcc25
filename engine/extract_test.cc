#include "engine/extract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/platform.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"
#include "testing/test_zip.h"

namespace orvex::engine {
namespace {

namespace fs = std::filesystem;
using testing::ListTree;
using testing::TestEntry;
using testing::WriteTestZip;

constexpr HRESULT kInvalidData = static_cast<HRESULT>(0x8007000D);

class ExtractTest : public ::testing::Test {
 protected:
  // Unpacks `archive` under `target` the way Unzip does.
  HRESULT Extract(const fs::path& archive, const fs::path& target,
                  const ExtractLimits& limits = ExtractLimits()) {
    fs::create_directories(target);
    const std::u16string root = ToUtf16(target.string());
    EngineLog log(ToUtf16(log_path().string()));
    return ExtractArchive(
        u"Unzip", ToUtf16(archive.string()),
        [&root](std::span<const std::u16string> components, bool, std::u16string* destination) {
          *destination = root;
          for (const std::u16string& c : components) *destination += u"/" + c;
          return true;
        },
        limits, log, &counts_);
  }

  fs::path log_path() const { return temp_.path() / "engine.log"; }
  std::string LogText() const { return orvex::testing::ReadFile(log_path()); }

  orvex::testing::ScopedTempDir temp_;
  ExtractCounts counts_;
};

std::int64_t ModificationTime(const fs::path& path) {
  platform::FileAttributeData data;
  EXPECT_EQ(platform::GetFileAttributesEx(ToUtf16(path.string()), &data), ERROR_SUCCESS);
  return data.last_write_time;
}

TEST_F(ExtractTest, UnpacksBothSeparatorsCodePageNamesEmptyDirectoriesAndTimes) {
  const fs::path archive = temp_.path() / "cp437.zip";
  WriteTestZip(archive,
               {{"caf\xC3\xA9.txt", TestEntry::kFile, "latte", 1'500'000'000},
                {"dir\\sub\\f.txt", TestEntry::kFile, "deep", 1'400'000'000},
                {"empty/", TestEntry::kDirectory, "", 1'300'000'000}},
               "CP437");
  // Without the UTF-8 flag the name is stored in the PC code page: 0x82 for e-acute.
  EXPECT_EQ(testing::ReadCentralDirectory(orvex::testing::ReadFile(archive))[0].name,
            "caf\x82.txt");

  const fs::path target = temp_.path() / "out";
  ASSERT_HR(S_OK, Extract(archive, target));
  EXPECT_EQ(ListTree(target), (std::vector<std::string>{"caf\xC3\xA9.txt", "dir/", "dir/sub/",
                                                        "dir/sub/f.txt", "empty/"}));
  EXPECT_EQ(orvex::testing::ReadFile(target / "dir/sub/f.txt"), "deep");
  EXPECT_EQ(ModificationTime(target / "caf\xC3\xA9.txt"), 1'500'000'000);
  EXPECT_EQ(ModificationTime(target / "dir/sub/f.txt"), 1'400'000'000);
  EXPECT_EQ(ModificationTime(target / "empty"), 1'300'000'000);
  EXPECT_EQ(counts_.files, 2u);
  EXPECT_EQ(counts_.directories, 1u);
  EXPECT_EQ(counts_.bytes, 9u);
}

TEST_F(ExtractTest, RefusesHostileEntriesWithoutWritingOutsideTheTarget) {
  const fs::path sandbox = temp_.path() / "sandbox";
  const std::string outside = (sandbox / "outside.txt").string();
  const struct {
    TestEntry hostile;
    const char* reason;
  } cases[] = {
      {{"../outside.txt", TestEntry::kFile, "x"}, "'..' component"},
      {{"..\\outside.txt", TestEntry::kFile, "x"}, "'..' component"},
      {{"a/../../outside.txt", TestEntry::kFile, "x"}, "'..' component"},
      {{outside, TestEntry::kFile, "x"}, "absolute path"},
      {{"C:\\outside.txt", TestEntry::kFile, "x"}, "drive letter"},
      {{"link", TestEntry::kSymlink, "../outside.txt"}, "symbolic link"},
      {{"dev", TestEntry::kFile, ""}, "device or special file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hostile.name);
    fs::remove_all(sandbox);
    fs::remove(log_path());
    const fs::path archive = temp_.path() / "hostile.zip";
    WriteTestZip(
        archive,
        {{"ok.txt", TestEntry::kFile, "fine"}, c.hostile, {"after.txt", TestEntry::kFile, "late"}});
    if (c.hostile.name == "dev") {
      // The writer makes no device entries: turn the file into a character device.
      std::string bytes = orvex::testing::ReadFile(archive);
      testing::Patch32(
          &bytes,
          testing::ReadCentralDirectory(bytes)[1].offset + testing::kExternalAttributesField,
          0020644u << 16);
      orvex::testing::WriteFile(archive, bytes);
    }
    EXPECT_HR(kInvalidData, Extract(archive, sandbox / "target"));
    EXPECT_EQ(ListTree(sandbox), (std::vector<std::string>{"target/", "target/ok.txt"}));
    // The archive library reads "\\" in names as "/".
    std::string logged = c.hostile.name;
    std::replace(logged.begin(), logged.end(), '\\', '/');
    EXPECT_NE(LogText().find("Unzip: refused entry '" + logged + "' of '" + archive.string() +
                             "': " + c.reason + "\r\n"),
              std::string::npos)
        << LogText();
  }
}

TEST_F(ExtractTest, LimitsStopArchiveBombs) {
  ExtractLimits tight;
  tight.max_entries = 3;
  tight.max_expansion = 10;
  tight.expansion_floor = 1 << 20;
  const std::string zeros(2 << 20, '\0');
  const struct {
    const char* label;
    std::vector<TestEntry> entries;
    bool understate_size;  // the archive claims the file is small
    HRESULT expected;
    const char* message;
  } cases[] = {
      {"too many entries",
       {{"a", TestEntry::kFile, ""},
        {"b", TestEntry::kFile, ""},
        {"c", TestEntry::kFile, ""},
        {"d", TestEntry::kFile, ""}},
       false,
       kInvalidData,
       "more than 3 entries"},
      {"declared size",
       {{"big", TestEntry::kFile, zeros}},
       false,
       kInvalidData,
       "possible archive bomb"},
      {"understated size",
       {{"big", TestEntry::kFile, zeros}},
       true,
       kInvalidData,
       "possible archive bomb"},
      {"within limits", {{"half", TestEntry::kFile, zeros.substr(0, 1 << 19)}}, false, S_OK, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const fs::path archive = temp_.path() / "bomb.zip";
    const fs::path target = temp_.path() / c.label;
    WriteTestZip(archive, c.entries);
    if (c.understate_size) {
      std::string bytes = orvex::testing::ReadFile(archive);
      testing::PatchUncompressedSize(&bytes, 0, 100);
      orvex::testing::WriteFile(archive, bytes);
    }
    EXPECT_HR(c.expected, Extract(archive, target, tight));
    EXPECT_NE(LogText().find(c.message), std::string::npos);
    if (FAILED(c.expected)) {
      // Nothing of the refused file stays behind.
      EXPECT_FALSE(fs::exists(target / "big"));
      EXPECT_LE(counts_.bytes, 2u << 20);
    }
  }
}

TEST_F(ExtractTest, BrokenArchivesFailWithTheCause) {
  const fs::path empty = temp_.path() / "empty.zip";
  WriteTestZip(empty, {});
  const fs::path text = temp_.path() / "text.zip";
  orvex::testing::WriteFile(text, "this is not an archive at all, just some words\n");
  const fs::path corrupt = temp_.path() / "corrupt.zip";
  WriteTestZip(corrupt, {{"a.txt", TestEntry::kFile, "hello world"}}, "UTF-8", "store");
  std::string bytes = orvex::testing::ReadFile(corrupt);
  bytes[bytes.find("hello world")] = 'j';  // the CRC no longer matches
  orvex::testing::WriteFile(corrupt, bytes);
  const fs::path truncated = temp_.path() / "truncated.zip";
  orvex::testing::WriteFile(truncated, bytes.substr(0, bytes.size() / 2));

  const struct {
    fs::path archive;
    HRESULT expected;
  } cases[] = {
      {empty, S_OK},
      {temp_.path() / "missing.zip", HResultFromWin32(ERROR_FILE_NOT_FOUND)},
      {temp_.path() / "no" / "missing.zip", HResultFromWin32(ERROR_PATH_NOT_FOUND)},
      {text, kInvalidData},
      {corrupt, kInvalidData},
      {truncated, kInvalidData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.archive.string());
    const fs::path target = temp_.path() / "out";
    fs::remove_all(target);
    EXPECT_HR(c.expected, Extract(c.archive, target));
    EXPECT_EQ(ListTree(target), std::vector<std::string>());
  }
}

}  // namespace
}  // namespace orvex::engine
