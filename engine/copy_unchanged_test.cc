// Zip after Unzip on the same engine: what nobody changed keeps its compressed bytes, and no
// change, however it keeps a file's size and times, ever keeps stale bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/little_endian.h"
#include "engine/engine_test_support.h"
#include "engine/testing/test_zip.h"
#include "engine/zip_format.h"
#include "platform/files.h"

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
  }
}

}  // namespace
}  // namespace orvex
