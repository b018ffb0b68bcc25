#include "engine/piece_compressor.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>
#include <span>

#include "engine/read_exactly.h"
#include "engine/zip_format.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/process.h"

namespace orvex::engine {
namespace {

// Enough of a file's start to judge its content, small enough to cost nothing beside deflate.
constexpr std::size_t kSampleSize = 16 * 1024;
constexpr std::size_t kMinSampleSize = 4 * 1024;
// Bits per byte above which deflate gains next to nothing (random data measures 7.99 on 16 KiB).
constexpr double kIncompressibleEntropy = 7.9;
// What a piece costs in the budget of data in flight besides its bytes, so that a run of empty
// files cannot queue without bound either.
constexpr std::uint64_t kPieceOverhead = 1024;
// The bytes held by pieces in the works (what they read) and done (what they made) and not yet
// written, per worker: enough to keep each busy while the writer catches up or waits for a large
// piece, and for a profile's .reg files of tens of MiB to deflate side by side (at 16 MiB they went
// one at a time: 0.3 s more at scale 1, 15 MiB less at the peak). A larger piece starts only when
// nothing else is in flight.
constexpr std::uint64_t kInFlightPerWorker = 32u << 20;
// Pieces are deflated in slices of this size, between which a stop request is noticed.
constexpr std::uint32_t kSliceSize = 1u << 20;
// How often the writer, waiting for a piece, looks for a stop request.
constexpr std::chrono::milliseconds kStopPollInterval{20};

// What a piece holds in the works, and once done: a file copied from the input archive, most of
// a profile, then holds nothing, so that the workers run on past it while the writer waits.
std::uint64_t Cost(const Piece& piece) { return piece.length + kPieceOverhead; }
std::uint64_t Held(const Piece& piece) { return (piece.data ? piece.size : 0) + kPieceOverhead; }

// Whether a sample of a file's first bytes looks like data deflate cannot shrink (already
// compressed or random), so that storing it saves the work for nothing.
bool LooksIncompressible(std::span<const unsigned char> sample) {
  if (sample.size() < kMinSampleSize) return false;
  std::uint32_t counts[256] = {};
  for (const unsigned char byte : sample) ++counts[byte];
  double entropy = 0;
  const double total = static_cast<double>(sample.size());
  for (const std::uint32_t count : counts) {
    if (count == 0) continue;
    const double p = count / total;
    entropy -= p * std::log2(p);
  }
  return entropy > kIncompressibleEntropy;
}

}  // namespace

// What one worker keeps between pieces.
struct PieceCompressor::Tools {
  std::unique_ptr<unsigned char[]> input;
  std::size_t capacity = 0;
  std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> whole{
      nullptr, &libdeflate_free_compressor};
  std::unique_ptr<z_stream> stream;  // for files of several pieces
  ~Tools() {
    if (stream) deflateEnd(stream.get());
  }
};

std::size_t AddPieces(std::size_t entry, std::uint64_t size, std::vector<Piece>* pieces) {
  const std::size_t count = std::max<std::uint64_t>(1, (size + kPieceSize - 1) / kPieceSize);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t offset = std::uint64_t{i} * kPieceSize;
    pieces->push_back(
        {.entry = entry,
         .offset = offset,
         .length = static_cast<std::uint32_t>(std::min<std::uint64_t>(size - offset, kPieceSize)),
         .last = i + 1 == count});
  }
  return count;
}

PieceCompressor::PieceCompressor(const std::vector<PackEntry>& entries, std::vector<Piece>& pieces,
                                 int level, std::uint32_t threads, const UnpackedArchive* unpacked)
    : entries_(entries),
      pieces_(pieces),
      level_(level),
      budget_(std::uint64_t{threads} * kInFlightPerWorker),
      unpacked_(unpacked) {
  // A file Unzip kept in the archive needs no worker: its compressed bytes are copied as they lie.
  for (Piece& piece : pieces_) {
    if (const EntryPlace* kept = entries_[piece.entry].kept) {
      piece.crc = kept->crc;
      piece.method = kept->method;
      piece.copied_from = kept;
      piece.done = true;
    }
  }
  SkipDone();
  threads = static_cast<std::uint32_t>(std::min<std::size_t>(threads, pieces.size()));
  try {
    for (std::uint32_t i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
  } catch (...) {
    Stop();
    throw;
  }
}

const Piece* PieceCompressor::Wait(std::size_t index) {
  std::unique_lock lock(mutex_);
  while (!pieces_[index].done) {
    if (platform::StopRequested()) return nullptr;
    done_.wait_for(lock, kStopPollInterval);
  }
  return &pieces_[index];
}

void PieceCompressor::Release(std::size_t index) {
  if (entries_[pieces_[index].entry].kept != nullptr) return;  // it never took a share
  {
    const std::lock_guard lock(mutex_);
    in_flight_ -= Held(pieces_[index]);
  }
  pieces_[index].data.reset();
  room_.notify_all();
}

void PieceCompressor::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  room_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void PieceCompressor::SkipDone() {
  while (next_ < pieces_.size() && pieces_[next_].done) ++next_;
}

void PieceCompressor::Work() {
  Tools tools;
  std::unique_lock lock(mutex_);
  for (;;) {
    // The writer takes pieces in order: the one it waits for is always either in the works or
    // the next to start, with no budget in use before it.
    room_.wait(lock, [&] {
      return stopping_ || next_ == pieces_.size() || in_flight_ == 0 ||
             in_flight_ - oversized_ + Cost(pieces_[next_]) <= budget_;
    });
    if (stopping_ || next_ == pieces_.size()) return;
    Piece& piece = pieces_[next_++];
    SkipDone();
    in_flight_ += Cost(piece);
    const std::uint64_t oversized = Cost(piece) > budget_ ? Cost(piece) : 0;
    oversized_ += oversized;
    lock.unlock();
    try {
      Compress(piece, tools);
    } catch (const std::bad_alloc&) {
      piece.error = ERROR_OUTOFMEMORY;
    }
    lock.lock();
    piece.done = true;
    in_flight_ = in_flight_ - Cost(piece) + Held(piece);
    oversized_ -= oversized;
    done_.notify_one();
    room_.notify_all();
  }
}

void PieceCompressor::Compress(Piece& piece, Tools& tools) {
  const PackEntry& entry = entries_[piece.entry];
  if (tools.capacity < piece.length) {
    tools.input = std::make_unique_for_overwrite<unsigned char[]>(piece.length);
    tools.capacity = piece.length;
  }
  unsigned char* input = tools.input.get();
  // How a file is stored depends on its first bytes only, whichever piece this is.
  unsigned char sample[kSampleSize];
  const std::size_t sample_size = std::min<std::uint64_t>(entry.size, kSampleSize);
  platform::FileHandle file;
  std::uint32_t error =
      platform::CreateFile(entry.path, platform::GENERIC_READ, platform::OPEN_EXISTING, &file);
  if (error == ERROR_SUCCESS && piece.offset != 0) {
    error = ReadExactly(file, sample, static_cast<std::uint32_t>(sample_size));
    if (error == ERROR_SUCCESS) {
      error = platform::SetFilePointerEx(file, static_cast<std::int64_t>(piece.offset),
                                         platform::FILE_BEGIN, nullptr);
    }
  }
  if (error == ERROR_SUCCESS) error = ReadExactly(file, input, piece.length);
  if (error != ERROR_SUCCESS) {
    piece.error = error;
    piece.read_failed = true;
    return;
  }
  piece.crc = static_cast<std::uint32_t>(libdeflate_crc32(0, input, piece.length));
  if (const EntryPlace* place = entry.pieces == 1 ? UnchangedEntry(piece, file) : nullptr) {
    // Its compressed bytes are copied from the input archive as they lie.
    piece.method = place->method;
    piece.copied_from = place;
    return;
  }
  if (entry.size == 0 || LooksIncompressible(std::span<const unsigned char>(
                             piece.offset == 0 ? input : sample, sample_size))) {
    piece.method = zip::kMethodStored;
    piece.data = std::make_unique_for_overwrite<unsigned char[]>(piece.length);
    std::copy_n(input, piece.length, piece.data.get());
    piece.size = piece.length;
    return;
  }
  Deflate(piece, input, tools);
}

const EntryPlace* PieceCompressor::UnchangedEntry(const Piece& piece,
                                                  const platform::FileHandle& file) const {
  if (unpacked_ == nullptr) return nullptr;
  platform::FileState state;
  if (platform::GetFileState(file, &state) != ERROR_SUCCESS) return nullptr;
  const auto found = unpacked_->files.find(state.identity);
  if (found == unpacked_->files.end() || found->second.state != state) return nullptr;
  const EntryPlace& place = found->second.place;
  // Same size and times can hide a change (a copy that kept them, a write within the clock's
  // step): the content itself must still be what the entry holds.
  if (!CopiesCompressedBytes(place) || place.uncompressed != piece.length ||
      place.crc != piece.crc) {
    return nullptr;
  }
  return &place;
}

void PieceCompressor::Deflate(Piece& piece, const unsigned char* input, Tools& tools) {
  piece.method = zip::kMethodDeflated;
  if (entries_[piece.entry].pieces == 1) {
    // A whole file at once: the whole-buffer compressor is the fastest.
    if (!tools.whole) tools.whole.reset(libdeflate_alloc_compressor(level_));
    if (!tools.whole) throw std::bad_alloc();
    const std::size_t bound = libdeflate_deflate_compress_bound(tools.whole.get(), piece.length);
    piece.data = std::make_unique_for_overwrite<unsigned char[]>(bound);
    piece.size = libdeflate_deflate_compress(tools.whole.get(), input, piece.length,
                                             piece.data.get(), bound);
    if (piece.size == 0) piece.error = ERROR_GEN_FAILURE;
    return;
  }
  // Pieces before the last end on a byte boundary without a final block, so that the next
  // piece's blocks simply follow; deflated a slice at a time to notice a stop soon.
  if (!tools.stream) {
    auto stream = std::make_unique<z_stream>();
    if (deflateInit2(stream.get(), level_, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      throw std::bad_alloc();
    }
    tools.stream = std::move(stream);
  }
  z_stream& z = *tools.stream;
  (void)deflateReset(&z);
  // Room for the flush marker besides what the stream's end would take.
  const uLong bound = deflateBound(&z, piece.length) + 16;
  piece.data = std::make_unique_for_overwrite<unsigned char[]>(bound);
  z.next_out = piece.data.get();
  z.avail_out = static_cast<uInt>(bound);
  for (std::uint32_t done = 0; done < piece.length;) {
    if (stopping_) {
      piece.error = ERROR_CANCELLED;
      return;
    }
    const std::uint32_t slice = std::min(piece.length - done, kSliceSize);
    z.next_in = const_cast<unsigned char*>(input) + done;
    z.avail_in = slice;
    done += slice;
    const int flush = done < piece.length ? Z_NO_FLUSH : (piece.last ? Z_FINISH : Z_SYNC_FLUSH);
    const int result = deflate(&z, flush);
    if (z.avail_in != 0 || z.avail_out == 0 ||
        result != (flush == Z_FINISH ? Z_STREAM_END : Z_OK)) {
      piece.error = ERROR_GEN_FAILURE;
      return;
    }
  }
  piece.size = bound - z.avail_out;
}

}  // namespace orvex::engine
