#pragma once
// Inflating entries on worker threads. The archive library reads an archive as one stream and
// inflates on the thread that reads it; but the central directory already says where each
// entry's compressed bytes lie, so the small entries that make up most of a profile are read
// from there and inflated on every processor, while the entry writer writes them in order.
//
//   EntryInflater inflater(archive, threads);
//   std::shared_ptr<InflatedEntry> entry = inflater.Add(name, place);  // reading thread
//   inflater.Wait(*entry);                                             // writing thread
//   ... write entry->data ...
//   inflater.Release(*entry);

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/unpacked_archive.h"

namespace orvex::engine {

/// One entry's data, read from the archive and inflated by a worker.
struct InflatedEntry {
  std::u16string name;  ///< as the archive names it, for the log
  EntryPlace place;
  /// Whether the entry is only checked, its data dropped once found sound: a file kept in the
  /// archive. It gets its data all the same when it has to be written after all (`trailing`).
  bool check_only = false;
  /// Once done: the entry's `place.uncompressed` bytes, whose CRC-32 is the recorded one.
  std::unique_ptr<unsigned char[]> data;
  /// Once done: why there is no data. A system error of reading the archive, or
  /// ERROR_INVALID_DATA with `reason` saying what is wrong with the entry.
  std::uint32_t error = ERROR_SUCCESS;
  std::u16string_view reason;
  /// Once done: bytes the entry's compressed size covers after the end of its deflate stream.
  /// The data is whole all the same, but those bytes must not travel on to another archive.
  std::uint64_t trailing = 0;
  bool done = false;
};

/// Reads and inflates entries of one archive on worker threads, first come first done, holding
/// no more inflated data than a fixed budget until it is released.
class EntryInflater {
 public:
  /// Whether the entry at `place` can be inflated here: stored or deflated, and not too large to
  /// be held whole at all.
  static bool Inflates(const EntryPlace& place);
  /// Whether Unzip inflates the entry at `place` here: it can be, and it is small enough to be
  /// held whole. Larger entries stream through the archive library.
  static bool Takes(const EntryPlace& place);

  EntryInflater(std::u16string_view archive, std::uint32_t threads);
  ~EntryInflater() { Stop(); }
  EntryInflater(const EntryInflater&) = delete;
  EntryInflater& operator=(const EntryInflater&) = delete;

  /// The archive the entries come from.
  std::u16string_view archive() const { return archive_; }
  /// Queues the entry `name` at `place`, first waiting while the entries queued and not yet
  /// released would hold more than the budget with it. With `check_only`, its data is inflated
  /// into the worker's own buffer and dropped once its CRC-32 is found right.
  std::shared_ptr<InflatedEntry> Add(std::u16string name, const EntryPlace& place,
                                     bool check_only = false);
  /// Waits until a worker is done with `entry`.
  void Wait(const InflatedEntry& entry);
  /// Frees a done entry's data and gives its share of the budget back.
  void Release(InflatedEntry& entry);

 private:
  struct Tools;

  // The workers leave what is queued and finish the entry they hold; they are always joined.
  void Stop();
  void Work();
  void Inflate(InflatedEntry& entry, Tools& tools) const;

  const std::u16string archive_;
  std::mutex mutex_;
  std::condition_variable queued_;    // an entry waits for a worker, or the workers must stop
  std::condition_variable done_;      // a worker is done with an entry
  std::condition_variable released_;  // an entry's share of the budget came back
  std::deque<std::shared_ptr<InflatedEntry>> queue_;
  std::uint64_t in_flight_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace orvex::engine
