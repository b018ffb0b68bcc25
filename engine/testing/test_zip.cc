#include "engine/testing/test_zip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "common/little_endian.h"
#include "engine/zip_format.h"
#include "platform/archive_headers.h"
#include "platform/environment.h"

namespace orvex::testing {

void WriteTestZip(const std::filesystem::path& path, const std::vector<TestEntry>& entries,
                  const char* charset, const char* compression) {
  const platform::ScopedUtf8Locale utf8;
  struct archive* a = archive_write_new();
  ASSERT_EQ(archive_write_set_format_zip(a), ARCHIVE_OK);
  const std::string options =
      std::string("zip:hdrcharset=") + charset + ",zip:compression=" + compression;
  ASSERT_EQ(archive_write_set_options(a, options.c_str()), ARCHIVE_OK);
#ifdef _WIN32
  ASSERT_EQ(archive_write_open_filename_w(a, path.c_str()), ARCHIVE_OK);
#else
  ASSERT_EQ(archive_write_open_filename(a, path.c_str()), ARCHIVE_OK);
#endif
  for (const TestEntry& e : entries) {
    struct archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname_utf8(entry, e.name.c_str());
    archive_entry_set_mtime(entry, e.mtime, 0);
    switch (e.kind) {
      case TestEntry::kFile:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.data.size()));
        break;
      case TestEntry::kDirectory:
        archive_entry_set_filetype(entry, AE_IFDIR);
        archive_entry_set_perm(entry, 0755);
        break;
      case TestEntry::kSymlink:
        archive_entry_set_filetype(entry, AE_IFLNK);
        archive_entry_set_perm(entry, 0777);
        archive_entry_set_symlink(entry, e.data.c_str());
        break;
    }
    ASSERT_EQ(archive_write_header(a, entry), ARCHIVE_OK) << archive_error_string(a);
    if (e.kind == TestEntry::kFile && !e.data.empty()) {
      ASSERT_EQ(archive_write_data(a, e.data.data(), e.data.size()),
                static_cast<la_ssize_t>(e.data.size()));
    }
    archive_entry_free(entry);
  }
  ASSERT_EQ(archive_write_close(a), ARCHIVE_OK);
  archive_write_free(a);
}

std::vector<CentralRecord> ReadCentralDirectory(const std::string& archive) {
  using namespace engine::zip;
  std::vector<CentralRecord> records;
  if (archive.size() < kEndRecordSize) return records;
  const char* const end = archive.data() + archive.size() - kEndRecordSize;
  if (LoadLe32(end) != kEndRecordSignature) return records;
  const std::size_t count = LoadLe16(end + kEndEntries);
  std::size_t at = LoadLe32(end + kEndDirectoryOffset);
  for (std::size_t i = 0; i < count && at + kCentralRecordSize <= archive.size(); ++i) {
    const char* const p = archive.data() + at;
    if (LoadLe32(p) != kCentralRecordSignature) break;
    const std::size_t name_length = LoadLe16(p + kCentralNameLength);
    records.push_back({at, archive.substr(at + kCentralRecordSize, name_length),
                       LoadLe16(p + kCentralFlags), LoadLe32(p + kCentralLocalHeaderOffset),
                       LoadLe32(p + kCentralExternalAttributes)});
    at += kCentralRecordSize + name_length + LoadLe16(p + kCentralExtraLength) +
          LoadLe16(p + kCentralCommentLength);
  }
  return records;
}

void Patch32(std::string* archive, std::size_t position, std::uint32_t value) {
  StoreLe32(archive->data() + position, value);
}

void PatchCentralName(std::string* archive, std::size_t index, const std::string& name) {
  const CentralRecord record = ReadCentralDirectory(*archive).at(index);
  ASSERT_EQ(record.name.size(), name.size());
  archive->replace(record.offset + engine::zip::kCentralRecordSize, name.size(), name);
}

void PatchUncompressedSize(std::string* archive, std::size_t index, std::uint32_t size) {
  using namespace engine::zip;
  const CentralRecord record = ReadCentralDirectory(*archive).at(index);
  Patch32(archive, record.offset + kCentralUncompressedSize, size);
  Patch32(archive, record.local_header + kLocalUncompressedSize, size);
}

std::vector<std::string> ListTree(const std::filesystem::path& root) {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    std::string relative = entry.path().lexically_relative(root).generic_string();
    if (entry.is_directory() && !entry.is_symlink()) relative += '/';
    paths.push_back(std::move(relative));
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

}  // namespace orvex::testing
