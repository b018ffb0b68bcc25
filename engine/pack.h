#pragma once
// Packing a directory tree into a ZIP archive through the platform layer.

#include <cstdint>
#include <string_view>

#include "common/result.h"
#include "engine/engine_log.h"
#include "engine/unpacked_archive.h"

namespace orvex::engine {

/// What a packing run wrote.
struct PackCounts {
  std::uint64_t files = 0;
  std::uint64_t directories = 0;
  std::uint64_t bytes = 0;   ///< unpacked bytes of the files
  std::uint64_t copied = 0;  ///< files that kept their compressed bytes from the input archive
};

/// The deflate level of packed files: as fast as common zip tools while still small.
constexpr int kDeflateLevel = 6;

/// The environment variable that caps the number of threads compressing for Zip (by default,
/// one per processor).
inline constexpr std::u16string_view kZipThreadsVariable = u"ORVEX_ZIP_THREADS";

/// Packs every directory and file under `source` into the ZIP archive `archive`: names relative
/// to `source` with "/", UTF-8, in name order, directories first as their own entries;
/// modification times kept; files deflated unless they look incompressible; ZIP64 where sizes or
/// offsets need it. Files are compressed on `threads` threads; the archive's bytes are the same
/// whatever their number. A file that `unpacked` (when given) holds as it was written keeps its
/// entry's compressed bytes from the input archive (see PieceCompressor). The archive is written
/// beside its final name and renamed into place only when complete. An existing archive is
/// replaced only with `replace_existing` (ERROR_FILE_EXISTS otherwise).
[[nodiscard]] HRESULT PackDirectory(std::u16string_view source, std::u16string_view archive,
                                    bool replace_existing, int deflate_level, std::uint32_t threads,
                                    const UnpackedArchive* unpacked, EngineLog& log,
                                    PackCounts* counts);

}  // namespace orvex::engine
