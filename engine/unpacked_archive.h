#pragma once
// What Unzip wrote, kept by the engine object for the Zip that follows it: most of a profile
// leaves a migration as it came, and a file nobody changed can take its entry's compressed bytes
// from the input archive instead of being compressed again.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

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

/// The files one Unzip wrote, by identity, and the archive they came from as it was then.
struct UnpackedArchive {
  std::u16string archive;
  platform::FileState archive_state;
  std::unordered_map<platform::FileIdentity, UnpackedFile, FileIdentityHash> files;

  /// Whether the archive is still the file it was when it was unpacked: only then do the
  /// recorded places hold the bytes they held.
  bool ArchiveUnchanged() const {
    platform::FileState state;
    return platform::GetFileState(archive, &state) == ERROR_SUCCESS && state == archive_state;
  }
};

}  // namespace orvex::engine
