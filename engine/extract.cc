#include "engine/extract.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/little_endian.h"
#include "common/path_text.h"
#include "engine/entry_name.h"
#include "engine/local_headers.h"
#include "platform/archive_headers.h"
#include "platform/directory_tree.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace orvex::engine {
namespace {

// Large blocks keep the number of reads and writes per megabyte small.
constexpr std::uint32_t kReadBlockSize = 1u << 20;
// Freed memory the process keeps between files (see RetainFreedMemory).
constexpr std::size_t kRetainedMemory = 64u << 20;
// Unpacked data read ahead of the files being written.
constexpr std::size_t kDataInFlight = 16u << 20;

// The archive file as libarchive's input, read through the platform layer.
struct ArchiveInput {
  platform::FileHandle file;
  std::vector<char> buffer = std::vector<char>(kReadBlockSize);
  std::uint32_t error = ERROR_SUCCESS;  // the first platform error a callback met
};

la_ssize_t ReadCallback(struct archive* handle, void* data, const void** block) {
  auto* input = static_cast<ArchiveInput*>(data);
  std::uint32_t read = 0;
  const std::uint32_t error =
      platform::ReadFile(input->file, input->buffer.data(), kReadBlockSize, &read);
  if (error != ERROR_SUCCESS) {
    if (input->error == ERROR_SUCCESS) input->error = error;
    archive_set_error(handle, -1, "read error %u", error);
    return -1;
  }
  *block = input->buffer.data();
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
  return static_cast<la_int64_t>(position);
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

// Makes directories on demand, remembering those it has already seen.
class DirectoryMaker {
 public:
  // Makes sure `path` is a directory, creating it and any missing parents; a Win32 error.
  std::uint32_t Ensure(const std::u16string& path) {
    if (known_.contains(path)) return ERROR_SUCCESS;
    const std::uint32_t error = platform::CreateDirectoryTree(path);
    if (error == ERROR_SUCCESS) known_.insert(path);
    return error;
  }

 private:
  std::unordered_set<std::u16string> known_;
};

// Everything an extraction does to the file system, done in entry order on a thread of its own,
// so that creating and writing files (mostly time in the kernel) overlaps with reading and
// inflating the entries that follow. The first failure stops it: later work is dropped, so that
// nothing happens after a failure that would not have happened without the thread.
class Writer {
 public:
  Writer(std::u16string_view operation, EngineLog& log, ExtractCounts* counts)
      : operation_(operation), log_(log), counts_(counts), thread_([this] { Work(); }) {}
  ~Writer() {
    {
      const std::lock_guard lock(mutex_);
      closing_ = true;
      failure_set_ = true;  // what is left undone stays undone
    }
    changed_.notify_all();
    thread_.join();
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Makes the directory `path`, to be given `time` once every file is written.
  void Directory(std::u16string path, std::optional<std::int64_t> time) {
    Push({.kind = Task::kDirectory, .path = std::move(path), .time = time});
  }
  // Creates the file `path` (and its folder `parent`) for the Data that follows.
  void Open(std::u16string path, std::u16string parent) {
    Push({.kind = Task::kOpen, .path = std::move(path), .parent = std::move(parent)});
  }
  // Appends a copy of `size` bytes to the file opened last.
  void Data(const void* block, std::size_t size) {
    Task task{.kind = Task::kData};
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return in_flight_ < kDataInFlight || failure_set_; });
      if (!spare_.empty()) {
        task.data = std::move(spare_.back());
        spare_.pop_back();
      }
      in_flight_ += size;
    }
    const char* bytes = static_cast<const char*>(block);
    task.data.assign(bytes, bytes + size);
    Push(std::move(task));
  }
  // Completes the file opened last: its time, then read-only when `read_only`.
  void Close(std::optional<std::int64_t> time, bool read_only) {
    Push({.kind = Task::kClose, .time = time, .read_only = read_only});
  }
  // Waits until all work is done; the first failure's result (its line is logged), or S_OK.
  HRESULT Drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return tasks_.empty() && !busy_; });
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    return failure_;
  }
  // Whether some work has failed, without waiting.
  bool Failed() {
    const std::lock_guard lock(mutex_);
    return failure_set_;
  }
  // Removes the file opened last, whose data could not be read; after Drain.
  void Abandon() {
    if (!out_.valid()) return;
    platform::CloseHandle(out_);
    // A half-written file is worse than none.
    (void)platform::DeleteFile(path_);
  }
  // Gives the directories their times; after Drain.
  void SetDirectoryTimes() {
    // Last, because every file written into a directory moves its time.
    for (const auto& [path, time] : directory_times_) {
      (void)platform::SetFileTime(path, time);
    }
  }

 private:
  struct Task {
    enum Kind { kDirectory, kOpen, kData, kClose } kind = kData;
    std::u16string path = {};
    std::u16string parent = {};
    std::optional<std::int64_t> time = {};
    bool read_only = false;
    std::vector<char> data = {};
  };

  void Push(Task task) {
    {
      const std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    changed_.notify_all();
  }

  void Work() {
    for (;;) {
      Task task;
      bool skip = false;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !tasks_.empty() || closing_; });
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
        busy_ = true;
        skip = failure_set_;
      }
      HRESULT hr = S_OK;
      if (!skip) {
        try {
          hr = Do(task);
        } catch (...) {
          const std::lock_guard lock(mutex_);
          error_ = std::current_exception();
          hr = E_UNEXPECTED;
        }
      }
      {
        const std::lock_guard lock(mutex_);
        if (FAILED(hr)) {
          failure_ = hr;
          failure_set_ = true;
        }
        if (task.kind == Task::kData) {
          in_flight_ -= task.data.size();
          spare_.push_back(std::move(task.data));
        }
        busy_ = false;
      }
      changed_.notify_all();
    }
  }

  HRESULT Do(const Task& task) {
    switch (task.kind) {
      case Task::kDirectory:
        RETURN_IF_FAILED(EnsureDirectory(task.path));
        ++counts_->directories;
        if (task.time) directory_times_.emplace_back(task.path, *task.time);
        return S_OK;
      case Task::kOpen:
        path_ = task.path;
        if (!task.parent.empty()) RETURN_IF_FAILED(EnsureDirectory(task.parent));
        return Create();
      case Task::kData: {
        std::uint32_t done = 0;
        if (const std::uint32_t error = platform::WriteFile(
                out_, task.data.data(), static_cast<std::uint32_t>(task.data.size()), &done)) {
          log_.Line(u"%s: cannot write '%s' (Error %d)", operation_, path_,
                    static_cast<std::int32_t>(error));
          Abandon();
          return HResultFromWin32(error);
        }
        return S_OK;
      }
      case Task::kClose:
        if (task.time) (void)platform::SetFileTime(out_, *task.time);
        platform::CloseHandle(out_);
        ++counts_->files;
        if (task.read_only) {
          (void)platform::SetFileAttributes(path_, platform::FILE_ATTRIBUTE_READONLY);
        }
        return S_OK;
    }
    return E_UNEXPECTED;
  }

  HRESULT EnsureDirectory(const std::u16string& path) {
    if (const std::uint32_t error = directories_.Ensure(path)) {
      log_.Line(u"%s: cannot create directory '%s' (Error %d)", operation_, path,
                static_cast<std::int32_t>(error));
      return HResultFromWin32(error);
    }
    return S_OK;
  }

  HRESULT Create() {
    std::uint32_t error =
        platform::CreateFile(path_, platform::GENERIC_WRITE, platform::CREATE_ALWAYS, &out_);
    std::uint32_t attributes = 0;
    if (error == ERROR_ACCESS_DENIED &&
        platform::GetFileAttributes(path_, &attributes) == ERROR_SUCCESS &&
        (attributes & (platform::FILE_ATTRIBUTE_READONLY | platform::FILE_ATTRIBUTE_DIRECTORY)) ==
            platform::FILE_ATTRIBUTE_READONLY) {
      // A read-only file of the same name is replaced all the same.
      if (platform::SetFileAttributes(path_, platform::FILE_ATTRIBUTE_NORMAL) == ERROR_SUCCESS) {
        error =
            platform::CreateFile(path_, platform::GENERIC_WRITE, platform::CREATE_ALWAYS, &out_);
      }
    }
    if (error != ERROR_SUCCESS) {
      log_.Line(u"%s: cannot create file '%s' (Error %d)", operation_, path_,
                static_cast<std::int32_t>(error));
      return HResultFromWin32(error);
    }
    return S_OK;
  }

  std::u16string_view operation_;
  EngineLog& log_;
  ExtractCounts* counts_;

  // Shared with the extraction's thread, under mutex_.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Task> tasks_;
  std::vector<std::vector<char>> spare_;  // data buffers to use again
  std::size_t in_flight_ = 0;
  bool busy_ = false;
  bool closing_ = false;
  bool failure_set_ = false;
  HRESULT failure_ = S_OK;
  std::exception_ptr error_;

  // The writing thread's own, and the extraction's after Drain.
  DirectoryMaker directories_;
  std::vector<std::pair<std::u16string, std::int64_t>> directory_times_;
  std::u16string path_;
  platform::FileHandle out_;

  std::thread thread_;  // last: it starts using the members above at once
};

// One extraction run: the state the entry loop shares.
class Extraction {
 public:
  Extraction(std::u16string_view operation, std::u16string_view archive,
             const EntryDestination& destination_for, const ExtractLimits& limits, EngineLog& log,
             ExtractCounts* counts)
      : operation_(operation),
        archive_(archive),
        destination_for_(destination_for),
        limits_(limits),
        log_(log),
        counts_(counts) {}

  HRESULT Run();

 private:
  HRESULT Open();
  LocalHeaderStatus CheckHeaders(std::uint64_t size, LocalHeaderDisagreement* disagreement);
  bool IsEmptyZip(std::uint64_t size);
  HRESULT Entry(struct archive_entry* entry);
  HRESULT WriteFile(struct archive_entry* entry, const std::u16string& name,
                    std::u16string destination);
  HRESULT CopyData(const std::u16string& name);
  HRESULT ReadFailure(const std::u16string& name);
  HRESULT Refuse(const std::u16string& name, std::u16string_view reason);
  HRESULT OverBudget();
  HRESULT TooManyEntries();
  HRESULT StopIfRequested();

  std::u16string_view operation_;
  std::u16string_view archive_;
  const EntryDestination& destination_for_;
  const ExtractLimits& limits_;
  EngineLog& log_;
  ExtractCounts* counts_;

  ArchiveInput input_;
  ArchivePtr handle_{nullptr, &archive_read_free};
  Writer writer_{operation_, log_, counts_};
  std::vector<std::u16string> components_;
  std::uint64_t budget_ = 0;
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
  const LocalHeaderStatus headers = CheckHeaders(size, &disagreement);
  if (headers == LocalHeaderStatus::kReadFailed) {
    log_.Line(u"%s: cannot read archive '%s' (Error %d)", operation_, archive_,
              static_cast<std::int32_t>(input_.error));
    return HResultFromWin32(input_.error);
  }
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
  archive_read_set_callback_data(a, &input_);
  if (archive_read_open1(a) != ARCHIVE_OK) {
    if (input_.error == ERROR_SUCCESS && IsEmptyZip(size)) return S_FALSE;
    return ReadFailure(std::u16string(archive_));
  }
  // Only an archive whose every entry was checked is unpacked.
  if (headers == LocalHeaderStatus::kDisagree) {
    return Refuse(disagreement.name, disagreement.reason);
  }
  if (headers != LocalHeaderStatus::kAgree) {
    log_.Line(u"%s: refused archive '%s': its central directory cannot be read", operation_,
              archive_);
    return HResultFromWin32(ERROR_INVALID_DATA);
  }
  return S_OK;
}

LocalHeaderStatus Extraction::CheckHeaders(std::uint64_t size,
                                           LocalHeaderDisagreement* disagreement) {
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
  return CheckLocalHeaders(size, read, disagreement);
}

bool Extraction::IsEmptyZip(std::uint64_t size) {
  // The archive library does not recognise an archive without entries: nothing but the end
  // record (22 bytes and a comment) at the very start.
  constexpr std::uint32_t kEndRecordSize = 22;
  unsigned char end[kEndRecordSize];
  std::uint32_t read = 0;
  if (size < kEndRecordSize || size > kEndRecordSize + 0xFFFF ||
      platform::SetFilePointerEx(input_.file, 0, platform::FILE_BEGIN, nullptr) != ERROR_SUCCESS ||
      platform::ReadFile(input_.file, end, kEndRecordSize, &read) != ERROR_SUCCESS ||
      read != kEndRecordSize) {
    return false;
  }
  const auto field = [&end](int at) { return LoadLe16(end + at); };
  return end[0] == 'P' && end[1] == 'K' && end[2] == 5 && end[3] == 6 && field(8) == 0 &&
         field(10) == 0 && static_cast<std::uint64_t>(field(20)) == size - kEndRecordSize;
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
  for (;;) {
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

  const EntryNameStatus check = SplitEntryName(name, &components_);
  if (check == EntryNameStatus::kEmpty) {
    ++counts_->skipped;
    return S_OK;
  }
  if (check != EntryNameStatus::kAccepted) return Refuse(name, EntryNameStatusText(check));

  const bool directory = type == AE_IFDIR;
  std::u16string destination;
  if (!destination_for_(components_, directory, &destination)) {
    ++counts_->skipped;
    return S_OK;
  }
  if (!directory) return WriteFile(entry, name, std::move(destination));
  writer_.Directory(std::move(destination), MaybeTime(entry));
  return S_OK;
}

HRESULT Extraction::WriteFile(struct archive_entry* entry, const std::u16string& name,
                              std::u16string destination) {
  // Sizes the archive admits to are refused before a byte is written.
  if (archive_entry_size_is_set(entry) &&
      static_cast<std::uint64_t>(archive_entry_size(entry)) > budget_ - counts_->bytes) {
    return OverBudget();
  }
  std::u16string parent(ParentOf(destination));
  writer_.Open(std::move(destination), std::move(parent));
  if (const HRESULT copied = CopyData(name); FAILED(copied)) {
    writer_.Abandon();
    return copied;
  }
  const auto permissions = archive_entry_perm(entry);
  writer_.Close(MaybeTime(entry), (permissions & 0400) != 0 && (permissions & 0200) == 0);
  return S_OK;
}

HRESULT Extraction::CopyData(const std::u16string& name) {
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
    writer_.Data(block, size);
    written += static_cast<std::int64_t>(size);
  }
}

// Every failure met while reading waits for the writing to catch up: a failure of an earlier
// entry's file is the one reported, and this one is not.

HRESULT Extraction::ReadFailure(const std::u16string& name) {
  RETURN_IF_FAILED(writer_.Drain());
  const std::uint32_t error = input_.error != ERROR_SUCCESS ? input_.error : ERROR_INVALID_DATA;
  log_.Line(u"%s: cannot read '%s' from '%s': %s (Error %d)", operation_, name, archive_,
            LibraryError(handle_.get()), static_cast<std::int32_t>(error));
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

HRESULT Extraction::StopIfRequested() {
  if (!platform::StopRequested()) return S_OK;
  RETURN_IF_FAILED(writer_.Drain());
  return engine::StopIfRequested(log_, operation_);
}

}  // namespace

HRESULT ExtractArchive(std::u16string_view operation, std::u16string_view archive,
                       const EntryDestination& destination_for, const ExtractLimits& limits,
                       EngineLog& log, ExtractCounts* counts) {
  *counts = ExtractCounts();
  return Extraction(operation, archive, destination_for, limits, log, counts).Run();
}

}  // namespace orvex::engine
