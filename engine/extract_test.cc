#include "engine/extract.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "engine/testing/test_zip.h"
#include "engine/zip_format.h"
#include "platform/text.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex::engine {
namespace {

namespace fs = std::filesystem;
using orvex::testing::ReadFile;
using orvex::testing::WriteFile;
using testing::ListTree;
using testing::TestEntry;
using testing::WriteTestZip;
using Lines = std::vector<std::string>;

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
        [&root](const CheckedEntry& entry, std::u16string* destination) {
          *destination = root;
          for (const std::u16string& c : entry.components) *destination += u"/" + c;
          return true;
        },
        limits, log, &counts_);
  }

  fs::path log_path() const { return temp_.path() / "engine.log"; }

  orvex::testing::ScopedTempDir temp_;
  ExtractCounts counts_;
};

TEST_F(ExtractTest, RefusesHostileEntriesWithoutWritingOutsideTheTarget) {
  const fs::path sandbox = temp_.path() / "sandbox";
  // A real place outside the target, named as absolutely as the system names files.
  const std::string outside = (sandbox / "outside.txt").generic_string();
#ifdef _WIN32
  const char* const absolute = "drive letter";
#else
  const char* const absolute = "absolute path";
#endif
  const struct {
    TestEntry hostile;
    const char* reason;
  } cases[] = {
      {{"a/../../outside.txt", TestEntry::kFile, "x"}, "'..' component"},
      {{outside, TestEntry::kFile, "x"}, absolute},
      {{"link", TestEntry::kSymlink, "../outside.txt"}, "symbolic link"},
      {{"dev", TestEntry::kFile, ""}, "device or special file"},
      {{"OK.TXT/inner", TestEntry::kFile, "x"}, "it needs a folder where entry 'ok.txt' is a file"},
      {{"DIR", TestEntry::kFile, "x"}, "it is a file where entry 'dir/' needs a folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hostile.name);
    fs::remove_all(sandbox);
    fs::remove(log_path());
    const fs::path archive = temp_.path() / "hostile.zip";
    WriteTestZip(archive, {{"ok.txt", TestEntry::kFile, "fine"},
                           {"dir/", TestEntry::kDirectory, ""},
                           c.hostile,
                           {"after.txt", TestEntry::kFile, "late"}});
    if (c.hostile.name == "dev") {
      // The writer makes no device entries: turn the file into a character device.
      std::string bytes = ReadFile(archive);
      testing::Patch32(
          &bytes,
          testing::ReadCentralDirectory(bytes)[2].offset + engine::zip::kCentralExternalAttributes,
          0020644u << 16);
      WriteFile(archive, bytes);
    }
    EXPECT_HR(kInvalidData, Extract(archive, sandbox / "target"));
    EXPECT_EQ(ListTree(sandbox), (Lines{"target/", "target/dir/", "target/ok.txt"}));
    EXPECT_NE(ReadFile(log_path())
                  .find("Unzip: refused entry '" + c.hostile.name + "' of '" + archive.string() +
                        "': " + c.reason + "\r\n"),
              std::string::npos)
        << ReadFile(log_path());
  }
}

// Files are written behind the reading: a failure to write one must still be the only failure
// reported, with nothing of the entries after it written.
TEST_F(ExtractTest, AFileThatCannotBeMadeEndsTheUnpackingThere) {
  const fs::path archive = temp_.path() / "a.zip", target = temp_.path() / "out";
  WriteTestZip(archive, {{"a.txt", TestEntry::kFile, "one"},
                         {"b.txt", TestEntry::kFile, "two"},
                         {"link", TestEntry::kSymlink, "a.txt"},
                         {"c.txt", TestEntry::kFile, "three"}});
  fs::create_directories(target / "b.txt");
  EXPECT_HR(HResultFromWin32(ERROR_ACCESS_DENIED), Extract(archive, target));
  EXPECT_EQ(ListTree(target), (Lines{"a.txt", "b.txt/"}));
  EXPECT_EQ(counts_.files, 1u);
  const std::string log = ReadFile(log_path());
  EXPECT_NE(log.find("Unzip: cannot create file '" + target.string() + "/b.txt' (Error 5)"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("refused"), std::string::npos) << log;
}

// Listings show the central directory; what is unpacked must be what they show.
TEST_F(ExtractTest, RefusesEntriesWhoseLocalHeaderDisagreesWithTheCentralDirectory) {
  using Bytes = std::string;
  const struct {
    const char* what;
    std::string local_name, central_name;
    void (*patch)(Bytes* bytes, const testing::CentralRecord& record);
    std::string refusal;  // empty: the archive unpacks
  } cases[] = {
      {"smuggled name", "Registry/Smuggled.reg", "Desktop/harmless1.txt", nullptr,
       "'Desktop/harmless1.txt' of '%': its local header names 'Registry/Smuggled.reg'"},
      {"traversal in the central name", "Desktop/harmless.txt", "../../../outside.txt", nullptr,
       "'../../../outside.txt' of '%': its local header names 'Desktop/harmless.txt'"},
      {"other size", "a.txt", "",
       [](Bytes* b, const testing::CentralRecord& r) {
         testing::Patch32(b, r.local_header + 22, 9);
       },
       "'a.txt' of '%': its local header gives other sizes"},
      {"other method", "a.txt", "",
       [](Bytes* b, const testing::CentralRecord& r) { (*b)[r.local_header + 8] = 0; },
       "'a.txt' of '%': its local header has another compression method"},
      {"other name encoding", "a.txt", "",
       [](Bytes* b, const testing::CentralRecord& r) { (*b)[r.local_header + 7] ^= 0x08; },
       "'a.txt' of '%': its local header has other flags"},
      {"no local header there", "a.txt", "",
       [](Bytes* b, const testing::CentralRecord& r) { testing::Patch32(b, r.offset + 42, 3); },
       "'a.txt' of '%': no readable local header where the central directory says"},
      {"data put before the archive", "a.txt", "",
       [](Bytes* b, const testing::CentralRecord&) { b->insert(0, "MZ self-extractor stub"); }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path archive = temp_.path() / (std::string(c.what) + ".zip");
    const fs::path target = temp_.path() / c.what;
    WriteTestZip(archive, {{"ok.txt", TestEntry::kFile, "fine"},
                           {c.local_name, TestEntry::kFile, "payload payload payload"}});
    Bytes bytes = ReadFile(archive);
    if (!c.central_name.empty()) testing::PatchCentralName(&bytes, 1, c.central_name);
    if (c.patch != nullptr) c.patch(&bytes, testing::ReadCentralDirectory(bytes).at(1));
    WriteFile(archive, bytes);
    fs::remove(log_path());
    if (c.refusal.empty()) {
      EXPECT_HR(S_OK, Extract(archive, target));
      EXPECT_EQ(ListTree(target), (Lines{"a.txt", "ok.txt"}));
      continue;
    }
    EXPECT_HR(kInvalidData, Extract(archive, target));
    EXPECT_EQ(ListTree(target), Lines()) << "nothing is unpacked, not even the entry before";
    std::string line = "Unzip: refused entry " + c.refusal + "\r\n";
    line.replace(line.find('%'), 1, archive.string());
    EXPECT_NE(ReadFile(log_path()).find(line), std::string::npos) << ReadFile(log_path());
  }
}

TEST_F(ExtractTest, LimitsStopArchiveBombs) {
  ExtractLimits tight;
  tight.max_entries = 3;
  tight.max_expansion = 10;
  tight.expansion_floor = 1 << 20;
  const fs::path archive = temp_.path() / "bomb.zip";
  WriteTestZip(archive, {{"a", TestEntry::kFile, ""},
                         {"b", TestEntry::kFile, ""},
                         {"c", TestEntry::kFile, ""},
                         {"d", TestEntry::kFile, ""}});
  EXPECT_HR(kInvalidData, Extract(archive, temp_.path() / "many", tight));
  // What the central directory declares is refused before anything is written.
  EXPECT_EQ(ListTree(temp_.path() / "many"), Lines());
  WriteTestZip(archive, {{"a", TestEntry::kFile, std::string(400 << 10, 'a')},
                         {"b", TestEntry::kFile, std::string(400 << 10, 'b')},
                         {"c", TestEntry::kFile, std::string(400 << 10, 'c')}});
  EXPECT_HR(kInvalidData, Extract(archive, temp_.path() / "declared", tight));
  EXPECT_EQ(ListTree(temp_.path() / "declared"), Lines());

  // The archive claims the file is small: the budget stops the writing itself.
  WriteTestZip(archive, {{"big", TestEntry::kFile, std::string(2 << 20, '\0')}});
  std::string bytes = ReadFile(archive);
  testing::PatchUncompressedSize(&bytes, 0, 100);
  WriteFile(archive, bytes);
  counts_ = {};
  EXPECT_HR(kInvalidData, Extract(archive, temp_.path() / "big", tight));
  EXPECT_EQ(ListTree(temp_.path() / "big"), Lines()) << "nothing of the refused file stays";
  EXPECT_LE(counts_.bytes, 2u << 20);

  WriteTestZip(archive, {{"half", TestEntry::kFile, std::string(1 << 19, '\0')}});
  EXPECT_HR(S_OK, Extract(archive, temp_.path() / "half", tight));
  const std::string log = ReadFile(log_path());
  EXPECT_NE(log.find("it holds more than 3 entries, the limit (ORVEX_MAX_ENTRIES sets another); "
                     "possible archive bomb"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("more than 1048576 bytes, the limit for its size (ORVEX_MAX_UNPACKED_BYTES "
                     "sets another); possible archive bomb"),
            std::string::npos)
      << log;
}

TEST_F(ExtractTest, BrokenArchivesFailWithTheCause) {
  const fs::path archive = temp_.path() / "a.zip", target = temp_.path() / "out";
  WriteTestZip(archive, {});
  EXPECT_HR(S_OK, Extract(archive, target));
  WriteFile(archive, "this is not an archive at all, just some words\n");
  EXPECT_HR(kInvalidData, Extract(archive, target));

  // Damaged data, whether inflated on a worker (small entries) or streamed through the archive
  // library (entries too large to hold whole): nothing of the damaged file stays.
  const std::string large(17 << 20, 'x');
  const struct {
    const char* compression;
    std::string data;
    char damage;  // written over the first byte of the entry's stored or compressed data
    const char* reason;
  } cases[] = {
      {"store", "hello world", 'j', "its data fails the CRC-32 check"},
      // A block of the reserved type: no inflater can read on.
      {"deflate", "hello world", '\x07', "its compressed data is broken"},
      {"store", large, 'j', "ZIP bad CRC"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.compression) + " " + std::to_string(c.data.size()));
    WriteTestZip(archive,
                 {{"ok.txt", TestEntry::kFile, "fine"}, {"a.txt", TestEntry::kFile, c.data}},
                 "UTF-8", c.compression);
    std::string bytes = ReadFile(archive);
    const std::size_t header = testing::ReadCentralDirectory(bytes).at(1).local_header;
    const std::size_t data = header + zip::kLocalHeaderSize +
                             LoadLe16(bytes.data() + header + zip::kLocalNameLength) +
                             LoadLe16(bytes.data() + header + zip::kLocalExtraLength);
    bytes[data] = c.damage;
    WriteFile(archive, bytes);
    fs::remove(log_path());
    EXPECT_HR(kInvalidData, Extract(archive, target));
    EXPECT_EQ(ListTree(target), (Lines{"ok.txt"})) << "a file that fails its check is removed";
    const std::string line =
        "Unzip: cannot read 'a.txt' from '" + archive.string() + "': " + c.reason;
    EXPECT_NE(ReadFile(log_path()).find(line), std::string::npos) << ReadFile(log_path());
    fs::remove_all(target);
  }
}

// Inspecting an archive from its central directory alone must show what the archive library's
// walk shows, refuse what it refuses and unpack the same; an archive whose records leave anything
// open is walked.
TEST_F(ExtractTest, InspectingShowsRefusesAndUnpacksWhatExtractingDoes) {
  // What a reader made of an archive: its result, each entry it showed, the files it unpacked
  // (every one but "skip.txt"), its log without times.
  const auto seen = [&](const fs::path& archive, bool inspect) {
    fs::remove(log_path());
    const fs::path target = temp_.path() / (inspect ? "inspected" : "extracted");
    fs::remove_all(target);
    fs::create_directories(target);
    std::string shown;
    const auto show = [&](const CheckedEntry& entry, std::u16string* destination) {
      *destination = ToUtf16(target.string());
      for (const std::u16string& c : entry.components) {
        shown += ToUtf8(c) + "/";
        *destination += u"/" + c;
      }
      shown += entry.directory ? " folder" : " file";
      if (entry.place != nullptr) {
        shown += " " + std::to_string(entry.place->data_offset) + " " +
                 std::to_string(entry.place->uncompressed) + " " +
                 std::to_string(entry.place->crc) + " " + std::to_string(entry.place->method);
      }
      shown += "\n";
      return entry.components.back() != u"skip.txt";
    };
    HRESULT hr = S_OK;
    {
      EngineLog log(ToUtf16(log_path().string()));
      const std::u16string path = ToUtf16(archive.string());
      hr = inspect ? InspectArchive(u"Unzip", path, show, ExtractLimits(), log, &counts_)
                   : ExtractArchive(u"Unzip", path, show, ExtractLimits(), log, &counts_);
    }
    for (const std::string& name : ListTree(target)) {
      shown += name + (name.ends_with('/') ? "" : " " + ReadFile(target / name)) + "\n";
    }
    std::string log_text;
    std::istringstream lines(fs::exists(log_path()) ? ReadFile(log_path()) : "");
    for (std::string line; std::getline(lines, line);) log_text += line.substr(20) + "\n";
    return std::to_string(hr) + "\n" + shown + log_text + std::to_string(counts_.skipped);
  };
  const TestEntry a = {"a.txt", TestEntry::kFile, "a"};
  const struct {
    const char* what;
    std::vector<TestEntry> entries;
    const char* charset;
    std::uint32_t second_attributes;  // written over the second entry's, unless 0
  } cases[] = {
      {"plain",
       {{"dir/", TestEntry::kDirectory, ""},
        {"dir/Crème ü.txt", TestEntry::kFile, "text"},
        {"dir/skip.txt", TestEntry::kFile, "not unpacked"},
        {"./empty", TestEntry::kFile, ""},
        {"/", TestEntry::kDirectory, ""}},
       "UTF-8",
       0},
      {"code page",
       {{"a/", TestEntry::kDirectory, ""}, {"a/Crème.txt", TestEntry::kFile, "x"}},
       "CP437",
       0},
      {"traversal", {a, {"a/../../b.txt", TestEntry::kFile, "x"}}, "UTF-8", 0},
      {"link", {a, {"link", TestEntry::kSymlink, "a.txt"}}, "UTF-8", 0},
      {"device", {a, {"dev", TestEntry::kFile, ""}}, "UTF-8", 0020644u << 16},
      {"folder by its attributes", {a, {"b", TestEntry::kFile, ""}}, "UTF-8", 0040755u << 16},
      {"file and folder of one name",
       {{"OK.TXT/inner", TestEntry::kFile, "x"}, {"ok.txt", TestEntry::kFile, "x"}},
       "UTF-8",
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path archive = temp_.path() / "listed.zip";
    WriteTestZip(archive, c.entries, c.charset);
    if (c.second_attributes != 0) {
      std::string bytes = ReadFile(archive);
      testing::Patch32(
          &bytes, testing::ReadCentralDirectory(bytes)[1].offset + zip::kCentralExternalAttributes,
          c.second_attributes);
      WriteFile(archive, bytes);
    }
    EXPECT_EQ(seen(archive, true), seen(archive, false));
  }
}

}  // namespace
}  // namespace orvex::engine
