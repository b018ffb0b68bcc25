#include "engine/pack.h"

#include <libdeflate.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "common/format.h"
#include "common/path_text.h"
#include "platform/directory_tree.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace orvex::engine {
namespace {

// Enough of a file's start to judge its content, small enough to cost nothing beside deflate.
constexpr std::size_t kSampleSize = 16 * 1024;
constexpr std::size_t kMinSampleSize = 4 * 1024;
// Bits per byte above which deflate gains next to nothing (random data measures 7.99 on 16 KiB).
constexpr double kIncompressibleEntropy = 7.9;
// Temporary names tried beside the archive before giving up.
constexpr std::uint32_t kTemporaryNameTries = 100;
// Files are compressed in pieces of this size, each on its own, so that one large file keeps
// every worker busy. The size is fixed: the archive's bytes do not depend on the worker count.
constexpr std::uint32_t kPieceSize = 32u << 20;
// What a piece costs in the budget of data in flight besides its bytes, so that a run of empty
// files cannot queue without bound either.
constexpr std::uint64_t kPieceOverhead = 1024;
// Pieces are deflated in slices of this size, between which a stop request is noticed.
constexpr std::uint32_t kSliceSize = 1u << 20;
// How often the writer, waiting for a piece, looks for a stop request.
constexpr std::chrono::milliseconds kStopPollInterval{20};
// The archive is written in blocks of this size.
constexpr std::size_t kOutputBlockSize = 1u << 20;
// From this size on a file's local header gets ZIP64 fields, which cannot be added once its data
// is written; the margin covers what deflate adds to data that does not shrink.
constexpr std::uint64_t kZip64Threshold = 0xFFFFFFFFull - (64u << 20);
// Made by a Unix system: the external attributes carry the mode in their high half (and the
// MS-DOS attributes in their low byte for readers that look there).
constexpr uLong kVersionMadeBy = (3u << 8) | 20;
constexpr uLong kUtf8NameFlag = 0x800;
constexpr std::uint32_t kDosReadOnly = 0x01;
constexpr std::uint32_t kDosDirectory = 0x10;
// The extended timestamp field: the modification time in UTC, which the MS-DOS time lacks.
constexpr unsigned char kTimestampField[] = {0x55, 0x54, 5, 0, 1};

// One entry of the archive, in the order the archive holds them.
struct Entry {
  enum Kind { kDirectory, kFile, kUnlisted };  // kUnlisted: a directory that cannot be listed
  Kind kind = kFile;
  std::u16string path = {};
  std::string name = {};  // UTF-8, with "/" after a directory
  std::int64_t time = 0;
  std::uint64_t size = 0;
  bool read_only = false;
  std::uint32_t error = ERROR_SUCCESS;  // why a directory cannot be listed
  std::size_t first_piece = 0;
  std::size_t pieces = 0;
};

// A part of a file's data and, once `done`, what a worker made of it.
struct Piece {
  std::size_t entry = 0;
  std::uint64_t offset = 0;
  std::uint32_t length = 0;
  bool last = false;
  bool done = false;
  bool stored = false;
  bool read_failed = false;
  std::uint32_t error = ERROR_SUCCESS;
  std::uint32_t crc = 0;
  std::unique_ptr<unsigned char[]> data = nullptr;
  std::size_t size = 0;
};

// The MS-DOS date and time of the local wall-clock time, clamped to the years it can hold.
uLong DosTime(std::int64_t time) {
  platform::LocalTime t;
  if (!platform::LocalTimeOf(time, &t) || t.year < 1980) return (1u << 21) | (1u << 16);
  if (t.year > 2107) {
    return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29;
  }
  return (static_cast<uLong>(t.year - 1980) << 25) | (static_cast<uLong>(t.month) << 21) |
         (static_cast<uLong>(t.day) << 16) | (static_cast<uLong>(t.hour) << 11) |
         (static_cast<uLong>(t.minute) << 5) | (static_cast<uLong>(t.second) / 2);
}

// Reads exactly `size` bytes; a file that ends sooner shrank while it was packed.
std::uint32_t ReadExactly(platform::FileHandle& file, unsigned char* buffer, std::uint32_t size) {
  for (std::uint32_t done = 0; done < size;) {
    std::uint32_t read = 0;
    if (const std::uint32_t error = platform::ReadFile(file, buffer + done, size - done, &read)) {
      return error;
    }
    if (read == 0) return ERROR_HANDLE_EOF;
    done += read;
  }
  return ERROR_SUCCESS;
}

// Compresses the pieces of the files on worker threads, in archive order and no further ahead
// of the writer than a fixed budget of data allows.
class PieceCompressor {
 public:
  PieceCompressor(const std::vector<Entry>& entries, std::vector<Piece>& pieces, int level,
                  std::uint32_t threads)
      : entries_(entries),
        pieces_(pieces),
        level_(level),
        budget_(std::uint64_t{threads} * 2 * kPieceSize) {
    threads = static_cast<std::uint32_t>(std::min<std::size_t>(threads, pieces.size()));
    try {
      for (std::uint32_t i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
    } catch (...) {
      Stop();
      throw;
    }
  }
  ~PieceCompressor() { Stop(); }
  PieceCompressor(const PieceCompressor&) = delete;
  PieceCompressor& operator=(const PieceCompressor&) = delete;

  // Waits for piece `index`, whose predecessors must all have been released; null when the user
  // asks to stop meanwhile.
  const Piece* Wait(std::size_t index) {
    std::unique_lock lock(mutex_);
    while (!pieces_[index].done) {
      if (platform::StopRequested()) return nullptr;
      done_.wait_for(lock, kStopPollInterval);
    }
    return &pieces_[index];
  }

  // Frees a written piece and gives its share of the budget back.
  void Release(std::size_t index) {
    pieces_[index].data.reset();
    {
      const std::lock_guard lock(mutex_);
      in_flight_ -= Cost(pieces_[index]);
    }
    room_.notify_all();
  }

 private:
  // What one worker keeps between pieces.
  struct Tools {
    std::unique_ptr<unsigned char[]> input;
    std::size_t capacity = 0;
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> whole{
        nullptr, &libdeflate_free_compressor};
    std::unique_ptr<z_stream> stream;  // for files of several pieces
    ~Tools() {
      if (stream) deflateEnd(stream.get());
    }
  };

  static std::uint64_t Cost(const Piece& piece) { return piece.length + kPieceOverhead; }

  // The workers give up or finish the piece they hold, and are always joined.
  void Stop() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    room_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }

  void Work() {
    Tools tools;
    std::unique_lock lock(mutex_);
    for (;;) {
      // The writer takes pieces in order: the one it waits for is always either in the works or
      // the next to start, with no budget in use before it.
      room_.wait(lock, [&] {
        return stopping_ || next_ == pieces_.size() || in_flight_ == 0 ||
               in_flight_ + Cost(pieces_[next_]) <= budget_;
      });
      if (stopping_ || next_ == pieces_.size()) return;
      Piece& piece = pieces_[next_++];
      in_flight_ += Cost(piece);
      lock.unlock();
      try {
        Compress(piece, tools);
      } catch (const std::bad_alloc&) {
        piece.error = ERROR_OUTOFMEMORY;
      }
      lock.lock();
      piece.done = true;
      done_.notify_one();
    }
  }

  void Compress(Piece& piece, Tools& tools) {
    const Entry& entry = entries_[piece.entry];
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
    piece.stored = entry.size == 0 || LooksIncompressible(std::span<const unsigned char>(
                                          piece.offset == 0 ? input : sample, sample_size));
    piece.crc = static_cast<std::uint32_t>(libdeflate_crc32(0, input, piece.length));
    if (piece.stored) {
      piece.data = std::make_unique_for_overwrite<unsigned char[]>(piece.length);
      std::copy_n(input, piece.length, piece.data.get());
      piece.size = piece.length;
    } else if (entry.pieces == 1) {
      // A whole file at once: the whole-buffer compressor is the fastest.
      if (!tools.whole) tools.whole.reset(libdeflate_alloc_compressor(level_));
      if (!tools.whole) throw std::bad_alloc();
      const std::size_t bound = libdeflate_deflate_compress_bound(tools.whole.get(), piece.length);
      piece.data = std::make_unique_for_overwrite<unsigned char[]>(bound);
      piece.size = libdeflate_deflate_compress(tools.whole.get(), input, piece.length,
                                               piece.data.get(), bound);
      if (piece.size == 0) piece.error = ERROR_GEN_FAILURE;
    } else {
      // Pieces before the last end on a byte boundary without a final block, so that the next
      // piece's blocks simply follow; deflated a slice at a time to notice a stop soon.
      if (!tools.stream) {
        auto stream = std::make_unique<z_stream>();
        if (deflateInit2(stream.get(), level_, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
            Z_OK) {
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
        z.next_in = input + done;
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
  }

  const std::vector<Entry>& entries_;
  std::vector<Piece>& pieces_;
  const int level_;
  const std::uint64_t budget_;
  std::mutex mutex_;
  std::condition_variable room_;  // a worker may start a piece
  std::condition_variable done_;  // a piece is done
  std::size_t next_ = 0;
  std::uint64_t in_flight_ = 0;
  std::atomic<bool> stopping_ = false;
  std::vector<std::thread> workers_;
};

// The temporary archive file as the ZIP writer's output: its writes gathered into large blocks,
// and the few bytes of a local header it rewrites after the entry's data served in the block
// while they are still there.
class ArchiveOutput {
 public:
  platform::FileHandle file;
  std::uint32_t error = ERROR_SUCCESS;  // the first platform error met
  bool abandoned = false;               // nothing more is written

  std::uint64_t Position() const { return start_ + cursor_; }

  bool Write(const unsigned char* data, std::size_t size) {
    if (abandoned || error != ERROR_SUCCESS) return false;
    while (size > 0) {
      if (cursor_ == block_.size() && !Flush()) return false;
      const std::size_t count = std::min(size, block_.size() - cursor_);
      std::memcpy(block_.data() + cursor_, data, count);
      cursor_ += count;
      filled_ = std::max(filled_, cursor_);
      data += count;
      size -= count;
    }
    return true;
  }

  bool Seek(std::uint64_t position) {
    if (position >= start_ && position - start_ <= filled_) {
      cursor_ = static_cast<std::size_t>(position - start_);
      return true;
    }
    if (!Flush()) return false;
    start_ = position;
    return true;
  }

  // Writes out the block; what follows goes where the cursor stands.
  bool Flush() {
    if (abandoned || error != ERROR_SUCCESS) return false;
    if (filled_ > 0) {
      if (file_position_ != start_) {
        error = platform::SetFilePointerEx(file, static_cast<std::int64_t>(start_),
                                           platform::FILE_BEGIN, nullptr);
      }
      std::uint32_t written = 0;
      if (error == ERROR_SUCCESS) {
        error =
            platform::WriteFile(file, block_.data(), static_cast<std::uint32_t>(filled_), &written);
      }
      if (error != ERROR_SUCCESS) return false;
      file_position_ = start_ + filled_;
    }
    start_ += cursor_;
    cursor_ = filled_ = 0;
    return true;
  }

 private:
  std::vector<unsigned char> block_ = std::vector<unsigned char>(kOutputBlockSize);
  std::uint64_t start_ = 0;  // where the block goes in the file
  std::size_t cursor_ = 0;
  std::size_t filled_ = 0;
  std::uint64_t file_position_ = 0;
};

// The ZIP writer's file functions, all on the one ArchiveOutput it is opened with.
voidpf OpenOutput(voidpf /*opaque*/, const void* output, int /*mode*/) {
  return const_cast<void*>(output);
}
uLong ReadOutput(voidpf /*opaque*/, voidpf /*stream*/, void* /*buffer*/, uLong /*size*/) {
  return 0;  // a new archive is never read
}
uLong WriteOutput(voidpf /*opaque*/, voidpf stream, const void* buffer, uLong size) {
  return static_cast<ArchiveOutput*>(stream)->Write(static_cast<const unsigned char*>(buffer), size)
             ? size
             : 0;
}
ZPOS64_T TellOutput(voidpf /*opaque*/, voidpf stream) {
  return static_cast<ArchiveOutput*>(stream)->Position();
}
long SeekOutput(voidpf /*opaque*/, voidpf stream, ZPOS64_T offset, int origin) {
  // The writer only ever goes back to a header or forth to the end it came from.
  if (origin != ZLIB_FILEFUNC_SEEK_SET) return -1;
  return static_cast<ArchiveOutput*>(stream)->Seek(offset) ? 0 : -1;
}
int CloseOutput(voidpf /*opaque*/, voidpf stream) {
  return static_cast<ArchiveOutput*>(stream)->Flush() ? 0 : -1;
}
int OutputError(voidpf /*opaque*/, voidpf stream) {
  return static_cast<ArchiveOutput*>(stream)->error != ERROR_SUCCESS ? 1 : 0;
}

class Packer {
 public:
  Packer(EngineLog& log, PackCounts* counts, int deflate_level, std::uint32_t threads)
      : log_(log), counts_(counts), deflate_level_(deflate_level), threads_(threads) {}

  HRESULT Run(std::u16string_view source, std::u16string_view archive, bool replace_existing);

 private:
  HRESULT CreateTemporary();
  bool Walk(const std::u16string& directory, const std::string& prefix);
  HRESULT WriteEntries();
  HRESULT WriteFile(const Entry& entry, PieceCompressor& compressor);
  HRESULT OpenEntry(const Entry& entry, bool stored);
  HRESULT WriteFailure(std::u16string_view name, int result);

  EngineLog& log_;
  PackCounts* counts_;
  int deflate_level_;
  std::uint32_t threads_;
  std::u16string source_;
  std::u16string target_;
  std::u16string temporary_;
  std::vector<Entry> entries_;
  std::vector<Piece> pieces_;
  ArchiveOutput output_;
  zipFile zip_ = nullptr;
};

HRESULT Packer::CreateTemporary() {
  for (std::uint32_t n = 1; n <= kTemporaryNameTries; ++n) {
    std::u16string name = target_ + Format(u".%u.tmp", n);
    const std::uint32_t error =
        platform::CreateFile(name, platform::GENERIC_WRITE, platform::CREATE_NEW, &output_.file);
    if (error == ERROR_SUCCESS) {
      temporary_ = std::move(name);
      return S_OK;
    }
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      log_.Line(u"Zip: cannot create '%s' (Error %d)", name, static_cast<std::int32_t>(error));
      return HResultFromWin32(error);
    }
  }
  log_.Line(u"Zip: no free temporary name beside '%s'", target_);
  return HResultFromWin32(ERROR_FILE_EXISTS);
}

HRESULT Packer::Run(std::u16string_view source, std::u16string_view archive,
                    bool replace_existing) {
  std::u16string full;
  if (const std::uint32_t error = platform::GetFullPathName(source, &full, nullptr)) {
    return HResultFromWin32(error);
  }
  source_ = WithoutFinalSeparators(full);
  if (const std::uint32_t error = platform::GetFullPathName(archive, &full, nullptr)) {
    return HResultFromWin32(error);
  }
  target_ = WithoutFinalSeparators(full);

  std::uint32_t attributes = 0;
  std::uint32_t error = platform::GetFileAttributes(source_, &attributes);
  if (error == ERROR_SUCCESS && (attributes & platform::FILE_ATTRIBUTE_DIRECTORY) == 0) {
    error = ERROR_DIRECTORY;
  }
  if (error != ERROR_SUCCESS) {
    log_.Line(u"Zip: source '%s' is not a directory (Error %d)", source_,
              static_cast<std::int32_t>(error));
    return HResultFromWin32(error);
  }
  if (!replace_existing && platform::GetFileAttributes(target_, &attributes) == ERROR_SUCCESS) {
    log_.Line(u"Zip: archive '%s' exists already", target_);
    return HResultFromWin32(ERROR_FILE_EXISTS);
  }

  RETURN_IF_FAILED(CreateTemporary());
  (void)Walk(source_, std::string());
  zlib_filefunc64_def functions = {&OpenOutput, &ReadOutput,  &WriteOutput, &TellOutput,
                                   &SeekOutput, &CloseOutput, &OutputError, nullptr};
  zip_ = zipOpen2_64(&output_, APPEND_STATUS_CREATE, nullptr, &functions);
  HRESULT hr = zip_ != nullptr ? WriteEntries() : E_OUTOFMEMORY;
  if (zip_ != nullptr) {
    // After a failure the writer only frees what it holds.
    output_.abandoned = FAILED(hr);
    const int closed = zipClose(zip_, nullptr);
    if (SUCCEEDED(hr) && closed != ZIP_OK) hr = WriteFailure(target_, closed);
  }
  // The archive reaches the disk before it takes its name: after a crash the name holds the
  // whole archive or nothing new.
  if (SUCCEEDED(hr)) {
    if (const std::uint32_t flush_error = platform::FlushFileBuffers(output_.file)) {
      log_.Line(u"Zip: cannot flush '%s' (Error %d)", temporary_,
                static_cast<std::int32_t>(flush_error));
      hr = HResultFromWin32(flush_error);
    }
  }
  platform::CloseHandle(output_.file);
  if (SUCCEEDED(hr)) {
    const std::uint32_t flags = replace_existing ? platform::MOVEFILE_REPLACE_EXISTING : 0;
    if (const std::uint32_t moved = platform::MoveFileEx(temporary_, target_, flags)) {
      log_.Line(u"Zip: cannot rename '%s' to '%s' (Error %d)", temporary_, target_,
                static_cast<std::int32_t>(moved));
      hr = HResultFromWin32(moved);
    }
  }
  // A failed run leaves nothing behind, not even a partial archive.
  if (FAILED(hr)) (void)platform::DeleteFile(temporary_);
  return hr;
}

// Lists the tree below `directory` into entries_ and pieces_, in archive order. A directory that
// cannot be listed ends the list (false), where packing will fail.
bool Packer::Walk(const std::u16string& directory, const std::string& prefix) {
  const std::u16string directory_prefix = directory + platform::PathSeparator();
  std::vector<platform::FindData> found;
  if (const std::uint32_t error = platform::ListDirectory(directory_prefix + u"*", &found)) {
    entries_.push_back({.kind = Entry::kUnlisted, .path = directory, .error = error});
    return false;
  }
  // The same order on every system, whatever order its file system keeps: the system's own name
  // comparison, then the exact text.
  std::ranges::sort(found, [](const platform::FindData& a, const platform::FindData& b) {
    const int order = CompareIgnoreCase(a.name, b.name);
    return order != 0 ? order < 0 : a.name < b.name;
  });
  for (const platform::FindData& item : found) {
    std::u16string path = directory_prefix + item.name;
    std::string name = prefix + ToUtf8(item.name);
    if ((item.data.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0) {
      name += '/';
      entries_.push_back({.kind = Entry::kDirectory,
                          .path = path,
                          .name = name,
                          .time = item.data.last_write_time});
      if (!Walk(path, name)) return false;
    } else if (path != temporary_ && path != target_) {
      const std::size_t count =
          std::max<std::uint64_t>(1, (item.data.size + kPieceSize - 1) / kPieceSize);
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t offset = std::uint64_t{i} * kPieceSize;
        pieces_.push_back({.entry = entries_.size(),
                           .offset = offset,
                           .length = static_cast<std::uint32_t>(
                               std::min<std::uint64_t>(item.data.size - offset, kPieceSize)),
                           .last = i + 1 == count});
      }
      entries_.push_back(
          {.kind = Entry::kFile,
           .path = std::move(path),
           .name = std::move(name),
           .time = item.data.last_write_time,
           .size = item.data.size,
           .read_only = (item.data.attributes & platform::FILE_ATTRIBUTE_READONLY) != 0,
           .first_piece = pieces_.size() - count,
           .pieces = count});
    }
  }
  return true;
}

HRESULT Packer::WriteEntries() {
  PieceCompressor compressor(entries_, pieces_, deflate_level_, threads_);
  for (const Entry& entry : entries_) {
    RETURN_IF_FAILED(StopIfRequested(log_, u"Zip"));
    switch (entry.kind) {
      case Entry::kUnlisted:
        log_.Line(u"Zip: cannot list '%s' (Error %d)", entry.path,
                  static_cast<std::int32_t>(entry.error));
        return HResultFromWin32(entry.error);
      case Entry::kDirectory: {
        RETURN_IF_FAILED(OpenEntry(entry, true));
        if (const int result = zipCloseFileInZipRaw64(zip_, 0, 0); result != ZIP_OK) {
          return WriteFailure(ToUtf16(entry.name), result);
        }
        ++counts_->directories;
        break;
      }
      case Entry::kFile:
        RETURN_IF_FAILED(WriteFile(entry, compressor));
        break;
    }
  }
  return S_OK;
}

HRESULT Packer::WriteFile(const Entry& entry, PieceCompressor& compressor) {
  std::uint32_t crc = 0;
  for (std::size_t i = entry.first_piece; i < entry.first_piece + entry.pieces; ++i) {
    if (i != entry.first_piece) RETURN_IF_FAILED(StopIfRequested(log_, u"Zip"));
    const Piece* waited = compressor.Wait(i);
    if (waited == nullptr) return StopIfRequested(log_, u"Zip");
    const Piece& piece = *waited;
    if (piece.error != ERROR_SUCCESS) {
      if (piece.read_failed) {
        log_.Line(u"Zip: cannot read '%s' (Error %d)", entry.path,
                  static_cast<std::int32_t>(piece.error));
      }
      return HResultFromWin32(piece.error);
    }
    if (i == entry.first_piece) RETURN_IF_FAILED(OpenEntry(entry, piece.stored));
    if (piece.size > 0) {
      const int result =
          zipWriteInFileInZip(zip_, piece.data.get(), static_cast<unsigned>(piece.size));
      if (result != ZIP_OK) return WriteFailure(ToUtf16(entry.name), result);
    }
    crc = i == entry.first_piece
              ? piece.crc
              : static_cast<std::uint32_t>(crc32_combine(crc, piece.crc, piece.length));
    compressor.Release(i);
  }
  if (const int result = zipCloseFileInZipRaw64(zip_, entry.size, crc); result != ZIP_OK) {
    return WriteFailure(ToUtf16(entry.name), result);
  }
  ++counts_->files;
  counts_->bytes += entry.size;
  return S_OK;
}

HRESULT Packer::OpenEntry(const Entry& entry, bool stored) {
  const bool directory = entry.kind == Entry::kDirectory;
  const std::uint32_t mode = directory ? 040755 : (entry.read_only ? 0100444 : 0100644);
  zip_fileinfo info = {};
  info.dosDate = DosTime(entry.time);
  info.external_fa =
      (mode << 16) | (directory ? kDosDirectory : 0) | (entry.read_only ? kDosReadOnly : 0);
  // The exact time in UTC where 32 bits hold it; the MS-DOS time alone elsewhere.
  unsigned char extra[sizeof(kTimestampField) + 4];
  std::size_t extra_size = 0;
  if (entry.time >= INT32_MIN && entry.time <= INT32_MAX) {
    std::memcpy(extra, kTimestampField, sizeof(kTimestampField));
    const auto time = static_cast<std::uint32_t>(entry.time);
    for (int i = 0; i < 4; ++i) extra[sizeof(kTimestampField) + i] = (time >> (8 * i)) & 0xFF;
    extra_size = sizeof(extra);
  }
  // ASCII names read the same in every code page; others are marked as UTF-8.
  const bool ascii = std::ranges::all_of(entry.name, [](char c) { return (c & 0x80) == 0; });
  const int result = zipOpenNewFileInZip4_64(
      zip_, entry.name.c_str(), &info, extra, static_cast<uInt>(extra_size), extra,
      static_cast<uInt>(extra_size), nullptr, stored ? 0 : Z_DEFLATED, stored ? 0 : deflate_level_,
      /*raw=*/1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, kVersionMadeBy,
      ascii ? 0 : kUtf8NameFlag, entry.size >= kZip64Threshold ? 1 : 0);
  return result == ZIP_OK ? S_OK : WriteFailure(ToUtf16(entry.name), result);
}

HRESULT Packer::WriteFailure(std::u16string_view name, int result) {
  const std::uint32_t error = output_.error != ERROR_SUCCESS ? output_.error : ERROR_GEN_FAILURE;
  log_.Line(u"Zip: cannot write '%s' into '%s': %S (Error %d)", name, target_,
            result == ZIP_ERRNO ? "write error" : "the ZIP writer refused it",
            static_cast<std::int32_t>(error));
  return HResultFromWin32(error);
}

}  // namespace

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

HRESULT PackDirectory(std::u16string_view source, std::u16string_view archive,
                      bool replace_existing, int deflate_level, std::uint32_t threads,
                      EngineLog& log, PackCounts* counts) {
  *counts = PackCounts();
  return Packer(log, counts, deflate_level, std::max<std::uint32_t>(threads, 1))
      .Run(source, archive, replace_existing);
}

}  // namespace orvex::engine
