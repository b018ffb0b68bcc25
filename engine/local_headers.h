#pragma once
// Checking that each entry's local header in a ZIP archive says what its central directory
// record says. Listing tools show the central directory while the archive library takes names,
// flags and the compression method from the local header: an archive in which the two disagree
// unpacks otherwise than what an administrator looked at, so it is not unpacked at all.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/unpacked_archive.h"

namespace orvex::engine {

/// Reads up to `buffer.size()` bytes of the archive at `offset`; the count read (short only at
/// the end of the archive), or -1 when the archive cannot be read.
using ArchiveReader = std::function<std::int64_t(std::uint64_t offset, std::span<char> buffer)>;

/// The outcome of CheckLocalHeaders.
enum class LocalHeaderStatus {
  kAgree,        ///< every record's local header agrees with it
  kEmpty,        ///< an end record alone, of no entries: the archive library takes it for no ZIP
  kDisagree,     ///< the first record that does not is described in the details
  kNoDirectory,  ///< no central directory where the archive library looks for one
  kReadFailed,   ///< the archive could not be read
};

/// Which entry disagrees with its local header, and how.
struct LocalHeaderDisagreement {
  std::u16string name;    ///< as the central directory names it
  std::u16string reason;  ///< a few words for the log
};

/// One entry as the central directory and its local header place it.
struct RecordedEntry {
  std::size_t name_hash = 0;  ///< std::hash of the name as the central directory gives it
  std::uint64_t local_header = 0;
  EntryPlace place;
  /// Only when names are kept: the name, and whether the two records say all that the archive
  /// library makes of the entry (see CheckLocalHeaders).
  std::u16string name;
  bool plain = false;
};

/// What the central directory declares of the whole archive, known before anything is unpacked.
struct CentralDirectoryTotals {
  std::uint64_t bytes = 0;  ///< the sum of the entries' uncompressed sizes, at most UINT64_MAX
  /// Every entry, in the order of their local headers: the order the archive library unpacks
  /// them in.
  std::vector<RecordedEntry> recorded;
};

/// Finds the central directory of the archive of `size` bytes as the archive library does
/// (the last end record in the final 16 KiB, ZIP64 records, data prepended to the archive) and
/// compares every record with the local header it points to: the name's bytes, its Unicode path
/// field, the UTF-8 and encryption flags, the compression method, the CRC and both sizes (which
/// a local header may leave zero when a data descriptor follows the data). `totals` counts the
/// records read. With `keep_names` each recorded entry keeps its name, and is plain when the
/// archive library would make of it just what the records say: that name (ASCII, the PC code
/// page, or valid UTF-8 under the UTF-8 flag, with no Unicode name field), a folder when it ends
/// in '/' and a file otherwise (the attributes naming no other type), no encryption, and no extra
/// field but ZIP64 sizes, times and owners.
LocalHeaderStatus CheckLocalHeaders(std::uint64_t size, const ArchiveReader& read,
                                    LocalHeaderDisagreement* disagreement,
                                    CentralDirectoryTotals* totals, bool keep_names = false);

}  // namespace orvex::engine
