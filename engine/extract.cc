#include "engine/extract.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/path_text.h"
#include "engine/entry_inflater.h"
#include "engine/entry_name.h"
#include "engine/entry_writer.h"
#include "engine/local_headers.h"
#include "engine/piece_compressor.h"
#include "platform/archive_headers.h"
#include "platform/environment.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/process.h"
#include "platform/text.h"

namespace orvex::engine {
namespace {

// Large blocks keep the number of reads and writes per megabyte small. After a seek or a skip,
// which the archive library makes past the data of every entry it is not asked for, the first
// block is small: the next local header needs little, and most entries' data is inflated on
// workers or kept in the archive, never read here. Each block read on without a seek is twice the
// last, up to the large one.
constexpr std::uint32_t kReadBlockSize = 1u << 20;
constexpr std::uint32_t kFirstBlockAfterSeek = 4u << 10;
// Freed memory the process keeps between files (see RetainFreedMemory).
constexpr std::size_t kRetainedMemory = 64u << 20;

// The archive file as libarchive's input, read through the platform layer.
struct ArchiveInput {
  platform::FileHandle file;
  std::vector<char> buffer = std::vector<char>(kReadBlockSize);
  std::uint32_t block = kReadBlockSize;  // the size of the next read
  std::uint32_t error = ERROR_SUCCESS;   // the first platform error a callback met
};

la_ssize_t ReadCallback(struct archive* handle, void* data, const void** block) {
  auto* input = static_cast<ArchiveInput*>(data);
  std::uint32_t read = 0;
  const std::uint32_t error =
      platform::ReadFile(input->file, input->buffer.data(), input->block, &read);
  if (error != ERROR_SUCCESS) {
    if (input->error == ERROR_SUCCESS) input->error = error;
    archive_set_error(handle, -1, "read error %u", error);
    return -1;
  }
  *block = input->buffer.data();
  input->block = std::min(input->block * 2, kReadBlockSize);
  return read;
}

la_int64_t SeekCallback(struct archive* handle, void* data, la_int64_t offset, int whence) {
  auto* input = static_cast<ArchiveInput*>(data);
  const std::uint32_t method = whence == SEEK_SET   ? platform::FILE_BEGIN
                               : whence == SEEK_CUR ? platform::FILE_CURRENT
                                                    : platform::FILE_END;
  std::uint64_t position = 0;
  const std::uint32_t error = platform::SetFilePointerEx(input->file, offset, method, &position);
  if (error != ERROR_SUCCESS) {
    if (input->error == ERROR_SUCCESS) input->error = error;
    archive_set_error(handle, -1, "seek error %u", error);
    return ARCHIVE_FATAL;
  }
  input->block = kFirstBlockAfterSeek;
  return static_cast<la_int64_t>(position);
}

// Without it the archive library reads through the data it skips, up to 64 KiB at a time. A skip
// that fails skips nothing: the library reads on instead.
la_int64_t SkipCallback(struct archive* /*handle*/, void* data, la_int64_t request) {
  auto* input = static_cast<ArchiveInput*>(data);
  if (platform::SetFilePointerEx(input->file, request, platform::FILE_CURRENT, nullptr) !=
      ERROR_SUCCESS) {
    return 0;
  }
  input->block = kFirstBlockAfterSeek;
  return request;
}

using ArchivePtr = std::unique_ptr<struct archive, decltype(&archive_read_free)>;

std::optional<std::int64_t> MaybeTime(struct archive_entry* entry) {
  if (!archive_entry_mtime_is_set(entry)) return std::nullopt;
  return archive_entry_mtime(entry);
}

std::u16string LibraryError(struct archive* handle) {
  const char* text = archive_error_string(handle);
  return text != nullptr ? ToUtf16(text) : u"unknown error";
}

// One extraction run: the state the entry loop shares.
class Extraction {
 public:
  Extraction(std::u16string_view operation, std::u16string_view archive,
             const EntryDestination& destination_for, const ExtractLimits& limits, EngineLog& log,
             ExtractCounts* counts, UnpackedArchive* unpacked, const TouchedPaths* touched,
             bool inspect = false)
      : operation_(operation),
        archive_(archive),
        destination_for_(destination_for),
        limits_(limits),
        log_(log),
        counts_(counts),
        unpacked_(unpacked),
        touched_(touched),
        inspect_(inspect) {}

  HRESULT Run();

 private:
  HRESULT Open();
  LocalHeaderStatus CheckHeaders(std::uint64_t size, LocalHeaderDisagreement* disagreement,
                                 CentralDirectoryTotals* totals, bool keep_names);
  HRESULT Entry(struct archive_entry* entry);
  // Inspects the entries from their central directory records, which say all that the archive
  // library would make of them; the files chosen are inflated apart, whatever their size.
  HRESULT InspectRecorded();
  // Splits an entry's name into components_ and claims its path: S_OK, S_FALSE for a name of no
  // components (left out), or the refusal.
  HRESULT CheckName(const std::u16string& name, bool directory);
  // Marks in keep_ the recorded files to be kept in the archive, when every entry is known for
  // certain from its records.
  void ChooseKept();
  // Writes a file, or with `keep` checks it and leaves it in the archive.
  HRESULT WriteFile(struct archive_entry* entry, const std::u16string& name,
                    std::u16string destination, const EntryPlace* place, bool keep);
  // Streams an entry's data through the library into the file opened last, or with `keep` only
  // checks it.
  HRESULT CopyData(const std::u16string& name, bool keep = false);
  HRESULT ReadFailure(const std::u16string& name);
  HRESULT Refuse(const std::u16string& name, std::u16string_view reason);
  HRESULT OverBudget();
  HRESULT TooManyEntries();
  // Refuses an entry that needs a folder where an earlier entry is a file, or is a file where an
  // earlier entry needs a folder: no file system holds both.
  HRESULT ClaimPath(const std::u16string& name, bool directory);
  HRESULT StopIfRequested();

  std::u16string_view operation_;
  std::u16string_view archive_;
  const EntryDestination& destination_for_;
  const ExtractLimits& limits_;
  EngineLog& log_;
  ExtractCounts* counts_;
  UnpackedArchive* unpacked_;
  const TouchedPaths* touched_;
  // For inspection: the files chosen get their content only (no times, no attributes), and an
  // archive whose records say all is read from them alone.
  bool inspect_;

  ArchiveInput input_;
  ArchivePtr handle_{nullptr, &archive_read_free};
  // One inflating thread per processor; it must outlive the writer, which waits for it.
  EntryInflater inflater_{archive_, std::thread::hardware_concurrency()};
  EntryWriter writer_{operation_, log_, counts_, unpacked_, inflater_};
  // The central directory's entries in the order they come, and how many have come.
  std::vector<RecordedEntry> recorded_;
  std::size_t next_recorded_ = 0;
  // Whether each recorded entry is a file to keep in the archive.
  std::vector<char> keep_;
  // Whether the files written are recorded with their places in `unpacked_`.
  bool record_places_ = false;
  std::vector<std::u16string> components_;
  std::uint64_t budget_ = 0;
  // Each path an entry took, by its folder's claim and the collation key of its last component
  // (names that differ only in letter case are one name): whether a file took it, the first
  // entry that did, and the claim's number (the root's is 0).
  struct Claim {
    bool file;
    std::u16string entry;
    std::uint32_t number;
  };
  std::unordered_map<std::string, Claim> claims_;
  // The components of the last entry and the numbers of its paths' claims: entries of one folder
  // come together, and their folders are claimed once.
  std::vector<std::u16string> last_components_;
  std::vector<std::uint32_t> last_claims_;
};

HRESULT Extraction::Open() {
  if (const std::uint32_t error = platform::CreateFile(archive_, platform::GENERIC_READ,
                                                       platform::OPEN_EXISTING, &input_.file)) {
    log_.Line(u"%s: cannot open archive '%s' (Error %d)", operation_, archive_,
              static_cast<std::int32_t>(error));
    return HResultFromWin32(error);
  }
  std::uint64_t size = 0;
  if (const std::uint32_t error = platform::GetFileSize(input_.file, &size)) {
    return HResultFromWin32(error);
  }
  const std::uint64_t expansion = size > limits_.max_total_bytes / limits_.max_expansion
                                      ? limits_.max_total_bytes
                                      : size * limits_.max_expansion;
  budget_ = std::min(limits_.max_total_bytes, std::max(limits_.expansion_floor, expansion));

  LocalHeaderDisagreement disagreement;
  CentralDirectoryTotals totals;
  const LocalHeaderStatus headers =
      CheckHeaders(size, &disagreement, &totals, inspect_ || touched_ != nullptr);
  if (headers == LocalHeaderStatus::kReadFailed) {
    log_.Line(u"%s: cannot read archive '%s' (Error %d)", operation_, archive_,
              static_cast<std::int32_t>(input_.error));
    return HResultFromWin32(input_.error);
  }
  if (headers == LocalHeaderStatus::kEmpty) return S_FALSE;
  if (const std::uint32_t error =
          platform::SetFilePointerEx(input_.file, 0, platform::FILE_BEGIN, nullptr)) {
    return HResultFromWin32(error);
  }

  handle_.reset(archive_read_new());
  if (!handle_) return E_OUTOFMEMORY;
  struct archive* a = handle_.get();
  // The central directory is the authority on what an archive holds; names without the UTF-8
  // flag are in the original PC code page.
  archive_read_support_format_zip_seekable(a);
  (void)archive_read_set_options(a, "zip:hdrcharset=CP437");
  archive_read_set_read_callback(a, &ReadCallback);
  archive_read_set_seek_callback(a, &SeekCallback);
  archive_read_set_skip_callback(a, &SkipCallback);
  archive_read_set_callback_data(a, &input_);
  if (archive_read_open1(a) != ARCHIVE_OK) return ReadFailure(std::u16string(archive_));
  // Only an archive whose every entry was checked is unpacked.
  if (headers == LocalHeaderStatus::kDisagree) {
    return Refuse(disagreement.name, disagreement.reason);
  }
  if (headers != LocalHeaderStatus::kAgree) {
    log_.Line(u"%s: refused archive '%s': its central directory cannot be read", operation_,
              archive_);
    return HResultFromWin32(ERROR_INVALID_DATA);
  }
  // What the archive admits to is refused before a file is written; what it hides is counted as
  // it comes.
  if (totals.recorded.size() > limits_.max_entries) return TooManyEntries();
  if (totals.bytes > budget_) return OverBudget();
  recorded_ = std::move(totals.recorded);
  if (unpacked_ != nullptr) {
    unpacked_->archive = archive_;
    record_places_ = platform::GetFileState(archive_, &unpacked_->archive_state) == ERROR_SUCCESS;
    if (record_places_ && touched_ != nullptr) ChooseKept();
  }
  return S_OK;
}

void Extraction::ChooseKept() {
  if (!std::ranges::all_of(recorded_, &RecordedEntry::plain)) return;
  // A file is kept only where no other entry takes its path: the disk would give a later one
  // the first one's name, or the file's place. Paths are told apart by their keys' hashes: two
  // that share one only leave a file written.
  std::unordered_map<std::size_t, std::uint32_t> takers;
  std::vector<std::size_t> keys(recorded_.size());
  PathKeys path_keys;
  std::vector<std::u16string> components;
  keep_.assign(recorded_.size(), 0);
  for (std::size_t i = 0; i < recorded_.size(); ++i) {
    const RecordedEntry& recorded = recorded_[i];
    if (SplitEntryName(recorded.name, &components) != EntryNameStatus::kAccepted) continue;
    const std::vector<std::string>& path = path_keys.Of(components);
    keys[i] = std::hash<std::string>()(path.back());
    ++takers[keys[i]];
    keep_[i] = !recorded.name.ends_with(u'/') && !touched_->Reaches(path) &&
               CopiesCompressedBytes(recorded.place) && recorded.place.uncompressed <= kPieceSize;
  }
  for (std::size_t i = 0; i < recorded_.size(); ++i) {
    if (keep_[i] && takers[keys[i]] != 1) keep_[i] = 0;
  }
}

LocalHeaderStatus Extraction::CheckHeaders(std::uint64_t size,
                                           LocalHeaderDisagreement* disagreement,
                                           CentralDirectoryTotals* totals, bool keep_names) {
  const ArchiveReader read = [this](std::uint64_t offset, std::span<char> buffer) -> std::int64_t {
    std::uint32_t got = 0;
    const auto wanted = static_cast<std::uint32_t>(std::min<std::size_t>(buffer.size(), 1u << 30));
    std::uint32_t error = platform::SetFilePointerEx(input_.file, static_cast<std::int64_t>(offset),
                                                     platform::FILE_BEGIN, nullptr);
    if (error == ERROR_SUCCESS) {
      error = platform::ReadFile(input_.file, buffer.data(), wanted, &got);
    }
    if (error != ERROR_SUCCESS) {
      if (input_.error == ERROR_SUCCESS) input_.error = error;
      return -1;
    }
    return got;
  };
  return CheckLocalHeaders(size, read, disagreement, totals, keep_names);
}

HRESULT Extraction::Run() {
  // The archive library converts names through the C locale; UTF-8 makes that lossless.
  const platform::ScopedUtf8Locale utf8;
  // The inflate state is made and freed for every file: keep that memory at hand.
  platform::RetainFreedMemory(kRetainedMemory);
  // Thousands of new names in one directory must not each read that directory again.
  const platform::NameCacheScope keep_listings;
  const HRESULT opened = Open();
  if (opened != S_OK) return FAILED(opened) ? opened : S_OK;
  if (inspect_ && std::ranges::all_of(recorded_, [](const RecordedEntry& recorded) {
        return recorded.plain && EntryInflater::Inflates(recorded.place);
      })) {
    return InspectRecorded();
  }
  for (;;) {
    // A file that could not be written or inflated stops the unpacking.
    if (writer_.Failed()) return writer_.Drain();
    struct archive_entry* entry = nullptr;
    const int status = archive_read_next_header(handle_.get(), &entry);
    if (status == ARCHIVE_EOF) break;
    // A warning here means the local header and the central directory disagree (or a name
    // cannot be read): an archive that may unpack differently elsewhere is not unpacked at all.
    if (status != ARCHIVE_OK) return ReadFailure(std::u16string(archive_));
    RETURN_IF_FAILED(StopIfRequested());
    RETURN_IF_FAILED(Entry(entry));
  }
  RETURN_IF_FAILED(writer_.Drain());
  writer_.SetDirectoryTimes();
  return S_OK;
}

HRESULT Extraction::Entry(struct archive_entry* entry) {
  if (++counts_->entries > limits_.max_entries) return TooManyEntries();
  const std::size_t index = next_recorded_;
  const RecordedEntry* recorded =
      next_recorded_ < recorded_.size() ? &recorded_[next_recorded_++] : nullptr;
#ifdef _WIN32
  // The library keeps names as UTF-16 there; asked for UTF-8 it would go through the ANSI code
  // page and lose every character that page lacks.
  const wchar_t* wide_name = archive_entry_pathname_w(entry);
  if (wide_name == nullptr) return Refuse(u"?", u"name cannot be read");
  const std::u16string name(reinterpret_cast<const char16_t*>(wide_name));
#else
  const char* utf8_name = archive_entry_pathname_utf8(entry);
  if (utf8_name == nullptr) return Refuse(u"?", u"name cannot be read");
  const std::u16string name = ToUtf16(utf8_name);
#endif

  const auto type = archive_entry_filetype(entry);
  if (archive_entry_hardlink(entry) != nullptr) return Refuse(name, u"hard link");
  if (type == AE_IFLNK) return Refuse(name, u"symbolic link");
  if (type != AE_IFREG && type != AE_IFDIR) return Refuse(name, u"device or special file");
  if (archive_entry_is_encrypted(entry)) return Refuse(name, u"encrypted");

  const bool directory = type == AE_IFDIR;
  const HRESULT checked = CheckName(name, directory);
  if (checked != S_OK) return FAILED(checked) ? checked : S_OK;
  // Entries are matched with the central directory's by their order and names; a file whose
  // entry is not known for certain is neither recorded nor inflated apart.
  if (recorded != nullptr &&
      (directory || recorded->name_hash != std::hash<std::u16string>()(name))) {
    recorded = nullptr;
  }
  std::u16string destination;
  if (!destination_for_({components_, directory, recorded ? &recorded->place : nullptr},
                        &destination)) {
    ++counts_->skipped;
    return S_OK;
  }
  if (!directory) {
    // A kept file must get from the disk the time it was given: one that cannot be put in every
    // file system is written.
    const std::optional<std::int64_t> time = MaybeTime(entry);
    const bool keep = recorded != nullptr && index < keep_.size() && keep_[index] && time &&
                      *time >= 0 && *time <= std::numeric_limits<std::int32_t>::max();
    return WriteFile(entry, name, std::move(destination), recorded ? &recorded->place : nullptr,
                     keep);
  }
  writer_.Directory(std::move(destination), MaybeTime(entry));
  return S_OK;
}

HRESULT Extraction::InspectRecorded() {
  for (const RecordedEntry& recorded : recorded_) {
    if (writer_.Failed()) return writer_.Drain();
    RETURN_IF_FAILED(StopIfRequested());
    if (++counts_->entries > limits_.max_entries) return TooManyEntries();
    const bool directory = recorded.name.ends_with(u'/');
    const HRESULT checked = CheckName(recorded.name, directory);
    if (checked != S_OK) {
      if (FAILED(checked)) return checked;
      continue;
    }
    std::u16string destination;
    if (!destination_for_({components_, directory, directory ? nullptr : &recorded.place},
                          &destination)) {
      ++counts_->skipped;
    } else if (directory) {
      writer_.Directory(std::move(destination), std::nullopt);
    } else {
      counts_->bytes += recorded.place.uncompressed;  // within the budget: Open checked the sum
      std::u16string parent(ParentOf(destination));
      writer_.Open(std::move(destination), std::move(parent), nullptr);
      writer_.Inflated(inflater_.Add(recorded.name, recorded.place));
      writer_.Close(std::nullopt, false);
    }
  }
  return writer_.Drain();
}

HRESULT Extraction::CheckName(const std::u16string& name, bool directory) {
  const EntryNameStatus check = SplitEntryName(name, &components_);
  if (check == EntryNameStatus::kEmpty) {
    ++counts_->skipped;
    return S_FALSE;
  }
  if (check != EntryNameStatus::kAccepted) return Refuse(name, EntryNameStatusText(check));
  return ClaimPath(name, directory);
}

HRESULT Extraction::WriteFile(struct archive_entry* entry, const std::u16string& name,
                              std::u16string destination, const EntryPlace* place, bool keep) {
  // Sizes the archive admits to are refused before a byte is written.
  if (archive_entry_size_is_set(entry) &&
      static_cast<std::uint64_t>(archive_entry_size(entry)) > budget_ - counts_->bytes) {
    return OverBudget();
  }
  // An entry the central directory placed is inflated on a worker, to exactly its recorded size
  // (the archive library skips the data it is not asked for); others stream through the library.
  const bool apart = place != nullptr && EntryInflater::Takes(*place);
  if (apart && place->uncompressed > budget_ - counts_->bytes) return OverBudget();
  std::u16string parent(ParentOf(destination));
  const auto permissions = archive_entry_perm(entry);
  const bool read_only = (permissions & 0400) != 0 && (permissions & 0200) == 0;
  if (keep) {
    // Inflated and its CRC-32 compared like any file, on a worker or by the library.
    std::shared_ptr<InflatedEntry> inflated;
    if (apart) {
      counts_->bytes += place->uncompressed;
      inflated = inflater_.Add(name, *place, /*check_only=*/true);
    } else {
      RETURN_IF_FAILED(CopyData(name, /*keep=*/true));
    }
    writer_.Keep(std::move(destination), std::move(parent), std::move(inflated),
                 {components_.back(), *MaybeTime(entry), read_only, *place});
    return S_OK;
  }
  writer_.Open(std::move(destination), std::move(parent), record_places_ ? place : nullptr);
  if (apart) {
    counts_->bytes += place->uncompressed;
    writer_.Inflated(inflater_.Add(name, *place));
  } else if (const HRESULT copied = CopyData(name); FAILED(copied)) {
    writer_.Abandon();
    return copied;
  }
  if (inspect_) {
    writer_.Close(std::nullopt, false);
  } else {
    writer_.Close(MaybeTime(entry), read_only);
  }
  return S_OK;
}

HRESULT Extraction::CopyData(const std::u16string& name, bool keep) {
  std::int64_t written = 0;
  for (;;) {
    // The file could not be made or written: what follows of it need not be read.
    if (writer_.Failed()) return writer_.Drain();
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    const int status = archive_read_data_block(handle_.get(), &block, &size, &offset);
    if (status == ARCHIVE_EOF) return S_OK;
    // A warning here is a CRC or size mismatch: the data is not what was packed.
    if (status != ARCHIVE_OK || offset != written) return ReadFailure(name);
    RETURN_IF_FAILED(StopIfRequested());
    counts_->bytes += size;
    if (counts_->bytes > budget_) return OverBudget();
    if (!keep) writer_.Data(block, size);
    written += static_cast<std::int64_t>(size);
  }
}

// Every failure met while reading waits for the writing to catch up: a failure of an earlier
// entry's file is the one reported, and this one is not.

HRESULT Extraction::ReadFailure(const std::u16string& name) {
  RETURN_IF_FAILED(writer_.Drain());
  const std::uint32_t error = input_.error != ERROR_SUCCESS ? input_.error : ERROR_INVALID_DATA;
  LogCannotRead(log_, operation_, name, archive_, LibraryError(handle_.get()), error);
  return HResultFromWin32(error);
}

HRESULT Extraction::Refuse(const std::u16string& name, std::u16string_view reason) {
  RETURN_IF_FAILED(writer_.Drain());
  log_.Line(u"%s: refused entry '%s' of '%s': %s", operation_, name, archive_, reason);
  return HResultFromWin32(ERROR_INVALID_DATA);
}

HRESULT Extraction::OverBudget() {
  RETURN_IF_FAILED(writer_.Drain());
  log_.Line(
      u"%s: refused archive '%s': it unpacks to more than %lld bytes, the limit for its size (%s "
      u"sets another); possible archive bomb",
      operation_, archive_, static_cast<std::int64_t>(budget_), kMaxBytesVariable);
  return HResultFromWin32(ERROR_INVALID_DATA);
}

HRESULT Extraction::TooManyEntries() {
  RETURN_IF_FAILED(writer_.Drain());
  log_.Line(
      u"%s: refused archive '%s': it holds more than %lld entries, the limit (%s sets "
      u"another); possible archive bomb",
      operation_, archive_, static_cast<std::int64_t>(limits_.max_entries), kMaxEntriesVariable);
  return HResultFromWin32(ERROR_INVALID_DATA);
}

HRESULT Extraction::ClaimPath(const std::u16string& name, bool directory) {
  std::size_t same = 0;  // leading folders shared with the last entry, already claimed
  while (same + 1 < components_.size() && same + 1 < last_components_.size() &&
         components_[same] == last_components_[same]) {
    ++same;
  }
  last_components_ = components_;
  last_claims_.resize(same);
  for (std::size_t i = same; i < components_.size(); ++i) {
    const std::uint32_t folder = i == 0 ? 0 : last_claims_[i - 1];
    std::string key(reinterpret_cast<const char*>(&folder), sizeof folder);
    key += CollationKey(components_[i]);
    const bool file = !directory && i + 1 == components_.size();
    const auto number = static_cast<std::uint32_t>(claims_.size() + 1);
    const auto [claim, first] = claims_.try_emplace(std::move(key), Claim{file, name, number});
    if (!first && claim->second.file != file) {
      return Refuse(
          name, file ? u"it is a file where entry '" + claim->second.entry + u"' needs a folder"
                     : u"it needs a folder where entry '" + claim->second.entry + u"' is a file");
    }
    last_claims_.push_back(claim->second.number);
  }
  return S_OK;
}

HRESULT Extraction::StopIfRequested() {
  if (!platform::StopRequested()) return S_OK;
  RETURN_IF_FAILED(writer_.Drain());
  return engine::StopIfRequested(log_, operation_);
}

}  // namespace

HRESULT ExtractArchive(std::u16string_view operation, std::u16string_view archive,
                       const EntryDestination& destination_for, const ExtractLimits& limits,
                       EngineLog& log, ExtractCounts* counts, UnpackedArchive* unpacked,
                       const TouchedPaths* touched) {
  *counts = ExtractCounts();
  if (unpacked != nullptr) *unpacked = UnpackedArchive();
  const HRESULT hr =
      Extraction(operation, archive, destination_for, limits, log, counts, unpacked, touched).Run();
  // Only a whole unpacking is packed again.
  if (FAILED(hr) && unpacked != nullptr) *unpacked = UnpackedArchive();
  return hr;
}

HRESULT InspectArchive(std::u16string_view operation, std::u16string_view archive,
                       const EntryDestination& destination_for, const ExtractLimits& limits,
                       EngineLog& log, ExtractCounts* counts) {
  *counts = ExtractCounts();
  return Extraction(operation, archive, destination_for, limits, log, counts, nullptr, nullptr,
                    /*inspect=*/true)
      .Run();
}

}  // namespace orvex::engine
