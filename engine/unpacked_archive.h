#pragma once
// What Unzip wrote, kept by the engine object for the Zip that follows it: most of a profile
// leaves a migration as it came, and a file nobody changed can take its entry's compressed bytes
// from the input archive instead of being compressed again.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/zip_format.h"
#include "platform/files.h"

namespace orvex::engine {

/// Where an entry's compressed bytes lie in its archive and what they hold.
struct EntryPlace {
  std::uint64_t data_offset = 0;  ///< the first byte after the local header
  std::uint64_t compressed = 0;
  std::uint64_t uncompressed = 0;
  std::uint32_t crc = 0;
  std::uint16_t method = 0;  ///< as the archive names it: 0 stored, 8 deflated, ...
};

/// Whether packing may take the compressed bytes of the entry at `place` as they are.
inline bool CopiesCompressedBytes(const EntryPlace& place) {
  return place.method == zip::kMethodStored || place.method == zip::kMethodDeflated;
}

/// An unpacked file as the system reported it once it was written, and its entry's place.
struct UnpackedFile {
  platform::FileState state;
  EntryPlace place;
};

/// Files are found by identity.
struct FileIdentityHash {
  std::size_t operator()(const platform::FileIdentity& identity) const {
    return std::hash<std::uint64_t>()(identity.index * 31 + identity.volume);
  }
};

/// A file Unzip left in the archive instead of writing it: what the disk would have given the
/// packing that follows, had it been written.
struct KeptFile {
  std::u16string name;  ///< its name in its folder
  std::int64_t time = 0;
  bool read_only = false;
  EntryPlace place;
};

/// The files one Unzip wrote, by identity, and the archive they came from as it was then; and
/// the files it kept in the archive, by the identity of the folder that would hold them.
struct UnpackedArchive {
  std::u16string archive;
  platform::FileState archive_state;
  std::unordered_map<platform::FileIdentity, UnpackedFile, FileIdentityHash> files;
  std::unordered_map<platform::FileIdentity, std::vector<KeptFile>, FileIdentityHash> kept;
  std::uint64_t kept_count = 0;

  /// Whether the archive is still the file it was when it was unpacked: only then do the
  /// recorded places hold the bytes they held.
  bool ArchiveUnchanged() const {
    platform::FileState state;
    return platform::GetFileState(archive, &state) == ERROR_SUCCESS && state == archive_state;
  }
};

}  // namespace orvex::engine
