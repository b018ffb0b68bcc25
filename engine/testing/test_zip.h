#pragma once
// Test helpers: ZIP archives made with the archive library's writer, and a reader of the central
// directory for checking what was written and for forging hostile archives.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orvex::testing {

/// One entry of a test archive.
struct TestEntry {
  enum Kind { kFile, kDirectory, kSymlink };
  std::string name;  ///< UTF-8
  Kind kind = kFile;
  std::string data;  ///< file content, or a link's target
  std::int64_t mtime = 1'600'000'000;
};

/// Writes a ZIP archive of `entries`, in order; names in `charset` (UTF-8 sets the UTF-8 flag).
/// `compression` is "deflate" or "store".
void WriteTestZip(const std::filesystem::path& path, const std::vector<TestEntry>& entries,
                  const char* charset = "UTF-8", const char* compression = "deflate");

/// One record of a ZIP archive's central directory.
struct CentralRecord {
  std::size_t offset;  ///< of the record in the archive
  std::string name;    ///< raw bytes
  std::uint16_t flags;
  std::size_t local_header;  ///< offset of the entry's local header
  std::uint32_t external_attributes;
};

/// The central directory of an archive without ZIP64 records or a comment.
std::vector<CentralRecord> ReadCentralDirectory(const std::string& archive);

/// Overwrites a little-endian 32-bit field of a record.
void Patch32(std::string* archive, std::size_t position, std::uint32_t value);

/// Makes entry `index` claim `size` unpacked bytes, in its local header and the central directory.
void PatchUncompressedSize(std::string* archive, std::size_t index, std::uint32_t size);

/// Renames entry `index` in the central directory only, to a name of the same length: listings
/// then show another name than the local header holds.
void PatchCentralName(std::string* archive, std::size_t index, const std::string& name);

/// Every path below `root`, relative, with "/" after directories, in sorted order.
std::vector<std::string> ListTree(const std::filesystem::path& root);

}  // namespace orvex::testing
