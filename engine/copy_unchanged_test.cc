// Zip after Unzip on the same engine: what nobody changed keeps its compressed bytes, and no
// change, however it keeps a file's size and times, ever keeps stale bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/little_endian.h"
#include "engine/engine_test_support.h"
#include "engine/testing/test_zip.h"
#include "engine/zip_format.h"
#include "platform/files.h"
#include "testing/scoped_env.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TestEntry;
using namespace std::string_view_literals;

// Every file below `root` with its bytes.
std::vector<std::pair<std::string, std::string>> Files(const fs::path& root) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& name : testing::ListTree(root)) {
    if (!name.ends_with('/')) files.emplace_back(name, ReadFile(root / name));
  }
  return files;
}

// The test writer's archive with x/a.txt's compressed size made to cover `tail` too, bytes put
// after its deflate stream as no writer puts them; what follows them moves on.
std::string WithTail(std::string bytes, std::string_view tail) {
  using namespace engine::zip;
  const std::vector<testing::CentralRecord> records = testing::ReadCentralDirectory(bytes);
  const std::size_t descriptor = records[1].local_header - 16, grow = tail.size();
  bytes.insert(descriptor, tail);
  for (const std::size_t field :
       {descriptor + grow + 8, records[0].offset + grow + kCentralCompressedSize,
        records[1].offset + grow + kCentralLocalHeaderOffset,
        bytes.size() - kEndRecordSize + kEndDirectoryOffset}) {
    testing::Patch32(&bytes, field,
                     LoadLe32(bytes.data() + field) + static_cast<std::uint32_t>(grow));
  }
  return bytes;
}

// Tells the engine that a migration touches the Registry folder alone.
void NameRegistryFolder(IOrvexEngine* engine) {
  void* object = nullptr;
  ASSERT_HR(S_OK, engine->QueryInterface(IID_IOrvexEngineScope, &object));
  auto* scope = static_cast<IOrvexEngineScope*>(object);
  EXPECT_HR(S_OK, scope->AddTouchedPath(MakeBstr(std::u16string(u"Registry")).get()));
  scope->Release();
}

TEST_F(EngineTest, UnchangedFilesKeepTheirBytesAndChangedOnesNever) {
  const fs::path archive = temp_.path() / "in.zip", tree = temp_.path() / "tree";
  const fs::path a = tree / "x/a.txt", b = tree / "x/b.txt";
  const std::string a_bytes(5000, 'a'), b_bytes(5000, 'b');
  enum Change { kNone, kCopyOver, kMoveOnto, kMakeAnew, kRewriteInPlace, kReplaceArchive };
  const struct {
    const char* what;
    const char* python;  // makes the archive with Python's writer, when set
    const char* method;  // else the test writer's "deflate" (sizes in a data descriptor), "store"
    Change change;
    int copied;
    std::string_view tail = {};  // bytes after x/a.txt's deflate stream, which readers refuse
  } cases[] = {
      {"deflated", nullptr, "deflate", kNone, 2},
      {"stored", nullptr, "store", kNone, 2},
      {"ZIP64", "f.open('x/a.txt', 'w', force_zip64=True).write(b'a' * 5000)", "", kNone, 1},
      {"another method", "f.writestr('x/a.txt', 'a' * 5000, z.ZIP_BZIP2)", "", kNone, 0},
      // As a rule's copy does it: the bytes and the modification time, the same as before.
      {"copied over by a file of the same size and time", nullptr, "deflate", kCopyOver, 1},
      {"moved onto", nullptr, "deflate", kMoveOnto, 0},
      {"made anew with the same length and time", nullptr, "deflate", kMakeAnew, 1},
      {"changed in place, its time set back", nullptr, "deflate", kRewriteInPlace, 1},
      {"the input archive replaced after unpacking", nullptr, "deflate", kReplaceArchive, 0},
      {"bytes after the deflate stream", nullptr, "deflate", kNone, 1, "XYZ"},
      {"a second deflate stream", nullptr, "deflate", kNone, 1, "\x03\x00"sv},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
#ifdef _WIN32
    if (c.python != nullptr) continue;  // Wine starts no Linux programs
#endif
    const std::vector<TestEntry> entries = {{"x/a.txt", TestEntry::kFile, a_bytes},
                                            {"x/b.txt", TestEntry::kFile, b_bytes}};
    if (c.python == nullptr) {
      testing::WriteTestZip(archive, entries, "UTF-8", c.method);
      if (!c.tail.empty()) testing::WriteFile(archive, WithTail(ReadFile(archive), c.tail));
    } else {
      const std::string command = "python3 -c \"import zipfile as z; f = z.ZipFile('" +
                                  archive.string() + "', 'w'); " + c.python + "; f.close()\"";
      ASSERT_EQ(std::system(command.c_str()), 0);
    }
    fs::remove_all(tree);
    fs::remove(log_);
    ASSERT_HR(S_OK, Unzip(tree, archive));
    const fs::file_time_type time = fs::last_write_time(a);
    switch (c.change) {
      case kNone:
        break;
      case kCopyOver:
        ASSERT_EQ(platform::CopyFile(ToUtf16(b.string()), ToUtf16(a.string()), false), 0u);
        break;
      case kMoveOnto:
        fs::rename(b, a);
        break;
      case kMakeAnew:
        fs::remove(a);
        [[fallthrough]];
      case kRewriteInPlace:
        testing::WriteFile(a, b_bytes);
        fs::last_write_time(a, time);
        break;
      case kReplaceArchive:
        testing::WriteTestZip(archive, {entries[1]});
        break;
    }
    const fs::path out = temp_.path() / "out.zip", check = temp_.path() / "check";
    ASSERT_HR(S_OK, Zip(tree, out));
    // The output holds what the migration left, entry by entry, its checksums right.
    fs::remove_all(check);
    ASSERT_HR(S_OK, Unzip(check, out));
#ifndef _WIN32
    EXPECT_EQ(std::system(("unzip -tqq '" + out.string() + "'").c_str()), 0);
    EXPECT_EQ(std::system(("bsdtar -xOf '" + out.string() + "' >/dev/null").c_str()), 0);
#endif
    EXPECT_EQ(Files(check), Files(tree));
    const std::vector<std::string> log = LogLines();
    const std::string afresh = "Unzip: 'x/a.txt' of '" + archive.string() + "' holds " +
                               std::to_string(c.tail.size()) +
                               " bytes after its compressed data: it is compressed afresh";
    EXPECT_EQ(std::count(log.begin(), log.end(), afresh), c.tail.empty() ? 0 : 1);
    const std::string kept = "Zip: " + std::to_string(c.copied) +
                             " files kept their compressed bytes from '" + archive.string() + "'";
    EXPECT_EQ(std::count(log.begin(), log.end(), kept), c.copied > 0 ? 1 : 0) << ReadFile(log_);
    if (c.tail.empty()) continue;
    // Reached by no rule, such an entry is written all the same, to be compressed afresh.
    fs::remove_all(tree);
    NameRegistryFolder(engine_);
    ASSERT_HR(S_OK, Unzip(tree, archive));
    EXPECT_EQ(ReadFile(a), a_bytes);
    ASSERT_HR(S_OK, Zip(tree, out));
#ifndef _WIN32
    EXPECT_EQ(std::system(("bsdtar -xOf '" + out.string() + "' >/dev/null").c_str()), 0);
#endif
    // The rows after name no paths: a fresh engine object.
    TearDown();
    SetUp();
  }
}

// Files no named path reaches stay in the archive, checked as if written, and come out of Zip as
// they would have from the disk; an entry that is not sound fails Unzip all the same, and an input
// archive replaced meanwhile fails Zip.
TEST_F(EngineTest, KeptFilesPackAsWrittenOnes) {
  const fs::path archive = temp_.path() / "in.zip", tree = temp_.path() / "tree";
  const std::string text(5000, 't');
  const struct {
    const char* what;
    const char* python;  // makes the archive with Python's writer, when set
    const char* method;  // else the test writer's "deflate" (sizes in a data descriptor), "store"
    int kept;            // < 0: Unzip (-1) or Zip (-2) fails with ERROR_INVALID_DATA
  } cases[] = {
      {"data descriptors", nullptr, "deflate", 3},
      {"stored", nullptr, "store", 3},
      // Entries that say they are regular files, as archives made on Unix do.
      {"ZIP64", "f.open(i('x/a.txt'), 'w', force_zip64=True).write(b'a' * 5000)", "", 1},
      {"bzip2", "f.writestr(i('x/a.txt'), 'a' * 5000, z.ZIP_BZIP2); f.writestr(i('x/b'), 'b')", "",
       1},
      {"a corrupt entry", nullptr, "store", -1},
      {"the input archive replaced", nullptr, "store", -2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
#ifdef _WIN32
    if (c.python != nullptr) continue;  // Wine starts no Linux programs
#endif
    if (c.python == nullptr) {
      testing::WriteTestZip(archive,
                            {{"Registry/r.reg", TestEntry::kFile, "reg"},
                             {"x/", TestEntry::kDirectory, ""},
                             {"x/B.txt", TestEntry::kFile, text},
                             {"x/a.txt", TestEntry::kFile, "sound", 1'500'000'000},
                             {"x/y/c.txt", TestEntry::kFile, ""}},
                            "UTF-8", c.method);
      if (c.kept == -1) {
        std::string bytes = ReadFile(archive);
        bytes[bytes.find("sound")] = 'S';
        testing::WriteFile(archive, bytes);
      }
    } else {
      const std::string command = "python3 -c \"import zipfile as z; f = z.ZipFile('" +
                                  archive.string() +
                                  "', 'w'); i = lambda n: (lambda e: (setattr(e, 'external_attr', "
                                  "0o100644 << 16), e)[1])(z.ZipInfo(n, (2020, 1, 1, 0, 0, 0))); " +
                                  c.python + "; f.close()\"";
      ASSERT_EQ(std::system(command.c_str()), 0);
    }
    std::string packed[2];
    for (const bool write_all : {true, false}) {
      const testing::ScopedEnv all("ORVEX_WRITE_ALL_ENTRIES",
                                   write_all ? std::optional<std::string>("1") : std::nullopt);
      fs::remove_all(tree);
      fs::remove(log_);
      NameRegistryFolder(engine_);
      if (c.kept == -1) {
        EXPECT_HR(HResultFromWin32(ERROR_INVALID_DATA), Unzip(tree, archive));
        EXPECT_FALSE(fs::exists(tree / "x/a.txt"));
        continue;
      }
      ASSERT_HR(S_OK, Unzip(tree, archive));
      // Folders made without an entry of their own got the clock's time.
      for (const fs::directory_entry& entry : fs::recursive_directory_iterator(tree)) {
        if (entry.is_directory()) platform::SetFileTime(ToUtf16(entry.path().string()), 1);
      }
      const fs::path out = temp_.path() / "out.zip";
      if (c.kept == -2 && !write_all) {
        testing::WriteTestZip(archive, {{"x/B.txt", TestEntry::kFile, text}}, "UTF-8", "store");
        fs::remove(out);
        EXPECT_HR(HResultFromWin32(ERROR_INVALID_DATA), Zip(tree, out));
        EXPECT_FALSE(fs::exists(out));
        EXPECT_EQ(LogLines().end()[-2],
                  "Zip: '" + archive.string() + "' changed while files were copied from it");
        continue;
      }
      ASSERT_HR(S_OK, Zip(tree, out));
      packed[write_all] = ReadFile(out);
      const std::string kept = "Unzip: " + std::to_string(c.kept) + " files kept in '" +
                               archive.string() + "', not written: no migration step reaches them";
      const std::vector<std::string> log = LogLines();
      EXPECT_EQ(std::count(log.begin(), log.end(), kept), write_all ? 0 : 1) << ReadFile(log_);
    }
    EXPECT_TRUE(c.kept < 0 || packed[0] == packed[1]);
  }
}

}  // namespace
}  // namespace orvex
