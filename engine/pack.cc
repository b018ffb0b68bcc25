#include "engine/pack.h"

#include <minizip/zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "common/path_text.h"
#include "engine/piece_compressor.h"
#include "engine/read_exactly.h"
#include "engine/zip_format.h"
#include "platform/directory_tree.h"
#include "platform/environment.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/search.h"
#include "platform/text.h"

namespace orvex::engine {
namespace {

// The archive is written in blocks of this size, and entries copied from the input archive are
// read in blocks of this size.
constexpr std::size_t kOutputBlockSize = 1u << 20;
constexpr std::size_t kCopyBlockSize = 1u << 20;
// From this size on a file's local header gets ZIP64 fields, which cannot be added once its data
// is written; the margin covers what deflate adds to data that does not shrink.
constexpr std::uint64_t kZip64Threshold = 0xFFFFFFFFull - (64u << 20);
// Made by a Unix system: the external attributes carry the mode in their high half (and the
// MS-DOS attributes in their low byte for readers that look there).
constexpr uLong kVersionMadeBy = (zip::kSystemUnix << 8) | 20;

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
  Packer(EngineLog& log, PackCounts* counts, int deflate_level, std::uint32_t threads,
         const UnpackedArchive* unpacked)
      : log_(log),
        counts_(counts),
        deflate_level_(deflate_level),
        threads_(threads),
        unpacked_(unpacked) {}

  HRESULT Run(std::u16string_view source, std::u16string_view archive, bool replace_existing);

 private:
  HRESULT CreateTemporary();
  bool Walk(const std::u16string& directory, const std::string& prefix);
  // The files Unzip kept in the archive for the folder `directory`, or null.
  const std::vector<KeptFile>* KeptIn(const std::u16string& directory) const;
  HRESULT WriteEntries();
  HRESULT WriteFile(const PackEntry& entry, PieceCompressor& compressor);
  // Gives an archive of more entries than its end record counts the ZIP64 end records that count
  // them, where the ZIP writer left them out.
  HRESULT AddZip64EndRecords(std::uint64_t directory_start);
  // Writes the compressed bytes of `entry` as they lie in the input archive.
  HRESULT CopyFromInput(const PackEntry& entry, const EntryPlace& place);
  HRESULT OpenEntry(const PackEntry& entry, std::uint16_t method);
  HRESULT WriteFailure(std::u16string_view name, int result);

  EngineLog& log_;
  PackCounts* counts_;
  int deflate_level_;
  std::uint32_t threads_;
  const UnpackedArchive* unpacked_;
  std::u16string source_;
  std::u16string target_;
  std::u16string temporary_;
  std::vector<PackEntry> entries_;
  std::vector<Piece> pieces_;
  std::uint64_t kept_found_ = 0;  // kept files placed in the walk
  ArchiveOutput output_;
  zipFile zip_ = nullptr;
  platform::FileHandle input_;  // the input archive, for the entries copied from it
  std::vector<unsigned char> copy_block_ = std::vector<unsigned char>(kCopyBlockSize);
};

HRESULT Packer::CreateTemporary() {
  std::u16string name;
  const std::uint32_t error = platform::CreateFileBeside(target_, &output_.file, &name);
  if (error == ERROR_SUCCESS) {
    temporary_ = std::move(name);
    return S_OK;
  }
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
    log_.Line(u"Zip: no free temporary name beside '%s'", target_);
    return HResultFromWin32(ERROR_FILE_EXISTS);
  }
  log_.Line(u"Zip: cannot create '%s' (Error %d)", name, static_cast<std::int32_t>(error));
  return HResultFromWin32(error);
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
    return HResultFromWin32(ERROR_ALREADY_EXISTS);
  }

  RETURN_IF_FAILED(CreateTemporary());
  // Every folder that holds kept files is still there: no rule reaches it.
  if (Walk(source_, std::string()) && unpacked_ != nullptr &&
      kept_found_ != unpacked_->kept_count) {
    log_.Line(u"Zip: %lld files kept in '%s' have no folder in '%s'",
              static_cast<std::int64_t>(unpacked_->kept_count - kept_found_), unpacked_->archive,
              source_);
    (void)platform::DeleteFile(temporary_);
    return HResultFromWin32(ERROR_INVALID_DATA);
  }
  // Both lists live until the archive is written, beside the largest files being deflated.
  entries_.shrink_to_fit();
  pieces_.shrink_to_fit();
  zlib_filefunc64_def functions = {&OpenOutput, &ReadOutput,  &WriteOutput, &TellOutput,
                                   &SeekOutput, &CloseOutput, &OutputError, nullptr};
  zip_ = zipOpen2_64(&output_, APPEND_STATUS_CREATE, nullptr, &functions);
  HRESULT hr = zip_ != nullptr ? WriteEntries() : E_OUTOFMEMORY;
  if (zip_ != nullptr) {
    // After a failure the writer only frees what it holds.
    output_.abandoned = FAILED(hr);
    const std::uint64_t directory_start = output_.Position();
    const int closed = zipClose(zip_, nullptr);
    if (SUCCEEDED(hr) && closed != ZIP_OK) hr = WriteFailure(target_, closed);
    if (SUCCEEDED(hr)) hr = AddZip64EndRecords(directory_start);
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
  // Bytes copied from an input archive that changed meanwhile may not be what they were checked
  // to be.
  if (SUCCEEDED(hr) && counts_->copied > 0 && !unpacked_->ArchiveUnchanged()) {
    log_.Line(u"Zip: '%s' changed while files were copied from it", unpacked_->archive);
    hr = HResultFromWin32(ERROR_INVALID_DATA);
  }
  // Renamed while still open, and so held: a closed temporary file counts as abandoned.
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
  platform::CloseHandle(output_.file);
  return hr;
}

// Lists the tree below `directory` into entries_ and pieces_, in archive order. A directory that
// cannot be listed ends the list (false), where packing will fail.
bool Packer::Walk(const std::u16string& directory, const std::string& prefix) {
  const std::u16string directory_prefix = directory + platform::PathSeparator();
  std::vector<platform::FindData> found;
  if (const std::uint32_t error = platform::ListDirectory(directory_prefix + u"*", &found)) {
    entries_.push_back({.kind = PackEntry::kUnlisted, .path = directory, .error = error});
    return false;
  }
  // The same order on every system, whatever order its file system keeps: the system's own name
  // comparison, then the exact text.
  // Files kept in the input archive take the places they would have had on the disk.
  std::vector<const KeptFile*> kept_files(found.size(), nullptr);
  if (const std::vector<KeptFile>* kept = KeptIn(directory)) {
    for (const KeptFile& file : *kept) {
      found.push_back({.name = file.name,
                       .data = {.attributes = file.read_only ? platform::FILE_ATTRIBUTE_READONLY
                                                             : platform::FILE_ATTRIBUTE_NORMAL,
                                .size = file.place.uncompressed,
                                .last_write_time = file.time}});
      kept_files.push_back(&file);
    }
    kept_found_ += kept->size();
  }
  std::vector<std::size_t> order(found.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::ranges::sort(order, [&found](std::size_t a, std::size_t b) {
    const int compared = CompareIgnoreCase(found[a].name, found[b].name);
    return compared != 0 ? compared < 0 : found[a].name < found[b].name;
  });
  for (const std::size_t index : order) {
    const platform::FindData& item = found[index];
    std::u16string path = directory_prefix + item.name;
    std::string name = prefix + ToUtf8(item.name);
    if ((item.data.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0) {
      name += '/';
      entries_.push_back(
          {.kind = PackEntry::kDirectory, .name = name, .time = item.data.last_write_time});
      if (!Walk(path, name)) return false;
    } else if (path != temporary_ && path != target_) {
      const std::size_t count = AddPieces(entries_.size(), item.data.size, &pieces_);
      const KeptFile* const kept = kept_files[index];
      entries_.push_back(
          {.kind = PackEntry::kFile,
           .path = kept ? std::u16string() : std::move(path),
           .name = std::move(name),
           .time = item.data.last_write_time,
           .size = item.data.size,
           .read_only = (item.data.attributes & platform::FILE_ATTRIBUTE_READONLY) != 0,
           .first_piece = pieces_.size() - count,
           .pieces = count,
           .kept = kept ? &kept->place : nullptr});
    }
  }
  return true;
}

const std::vector<KeptFile>* Packer::KeptIn(const std::u16string& directory) const {
  if (unpacked_ == nullptr || unpacked_->kept.empty()) return nullptr;
  platform::FileState state;
  if (platform::GetFileState(directory, &state) != ERROR_SUCCESS) return nullptr;
  const auto found = unpacked_->kept.find(state.identity);
  return found != unpacked_->kept.end() ? &found->second : nullptr;
}

HRESULT Packer::WriteEntries() {
  PieceCompressor compressor(entries_, pieces_, deflate_level_, threads_, unpacked_);
  for (const PackEntry& entry : entries_) {
    RETURN_IF_FAILED(StopIfRequested(log_, u"Zip"));
    switch (entry.kind) {
      case PackEntry::kUnlisted:
        log_.Line(u"Zip: cannot list '%s' (Error %d)", entry.path,
                  static_cast<std::int32_t>(entry.error));
        return HResultFromWin32(entry.error);
      case PackEntry::kDirectory: {
        RETURN_IF_FAILED(OpenEntry(entry, zip::kMethodStored));
        if (const int result = zipCloseFileInZipRaw64(zip_, 0, 0); result != ZIP_OK) {
          return WriteFailure(ToUtf16(entry.name), result);
        }
        ++counts_->directories;
        break;
      }
      case PackEntry::kFile:
        RETURN_IF_FAILED(WriteFile(entry, compressor));
        break;
    }
  }
  return S_OK;
}

HRESULT Packer::WriteFile(const PackEntry& entry, PieceCompressor& compressor) {
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
    if (i == entry.first_piece) RETURN_IF_FAILED(OpenEntry(entry, piece.method));
    if (piece.copied_from != nullptr) {
      RETURN_IF_FAILED(CopyFromInput(entry, *piece.copied_from));
      ++counts_->copied;
    } else if (piece.size > 0) {
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

// The ZIP writer adds ZIP64 end records only for a central directory that starts beyond 4 GiB;
// with more entries than the end record counts and no such records, readers that trust the count
// (unzip among them) take the archive for a broken one. The records go between the directory and
// its end record, which stays as the writer made it.
HRESULT Packer::AddZip64EndRecords(std::uint64_t directory_start) {
  using namespace zip;
  const std::uint64_t entries = counts_->files + counts_->directories;
  if (entries <= kMostEndRecordEntries || directory_start >= kUnknown32) return S_OK;
  const std::uint64_t end_position = output_.Position() - kEndRecordSize;
  unsigned char records[kZip64EndRecordSize + kZip64LocatorSize + kEndRecordSize] = {};
  unsigned char* const record = records;
  StoreLe32(record, kZip64EndRecordSignature);
  StoreLe64(record + kZip64RecordSize, kZip64EndRecordSize - kZip64RecordSize - 8);
  StoreLe16(record + kZip64VersionMadeBy, (kVersionMadeBy & 0xFF00) | kZip64Version);
  StoreLe16(record + kZip64VersionNeeded, kZip64Version);
  StoreLe64(record + kZip64EntriesOnDisk, entries);
  StoreLe64(record + kZip64Entries, entries);
  StoreLe64(record + kZip64DirectorySize, end_position - directory_start);
  StoreLe64(record + kZip64DirectoryOffset, directory_start);
  unsigned char* const locator = record + kZip64EndRecordSize;
  StoreLe32(locator, kZip64LocatorSignature);
  StoreLe64(locator + kLocatorRecordOffset, end_position);
  StoreLe32(locator + kLocatorDisks, 1);
  unsigned char* const end = locator + kZip64LocatorSize;
  StoreLe32(end, kEndRecordSignature);
  StoreLe16(end + kEndEntriesOnDisk, 0xFFFF);
  StoreLe16(end + kEndEntries, 0xFFFF);
  StoreLe32(end + kEndDirectorySize, static_cast<std::uint32_t>(end_position - directory_start));
  StoreLe32(end + kEndDirectoryOffset, static_cast<std::uint32_t>(directory_start));
  if (!output_.Seek(end_position) || !output_.Write(records, sizeof records) || !output_.Flush()) {
    return WriteFailure(target_, ZIP_ERRNO);
  }
  return S_OK;
}

HRESULT Packer::CopyFromInput(const PackEntry& entry, const EntryPlace& place) {
  std::uint32_t error = ERROR_SUCCESS;
  if (!input_.valid()) {
    error = platform::CreateFile(unpacked_->archive, platform::GENERIC_READ,
                                 platform::OPEN_EXISTING, &input_);
  }
  if (error == ERROR_SUCCESS) {
    error = platform::SetFilePointerEx(input_, static_cast<std::int64_t>(place.data_offset),
                                       platform::FILE_BEGIN, nullptr);
  }
  for (std::uint64_t left = place.compressed; error == ERROR_SUCCESS && left > 0;) {
    const auto block = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, kCopyBlockSize));
    error = ReadExactly(input_, copy_block_.data(), block);  // an end too soon: the archive shrank
    if (error != ERROR_SUCCESS) break;
    if (const int result = zipWriteInFileInZip(zip_, copy_block_.data(), block); result != ZIP_OK) {
      return WriteFailure(ToUtf16(entry.name), result);
    }
    left -= block;
  }
  if (error != ERROR_SUCCESS) {
    log_.Line(u"Zip: cannot read '%s' from '%s' (Error %d)", ToUtf16(entry.name),
              unpacked_->archive, static_cast<std::int32_t>(error));
    return HResultFromWin32(error);
  }
  return S_OK;
}

HRESULT Packer::OpenEntry(const PackEntry& entry, std::uint16_t method) {
  const bool stored = method == zip::kMethodStored;
  const bool directory = entry.kind == PackEntry::kDirectory;
  const std::uint32_t mode =
      directory ? zip::kUnixDirectory | 0755 : zip::kUnixFile | (entry.read_only ? 0444 : 0644);
  zip_fileinfo info = {};
  info.dosDate = DosTime(entry.time);
  info.external_fa = (mode << 16) | (directory ? zip::kDosDirectory : 0) |
                     (entry.read_only ? zip::kDosReadOnly : 0);
  // The exact time in UTC, which the MS-DOS time lacks, in the extended timestamp field where 32
  // bits hold it: its id, its length, a flags byte saying the modification time follows, the time.
  constexpr std::uint16_t kTimestampLength = 5;
  constexpr unsigned char kModificationTimeFollows = 1;
  unsigned char extra[4 + kTimestampLength];
  std::size_t extra_size = 0;
  if (entry.time >= INT32_MIN && entry.time <= INT32_MAX) {
    StoreLe16(extra, zip::kExtendedTimestampField);
    StoreLe16(extra + 2, kTimestampLength);
    extra[4] = kModificationTimeFollows;
    StoreLe32(extra + 5, static_cast<std::uint32_t>(entry.time));
    extra_size = sizeof(extra);
  }
  // ASCII names read the same in every code page; others are marked as UTF-8.
  const bool ascii = std::ranges::all_of(entry.name, [](char c) { return (c & 0x80) == 0; });
  const int result = zipOpenNewFileInZip4_64(
      zip_, entry.name.c_str(), &info, extra, static_cast<uInt>(extra_size), extra,
      static_cast<uInt>(extra_size), nullptr, method, stored ? 0 : deflate_level_,
      /*raw=*/1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, kVersionMadeBy,
      ascii ? 0 : zip::kFlagUtf8, entry.size >= kZip64Threshold ? 1 : 0);
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

HRESULT PackDirectory(std::u16string_view source, std::u16string_view archive,
                      bool replace_existing, int deflate_level, std::uint32_t threads,
                      const UnpackedArchive* unpacked, EngineLog& log, PackCounts* counts) {
  *counts = PackCounts();
  return Packer(log, counts, deflate_level, std::max<std::uint32_t>(threads, 1), unpacked)
      .Run(source, archive, replace_existing);
}

}  // namespace orvex::engine
