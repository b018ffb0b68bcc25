#pragma once
// The file-system side of unpacking: directories and files made and written in entry order on a
// thread of its own.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/result.h"
#include "engine/engine_log.h"
#include "engine/entry_inflater.h"
#include "engine/extract.h"
#include "engine/unpacked_archive.h"
#include "platform/file_handles.h"

namespace orvex::engine {

/// Logs that the entry `name` of `archive` cannot be read: `reason` in a few words, and the
/// system's or the archive's error.
void LogCannotRead(EngineLog& log, std::u16string_view operation, std::u16string_view name,
                   std::u16string_view archive, std::u16string_view reason, std::uint32_t error);

/// Everything an extraction does to the file system, done in entry order on a thread of its own,
/// so that creating and writing files (mostly time in the kernel) overlaps with reading and
/// inflating the entries that follow. The first failure stops it: later work is dropped, so that
/// nothing happens after a failure that would not have happened without the thread.
class EntryWriter {
 public:
  /// With `unpacked`, each file written is recorded there with the place its Open gives; the
  /// entries given to Inflated come from `inflater`, which must outlive the writer.
  EntryWriter(std::u16string_view operation, EngineLog& log, ExtractCounts* counts,
              UnpackedArchive* unpacked, EntryInflater& inflater)
      : operation_(operation),
        log_(log),
        counts_(counts),
        unpacked_(unpacked),
        inflater_(inflater),
        thread_([this] { Work(); }) {}
  ~EntryWriter();
  EntryWriter(const EntryWriter&) = delete;
  EntryWriter& operator=(const EntryWriter&) = delete;

  /// Makes the directory `path`, to be given `time` once every file is written.
  void Directory(std::u16string path, std::optional<std::int64_t> time) {
    Push({.kind = Task::kDirectory, .path = std::move(path), .time = time});
  }
  /// Creates the file `path` (and its folder `parent`) for the Data that follows; `place`, when
  /// known, is where its entry lies in the archive.
  void Open(std::u16string path, std::u16string parent, const EntryPlace* place) {
    Push({.kind = Task::kOpen,
          .path = std::move(path),
          .parent = std::move(parent),
          .place = place ? std::optional(*place) : std::nullopt});
  }
  /// Appends a copy of `size` bytes to the file opened last.
  void Data(const void* block, std::size_t size);
  /// Writes `entry`'s whole data, once its worker is done, as the file opened last.
  void Inflated(std::shared_ptr<InflatedEntry> entry) {
    Push({.kind = Task::kInflated, .inflated = std::move(entry)});
  }
  /// Keeps the file `kept` in the archive instead of writing it to `path`, once its worker has
  /// inflated `entry` (when given) and found it sound; its folder `parent` is made all the same.
  void Keep(std::u16string path, std::u16string parent, std::shared_ptr<InflatedEntry> entry,
            KeptFile kept) {
    Push({.kind = Task::kKeep,
          .path = std::move(path),
          .parent = std::move(parent),
          .inflated = std::move(entry),
          .kept = std::move(kept)});
  }
  /// Completes the file opened last: its time, then read-only when `read_only`.
  void Close(std::optional<std::int64_t> time, bool read_only) {
    Push({.kind = Task::kClose, .time = time, .read_only = read_only});
  }
  /// Waits until all work is done; the first failure's result (its line is logged), or S_OK.
  HRESULT Drain();
  /// Whether some work has failed, without waiting.
  bool Failed();
  /// Removes the file opened last, whose data could not be read; after Drain.
  void Abandon();
  /// Gives the directories their times; after Drain.
  void SetDirectoryTimes();

 private:
  struct Task {
    enum Kind { kDirectory, kOpen, kData, kInflated, kKeep, kClose } kind = kData;
    std::u16string path = {};
    std::u16string parent = {};
    std::optional<std::int64_t> time = {};
    bool read_only = false;
    std::vector<char> data = {};
    std::optional<EntryPlace> place = {};
    std::shared_ptr<InflatedEntry> inflated = {};
    std::optional<KeptFile> kept = {};
  };

  void Push(Task task);
  void Work();
  HRESULT Do(const Task& task);
  // Waits for an inflated entry: S_OK when its data is sound, else its failure, logged.
  HRESULT Sound(const InflatedEntry& entry);
  // Whether `entry` holds bytes after its compressed data, logged when it does: copied as they
  // lie, they would make the output's entry one that readers refuse, so it is compressed afresh.
  bool CompressedAfresh(const InflatedEntry& entry);
  // Records a kept file under the identity of its folder `parent`.
  HRESULT Keep(const std::u16string& parent, const KeptFile& kept);
  // Appends `size` bytes to the file being written, or logs why not and removes the file.
  HRESULT Write(const void* data, std::size_t size);
  // Makes sure `path` is a directory, creating it and any missing parents.
  HRESULT EnsureDirectory(const std::u16string& path);
  HRESULT Create();

  std::u16string_view operation_;
  EngineLog& log_;
  ExtractCounts* counts_;
  UnpackedArchive* unpacked_;
  EntryInflater& inflater_;

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
  std::unordered_set<std::u16string> known_directories_;
  std::vector<std::pair<std::u16string, std::int64_t>> directory_times_;
  std::u16string path_;
  std::optional<EntryPlace> place_;
  platform::FileHandle out_;
  // The folder of the last kept file, and its identity.
  std::u16string kept_folder_;
  platform::FileIdentity kept_folder_identity_;

  std::thread thread_;  // last: it starts using the members above at once
};

}  // namespace orvex::engine
