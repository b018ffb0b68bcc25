#pragma once
// Compressing the files of an archive being packed: pieces of them on worker threads, in archive
// order, a bounded amount ahead of the writer; unchanged files unpacked by the same engine take
// their compressed bytes from the input archive instead.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/result.h"
#include "engine/unpacked_archive.h"
#include "engine/zip_format.h"

namespace orvex::engine {

/// Files larger than this are compressed in pieces of this size, each on its own, so that one very
/// large file keeps every worker busy. Pieces are joined by zlib's stream, which deflates a third
/// as fast as libdeflate does a whole file: a profile's largest files (.reg files of tens of MiB)
/// stay whole. The size is fixed: the archive's bytes do not depend on the worker count.
constexpr std::uint32_t kPieceSize = 64u << 20;

/// One entry of the archive, in the order the archive holds them.
struct PackEntry {
  enum Kind { kDirectory, kFile, kUnlisted };  ///< kUnlisted: a directory that cannot be listed
  Kind kind = kFile;
  std::u16string path = {};  ///< of a file on the disk, or of a directory that cannot be listed
  std::string name = {};     ///< UTF-8, with "/" after a directory
  std::int64_t time = 0;
  std::uint64_t size = 0;
  bool read_only = false;
  std::uint32_t error = ERROR_SUCCESS;  ///< why a directory cannot be listed
  std::size_t first_piece = 0;
  std::size_t pieces = 0;
  /// For a file Unzip kept in the input archive (never on the disk), its entry's place there.
  const EntryPlace* kept = nullptr;
};

/// A part of a file's data and, once `done`, what a worker made of it.
struct Piece {
  std::size_t entry = 0;
  std::uint64_t offset = 0;
  std::uint32_t length = 0;
  bool last = false;
  bool done = false;
  std::uint16_t method = zip::kMethodDeflated;  ///< the same for every piece of a file
  /// For a file copied from the input archive, where its compressed bytes lie there (the writer
  /// reads them, so that no piece holds them); `data` is then empty.
  const EntryPlace* copied_from = nullptr;
  bool read_failed = false;
  std::uint32_t error = ERROR_SUCCESS;
  std::uint32_t crc = 0;
  std::unique_ptr<unsigned char[]> data = nullptr;
  std::size_t size = 0;
};

/// Splits a file of `size` bytes into pieces of at most kPieceSize (one for an empty file),
/// appended to `pieces` for the entry at `entry`; their count.
std::size_t AddPieces(std::size_t entry, std::uint64_t size, std::vector<Piece>* pieces);

/// Compresses the pieces of the files on worker threads, in archive order and no further ahead
/// of the writer than a fixed budget of data allows. A file of one piece that `unpacked` holds
/// as it was written (same identity, size and times, from the same unchanged archive), whose
/// entry was stored or deflated and whose content still has the entry's CRC-32, is marked to be
/// copied from the input archive, as is a file Unzip kept there; every other piece is stored when
/// it looks incompressible and deflated at `level` otherwise.
class PieceCompressor {
 public:
  PieceCompressor(const std::vector<PackEntry>& entries, std::vector<Piece>& pieces, int level,
                  std::uint32_t threads, const UnpackedArchive* unpacked);
  ~PieceCompressor() { Stop(); }
  PieceCompressor(const PieceCompressor&) = delete;
  PieceCompressor& operator=(const PieceCompressor&) = delete;

  /// Waits for piece `index`, whose predecessors must all have been released; null when the
  /// user asks to stop meanwhile.
  const Piece* Wait(std::size_t index);
  /// Frees a written piece and gives its share of the budget back.
  void Release(std::size_t index);

 private:
  struct Tools;

  // The workers give up or finish the piece they hold, and are always joined.
  void Stop();
  void Work();
  // Moves next_ past the pieces that were done from the start.
  void SkipDone();
  void Compress(Piece& piece, Tools& tools);
  // The input archive's entry that `piece` (a whole file, read from `file` and its CRC-32
  // computed) still is, as Unzip wrote it and nobody changed it since; null otherwise.
  const EntryPlace* UnchangedEntry(const Piece& piece, const platform::FileHandle& file) const;
  void Deflate(Piece& piece, const unsigned char* input, Tools& tools);

  const std::vector<PackEntry>& entries_;
  std::vector<Piece>& pieces_;
  const int level_;
  // Done pieces wait for the writer within this budget: it bounds the memory a packing holds
  // (half a piece a worker keeps every worker busy on deflate).
  const std::uint64_t budget_;
  const UnpackedArchive* const unpacked_;
  std::mutex mutex_;
  std::condition_variable room_;  // a worker may start a piece
  std::condition_variable done_;  // a piece is done
  std::size_t next_ = 0;
  std::uint64_t in_flight_ = 0;
  // The cost of a piece larger than the budget, which started alone, while it is in the works:
  // the other workers go on within the budget beside it.
  std::uint64_t oversized_ = 0;
  std::atomic<bool> stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace orvex::engine
