#include "engine/entry_inflater.h"

#include <libdeflate.h>

#include <algorithm>
#include <new>

#include "engine/read_exactly.h"
#include "engine/zip_format.h"
#include "platform/file_handles.h"

namespace orvex::engine {
namespace {

// Inflated data waiting for the writer. A few entries a worker keep every worker busy; at 32 MiB
// the whole run was no faster and its peak memory 17 MiB higher (measured at scale 1).
constexpr std::uint64_t kBudget = 8u << 20;
// The largest entry Unzip takes here rather than streaming it through the archive library: two
// fit in the budget at once. A deflated entry is taken up to kLargestDeflated, held alone when
// larger than the budget: the library's stream inflates at a third of the speed, and a profile's
// .reg files run to tens of MiB. A stored entry gains nothing from being held whole.
constexpr std::uint64_t kLargestEntry = kBudget / 2;
constexpr std::uint64_t kLargestDeflated = 32u << 20;
// The largest entry ever held whole (by inspection, which holds one at a time); larger entries
// stream through the archive library.
constexpr std::uint64_t kLargestWhole = 256u << 20;
// What an entry costs in the budget besides its data, so that a run of empty files cannot queue
// without bound either.
constexpr std::uint64_t kEntryOverhead = 1024;

// An entry only checked, of a size the worker keeps a buffer for, holds nothing beyond that
// buffer (or, rarely, when it has to be written after all, one entry's worth beyond the budget);
// a larger one counts as any entry does.
std::uint64_t Cost(const InflatedEntry& entry) {
  const bool in_worker_buffer = entry.check_only && entry.place.uncompressed <= kLargestEntry;
  return (in_worker_buffer ? 0 : entry.place.uncompressed) + kEntryOverhead;
}

}  // namespace

// What one worker keeps between entries.
struct EntryInflater::Tools {
  platform::FileHandle archive;  // each worker reads at positions of its own
  std::unique_ptr<unsigned char[]> compressed;
  std::size_t capacity = 0;
  std::unique_ptr<unsigned char[]> checked;  // the data of entries only checked, while checked
  std::size_t checked_capacity = 0;
  std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> inflate{
      nullptr, &libdeflate_free_decompressor};
};

bool EntryInflater::Inflates(const EntryPlace& place) {
  return (place.method == zip::kMethodStored || place.method == zip::kMethodDeflated) &&
         place.uncompressed <= kLargestWhole && place.compressed <= kLargestWhole;
}

bool EntryInflater::Takes(const EntryPlace& place) {
  const std::uint64_t largest =
      place.method == zip::kMethodDeflated ? kLargestDeflated : kLargestEntry;
  return Inflates(place) && place.uncompressed <= largest && place.compressed <= largest;
}

EntryInflater::EntryInflater(std::u16string_view archive, std::uint32_t threads)
    : archive_(archive) {
  try {
    for (std::uint32_t i = 0; i < std::max(1u, threads); ++i) {
      workers_.emplace_back([this] { Work(); });
    }
  } catch (...) {
    Stop();
    throw;
  }
}

void EntryInflater::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

std::shared_ptr<InflatedEntry> EntryInflater::Add(std::u16string name, const EntryPlace& place,
                                                  bool check_only) {
  auto entry = std::make_shared<InflatedEntry>();
  entry->name = std::move(name);
  entry->place = place;
  entry->check_only = check_only;
  // Made here rather than on a worker: memory freed on the writing thread then goes back where
  // the next entry's comes from, instead of piling up beside each worker.
  if (!check_only) {
    entry->data = std::make_unique_for_overwrite<unsigned char[]>(
        std::max<std::uint64_t>(place.uncompressed, 1));
  }
  {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [&] { return in_flight_ == 0 || in_flight_ + Cost(*entry) <= kBudget; });
    in_flight_ += Cost(*entry);
    queue_.push_back(entry);
  }
  queued_.notify_one();
  return entry;
}

void EntryInflater::Wait(const InflatedEntry& entry) {
  std::unique_lock lock(mutex_);
  done_.wait(lock, [&] { return entry.done; });
}

void EntryInflater::Release(InflatedEntry& entry) {
  entry.data.reset();
  {
    const std::lock_guard lock(mutex_);
    in_flight_ -= Cost(entry);
  }
  released_.notify_all();
}

void EntryInflater::Work() {
  Tools tools;
  std::unique_lock lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    const std::shared_ptr<InflatedEntry> entry = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    try {
      Inflate(*entry, tools);
    } catch (const std::bad_alloc&) {
      entry->data.reset();
      entry->error = ERROR_OUTOFMEMORY;
    }
    lock.lock();
    entry->done = true;
    done_.notify_all();
  }
}

void EntryInflater::Inflate(InflatedEntry& entry, Tools& tools) const {
  const EntryPlace& place = entry.place;
  const auto compressed = static_cast<std::uint32_t>(place.compressed);
  const auto size = static_cast<std::uint32_t>(place.uncompressed);
  const auto fail = [&entry](std::uint32_t error, std::u16string_view reason) {
    entry.data.reset();
    entry.error = error;
    entry.reason = reason;
  };
  std::uint32_t error = ERROR_SUCCESS;
  if (!tools.archive.valid()) {
    error = platform::CreateFile(archive_, platform::GENERIC_READ, platform::OPEN_EXISTING,
                                 &tools.archive);
  }
  if (error == ERROR_SUCCESS) {
    error = platform::SetFilePointerEx(tools.archive, static_cast<std::int64_t>(place.data_offset),
                                       platform::FILE_BEGIN, nullptr);
  }
  if (error != ERROR_SUCCESS) return fail(error, u"read error");
  if (entry.check_only && (!tools.checked || tools.checked_capacity < size)) {
    tools.checked_capacity = std::max<std::size_t>(size, 1);
    tools.checked = std::make_unique_for_overwrite<unsigned char[]>(tools.checked_capacity);
  }
  unsigned char* const data = entry.check_only ? tools.checked.get() : entry.data.get();

  if (place.method == zip::kMethodStored) {
    if (compressed != size) return fail(ERROR_INVALID_DATA, u"its sizes disagree");
    error = ReadExactly(tools.archive, data, size);
  } else {
    if (tools.capacity < compressed) {
      tools.compressed = std::make_unique_for_overwrite<unsigned char[]>(compressed);
      tools.capacity = compressed;
    }
    error = ReadExactly(tools.archive, tools.compressed.get(), compressed);
    if (error == ERROR_SUCCESS) {
      if (!tools.inflate) tools.inflate.reset(libdeflate_alloc_decompressor());
      if (!tools.inflate) throw std::bad_alloc();
      // Without a place for the actual size, anything but exactly the recorded size fails.
      std::size_t used = 0;
      if (libdeflate_deflate_decompress_ex(tools.inflate.get(), tools.compressed.get(), compressed,
                                           data, size, &used, nullptr) != LIBDEFLATE_SUCCESS) {
        return fail(ERROR_INVALID_DATA, u"its compressed data is broken");
      }
      entry.trailing = compressed - used;
    }
  }
  if (error == ERROR_HANDLE_EOF) return fail(ERROR_INVALID_DATA, u"the archive ends within it");
  if (error != ERROR_SUCCESS) return fail(error, u"read error");
  if (libdeflate_crc32(0, data, size) != place.crc) {
    return fail(ERROR_INVALID_DATA, u"its data fails the CRC-32 check");
  }
  // A checked entry that cannot be kept is written after all, with the data at hand; the buffer
  // of a large one is not kept either.
  if (entry.check_only && (entry.trailing != 0 || size > kLargestEntry)) {
    if (entry.trailing != 0) entry.data = std::move(tools.checked);
    tools.checked.reset();
    tools.checked_capacity = 0;
  }
}

}  // namespace orvex::engine
