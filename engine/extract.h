#pragma once
// Unpacking a ZIP archive entry by entry through the platform layer, refusing entries that could
// write outside their destination and archives that would unpack to far more than they hold.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "common/result.h"
#include "engine/engine_log.h"
#include "engine/touched_paths.h"
#include "engine/unpacked_archive.h"

namespace orvex::engine {

/// The environment variables that replace the entry limit and the unpacked-bytes limit.
inline constexpr std::u16string_view kMaxEntriesVariable = u"ORVEX_MAX_ENTRIES";
inline constexpr std::u16string_view kMaxBytesVariable = u"ORVEX_MAX_UNPACKED_BYTES";

/// Bounds that stop an archive bomb before it fills the disk. The unpacked bytes may reach
/// `max_expansion` times the archive's size, at least `expansion_floor` and never more than
/// `max_total_bytes`.
struct ExtractLimits {
  std::uint64_t max_entries = 500'000;
  std::uint64_t max_total_bytes = 8ull << 30;
  std::uint64_t max_expansion = 100;
  std::uint64_t expansion_floor = 256ull << 20;
};

/// What an extraction did.
struct ExtractCounts {
  std::uint64_t entries = 0;
  std::uint64_t files = 0;
  std::uint64_t directories = 0;
  std::uint64_t skipped = 0;
  std::uint64_t bytes = 0;
  std::uint64_t kept = 0;  ///< files left in the archive, among `files`
};

/// An entry as an extraction meets it, its name checked.
struct CheckedEntry {
  std::span<const std::u16string> components;  ///< the name's components, none of them empty
  bool directory = false;
  /// A file's place, sizes and CRC-32 as the central directory records them, when known.
  const EntryPlace* place = nullptr;
};

/// Chooses where an entry goes: sets the destination path and returns true, or returns false to
/// leave the entry out (an archive can so be listed without unpacking anything).
using EntryDestination =
    std::function<bool(const CheckedEntry& entry, std::u16string* destination)>;

/// Unpacks every entry of the ZIP archive `archive` to where `destination_for` says, with the
/// modification times the archive records. `operation` starts each log line. Failures: the
/// archive's open error (ERROR_FILE_NOT_FOUND ...), ERROR_INVALID_DATA for what is not a readable
/// ZIP archive, for a refused entry (unsafe name, link, device) and for a broken limit, or the
/// error of a failed write. Entries before a failure stay unpacked. With `unpacked`, every file
/// written is recorded there, with the archive, for packing it again. With `unpacked` and
/// `touched` too, a file no touched path reaches is checked as if written (its CRC-32 included)
/// but kept in the archive, recorded there by its folder, when packing can copy it as it is and
/// its name is the only one of its path: every folder is still made.
[[nodiscard]] HRESULT ExtractArchive(std::u16string_view operation, std::u16string_view archive,
                                     const EntryDestination& destination_for,
                                     const ExtractLimits& limits, EngineLog& log,
                                     ExtractCounts* counts, UnpackedArchive* unpacked = nullptr,
                                     const TouchedPaths* touched = nullptr);

/// ExtractArchive for looking into an archive: the files `destination_for` chooses get their
/// content only, without times or attributes. When the central directory says all that the
/// archive library would make of every entry (see CheckLocalHeaders) and each is stored or
/// deflated and small enough to be held whole (EntryInflater::Inflates), the entries are read
/// from it alone: nothing but the chosen files' data is read, and each of those is inflated whole,
/// on one worker per processor. Refusals are ExtractArchive's.
[[nodiscard]] HRESULT InspectArchive(std::u16string_view operation, std::u16string_view archive,
                                     const EntryDestination& destination_for,
                                     const ExtractLimits& limits, EngineLog& log,
                                     ExtractCounts* counts);

}  // namespace orvex::engine
