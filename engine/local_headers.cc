#include "engine/local_headers.h"

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

#include "common/little_endian.h"
#include "engine/zip_format.h"
#include "platform/text.h"

namespace orvex::engine {
namespace {

// This file reads the format field by field.
using namespace zip;

// The archive library looks for the end record in this much of the archive's end.
constexpr std::uint64_t kEndSearchSize = 16 * 1024;
// The central directory is read in large pieces; local headers lie apart and are small: a window
// holds one with its name and extra fields, or those of a few small entries.
constexpr std::size_t kDirectoryWindow = 64 * 1024;
constexpr std::size_t kLocalHeaderWindow = 1024;

// Code page 437 above ASCII, the characters of names without the UTF-8 flag.
constexpr char16_t kCodePage437[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

bool HasSignature(const char* p, std::uint32_t signature) { return LoadLe32(p) == signature; }

std::u16string NameText(std::string_view bytes, std::uint16_t flags) {
  if ((flags & kFlagUtf8) != 0) return ToUtf16(bytes);
  std::u16string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    text += byte < 0x80 ? static_cast<char16_t>(byte) : kCodePage437[byte - 0x80];
  }
  return text;
}

// A stretch of the archive kept in memory, so that walking the central directory and the local
// headers costs one read per window rather than one per record.
class Window {
 public:
  Window(const ArchiveReader& read, std::uint64_t size, std::size_t piece)
      : read_(read), size_(size), piece_(piece) {}

  // `count` bytes at `offset`, valid until the next call; null when they lie beyond the end of
  // the archive or cannot be read.
  const char* At(std::uint64_t offset, std::size_t count) {
    if (offset > size_ || count > size_ - offset) return nullptr;
    if (offset >= start_ && offset - start_ + count <= data_.size()) {
      return data_.data() + (offset - start_);
    }
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(std::max(count, piece_), size_ - offset));
    data_.resize(wanted);
    start_ = offset;
    for (std::size_t done = 0; done < wanted;) {
      const std::int64_t got = read_(offset + done, std::span<char>(data_).subspan(done));
      if (got <= 0) {
        if (got < 0) failed_ = true;
        data_.resize(done);
        return nullptr;
      }
      done += static_cast<std::size_t>(got);
    }
    return data_.data();
  }

  bool failed() const { return failed_; }

 private:
  const ArchiveReader& read_;
  std::uint64_t size_;
  std::size_t piece_;
  std::uint64_t start_ = 0;
  std::vector<char> data_;
  bool failed_ = false;
};

// Whether an extra block is well formed the way the archive library demands: fields that fit,
// or fewer than four bytes that are all zero.
bool ExtraBlockIsSound(std::string_view extra) {
  if (extra.size() < 4) return std::ranges::all_of(extra, [](char c) { return c == 0; });
  for (std::size_t at = 0; at + 4 <= extra.size();) {
    const std::size_t length = LoadLe16(extra.data() + at + 2);
    at += 4;
    if (at + length > extra.size()) return false;
    at += length;
  }
  return true;
}

// The data of the first extra field `id` in a sound block.
std::optional<std::string_view> ExtraField(std::string_view extra, std::uint16_t id) {
  for (std::size_t at = 0; at + 4 <= extra.size();) {
    const std::uint16_t field = LoadLe16(extra.data() + at);
    const std::size_t length = LoadLe16(extra.data() + at + 2);
    at += 4;
    if (at + length > extra.size()) break;
    if (field == id) return extra.substr(at, length);
    at += length;
  }
  return std::nullopt;
}

// Replaces each value that says 0xFFFFFFFF by the next 64-bit one of the ZIP64 field, in the
// format's order; false when the field is too short for them.
bool ApplyZip64(std::string_view extra, std::initializer_list<std::uint64_t*> values) {
  const std::optional<std::string_view> field = ExtraField(extra, kZip64Field);
  if (!field) return true;
  std::size_t at = 0;
  for (std::uint64_t* value : values) {
    if (*value != kUnknown32) continue;
    if (at + 8 > field->size()) return false;
    *value = LoadLe64(field->data() + at);
    if (*value > static_cast<std::uint64_t>(INT64_MAX)) return false;
    at += 8;
  }
  return true;
}

// What a central directory record or a local header says about an entry.
struct EntryFacts {
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint64_t crc = 0;
  std::uint64_t compressed = 0;
  std::uint64_t uncompressed = 0;
  std::string name;
  std::string extra;
};

// Where the central directory starts and how its recorded offsets are to be corrected.
struct Directory {
  std::uint64_t start = 0;
  std::int64_t correction = 0;
};

// The end records, read the way the archive library reads them; false when it would not take
// the file for a ZIP archive.
bool FindDirectory(Window& window, std::uint64_t size, Directory* directory) {
  const std::uint64_t tail = std::min(kEndSearchSize, size);
  if (tail < kEndRecordSize) return false;
  const std::uint64_t tail_start = size - tail;
  const char* p = window.At(tail_start, static_cast<std::size_t>(tail));
  if (p == nullptr) return false;
  // The last end record counts (an archive stored inside may hold one of its own), never one at
  // the very start of the searched stretch.
  std::size_t i = static_cast<std::size_t>(tail - kEndRecordSize);
  while (i > 0 && !HasSignature(p + i, kEndRecordSignature)) --i;
  if (i == 0) return false;
  const char* end = p + i;
  const std::uint64_t end_position = tail_start + i;
  std::int64_t recorded = 0;
  std::int64_t adjusted = 0;
  bool found = false;
  const std::uint16_t disk = LoadLe16(end + kEndDisk);
  const std::uint32_t directory_size = LoadLe32(end + kEndDirectorySize);
  const std::uint32_t directory_offset = LoadLe32(end + kEndDirectoryOffset);
  // The sum wraps at 32 bits there too.
  if (disk == 0 && LoadLe16(end + kEndDirectoryDisk) == disk &&
      LoadLe16(end + kEndEntries) == LoadLe16(end + kEndEntriesOnDisk) &&
      static_cast<std::uint32_t>(directory_offset + directory_size) <= end_position) {
    recorded = directory_offset;
    adjusted = static_cast<std::int64_t>(end_position) - directory_size;
    found = true;
  }
  if (i >= kZip64LocatorSize && HasSignature(end - kZip64LocatorSize, kZip64LocatorSignature)) {
    const char* locator = end - kZip64LocatorSize;
    const std::uint64_t record_offset = LoadLe64(locator + kLocatorRecordOffset);
    const char* record =
        LoadLe32(locator + kLocatorRecordDisk) == 0 && LoadLe32(locator + kLocatorDisks) == 1
            ? window.At(record_offset, kZip64EndRecordSize)
            : nullptr;
    const std::uint64_t record_size =
        record != nullptr ? LoadLe64(record + kZip64RecordSize) + kZip64RecordSize + 8 : 0;
    if (record_size >= kZip64EndRecordSize && record_size <= 16384 &&
        (record = window.At(record_offset, static_cast<std::size_t>(record_size))) != nullptr &&
        LoadLe32(record + kZip64Disk) == 0 && LoadLe32(record + kZip64DirectoryDisk) == 0 &&
        LoadLe64(record + kZip64EntriesOnDisk) == LoadLe64(record + kZip64Entries)) {
      recorded = static_cast<std::int64_t>(LoadLe64(record + kZip64DirectoryOffset));
      adjusted = recorded;
      found = true;
    }
  }
  if (!found || adjusted < 0) return false;
  // Data prepended to the archive moves everything: the directory is where its first signature
  // is found, and every recorded offset moves by as much.
  for (auto at = static_cast<std::uint64_t>(adjusted);; ++at) {
    const char* q = window.At(at, 4);
    if (q == nullptr) return false;
    if (HasSignature(q, kCentralRecordSignature) || HasSignature(q, kEndRecordSignature) ||
        HasSignature(q, kZip64EndRecordSignature)) {
      directory->start = at;
      directory->correction = static_cast<std::int64_t>(at) - recorded;
      return true;
    }
  }
}

// Reads the local header at `offset`; an empty optional when there is none.
std::optional<EntryFacts> ReadLocalHeader(Window& window, std::uint64_t offset) {
  const char* p = window.At(offset, kLocalHeaderSize);
  if (p == nullptr || !HasSignature(p, kLocalHeaderSignature)) return std::nullopt;
  EntryFacts local;
  local.flags = LoadLe16(p + kLocalFlags);
  local.method = LoadLe16(p + kLocalMethod);
  local.crc = LoadLe32(p + kLocalCrc);
  local.compressed = LoadLe32(p + kLocalCompressedSize);
  local.uncompressed = LoadLe32(p + kLocalUncompressedSize);
  const std::size_t name_length = LoadLe16(p + kLocalNameLength);
  const std::size_t extra_length = LoadLe16(p + kLocalExtraLength);
  p = window.At(offset + kLocalHeaderSize, name_length + extra_length);
  if (p == nullptr) return std::nullopt;
  local.name.assign(p, name_length);
  local.extra.assign(p + name_length, extra_length);
  if (!ExtraBlockIsSound(local.extra) ||
      !ApplyZip64(local.extra, {&local.uncompressed, &local.compressed})) {
    return std::nullopt;
  }
  return local;
}

// A value a local header gives: the central one, or, when a data descriptor follows the data,
// nothing at all.
bool Agrees(std::uint64_t local, std::uint64_t central, bool descriptor_follows) {
  return local == central || (descriptor_follows && (local == 0 || local == kUnknown32));
}

// Why the local header `local` does not describe the entry of `central`; empty when it does.
std::u16string Disagreement(const EntryFacts& central, const EntryFacts& local) {
  if (local.name != central.name) {
    return u"its local header names '" + NameText(local.name, local.flags) + u"'";
  }
  constexpr std::uint16_t kMeaningfulFlags = kFlagEncrypted | kFlagStrongEncryption | kFlagUtf8;
  if (((local.flags ^ central.flags) & kMeaningfulFlags) != 0) {
    return u"its local header has other flags";
  }
  if (ExtraField(local.extra, kUnicodePathField) != ExtraField(central.extra, kUnicodePathField)) {
    return u"its local header has another Unicode name";
  }
  if (local.method != central.method) return u"its local header has another compression method";
  const bool descriptor = (local.flags & kFlagDataDescriptor) != 0;
  if (!Agrees(local.crc, central.crc, descriptor) ||
      !Agrees(local.compressed, central.compressed, descriptor) ||
      !Agrees(local.uncompressed, central.uncompressed, descriptor)) {
    return u"its local header gives other sizes";
  }
  return {};
}

// Whether an extra block holds no field that the archive library takes for more than sizes,
// times and owners.
bool ExtraFieldsArePlain(std::string_view extra) {
  for (std::size_t at = 0; at + 4 <= extra.size(); at += 4 + LoadLe16(extra.data() + at + 2)) {
    const std::uint16_t field = LoadLe16(extra.data() + at);
    if (field != kZip64Field && field != kExtendedTimestampField && field != kNtfsTimesField &&
        field != kUnixOwnerField) {
      return false;
    }
  }
  return true;
}

// Whether the archive library makes of an entry just what its records say (see
// CheckLocalHeaders); `name` is the central record's name as NameText reads it, `made_by` and
// `attributes` are that record's.
bool IsPlain(const EntryFacts& central, const EntryFacts& local, std::u16string_view name,
             std::uint16_t made_by, std::uint32_t attributes) {
  if ((central.flags & (kFlagEncrypted | kFlagStrongEncryption)) != 0 ||
      !ExtraFieldsArePlain(central.extra) || !ExtraFieldsArePlain(local.extra)) {
    return false;
  }
  if ((central.flags & kFlagUtf8) != 0 && ToUtf8(name) != central.name) {
    return false;
  }
  const bool folder = central.name.ends_with('/');
  switch (made_by >> 8) {
    case kSystemUnix:
      return ((attributes >> 16) & kUnixTypeMask) == (folder ? kUnixDirectory : kUnixFile);
    case kSystemMsDos:
      return ((attributes & kDosDirectory) != 0) == folder;
    default:
      return false;
  }
}

}  // namespace

LocalHeaderStatus CheckLocalHeaders(std::uint64_t size, const ArchiveReader& read,
                                    LocalHeaderDisagreement* disagreement,
                                    CentralDirectoryTotals* totals, bool keep_names) {
  *totals = CentralDirectoryTotals();
  Window directory_window(read, size, kDirectoryWindow);
  Window local_window(read, size, kLocalHeaderWindow);
  const auto unreadable = [&] {
    return directory_window.failed() || local_window.failed() ? LocalHeaderStatus::kReadFailed
                                                              : LocalHeaderStatus::kNoDirectory;
  };
  // An archive of no entries is its end record alone, at the very start.
  if (size >= kEndRecordSize && size - kEndRecordSize <= 0xFFFF) {
    const char* end = directory_window.At(0, kEndRecordSize);
    if (end != nullptr && HasSignature(end, kEndRecordSignature) &&
        LoadLe16(end + kEndEntriesOnDisk) == 0 && LoadLe16(end + kEndEntries) == 0 &&
        LoadLe16(end + kEndCommentLength) == size - kEndRecordSize) {
      return LocalHeaderStatus::kEmpty;
    }
  }
  Directory directory;
  if (!FindDirectory(directory_window, size, &directory)) return unreadable();

  for (std::uint64_t at = directory.start;;) {
    const char* p = directory_window.At(at, 4);
    if (p == nullptr) return unreadable();
    if (HasSignature(p, kEndRecordSignature) || HasSignature(p, kZip64EndRecordSignature)) {
      std::ranges::stable_sort(totals->recorded, {}, &RecordedEntry::local_header);
      return LocalHeaderStatus::kAgree;
    }
    if (!HasSignature(p, kCentralRecordSignature) ||
        (p = directory_window.At(at, kCentralRecordSize)) == nullptr) {
      return unreadable();
    }
    EntryFacts central;
    const std::uint16_t made_by = LoadLe16(p + kCentralVersionMadeBy);
    const std::uint32_t attributes = LoadLe32(p + kCentralExternalAttributes);
    central.flags = LoadLe16(p + kCentralFlags);
    central.method = LoadLe16(p + kCentralMethod);
    central.crc = LoadLe32(p + kCentralCrc);
    central.compressed = LoadLe32(p + kCentralCompressedSize);
    central.uncompressed = LoadLe32(p + kCentralUncompressedSize);
    const std::size_t name_length = LoadLe16(p + kCentralNameLength);
    const std::size_t extra_length = LoadLe16(p + kCentralExtraLength);
    const std::size_t comment_length = LoadLe16(p + kCentralCommentLength);
    // The correction applies before a ZIP64 field is consulted, as in the archive library.
    auto local_offset =
        static_cast<std::uint64_t>(LoadLe32(p + kCentralLocalHeaderOffset) + directory.correction);
    p = directory_window.At(at + kCentralRecordSize, name_length + extra_length);
    if (p == nullptr) return unreadable();
    central.name.assign(p, name_length);
    central.extra.assign(p + name_length, extra_length);
    if (!ExtraBlockIsSound(central.extra) ||
        !ApplyZip64(central.extra, {&central.uncompressed, &central.compressed, &local_offset})) {
      return unreadable();
    }
    totals->bytes += std::min(central.uncompressed, UINT64_MAX - totals->bytes);

    const std::optional<EntryFacts> local = ReadLocalHeader(local_window, local_offset);
    if (local_window.failed()) return LocalHeaderStatus::kReadFailed;
    std::u16string name = NameText(central.name, central.flags);
    std::u16string reason = local ? Disagreement(central, *local)
                                  : u"no readable local header where the central directory says";
    if (!reason.empty()) {
      disagreement->name = std::move(name);
      disagreement->reason = std::move(reason);
      return LocalHeaderStatus::kDisagree;
    }
    const bool plain = keep_names && IsPlain(central, *local, name, made_by, attributes);
    totals->recorded.push_back({.name_hash = std::hash<std::u16string>()(name),
                                .local_header = local_offset,
                                .place = {.data_offset = local_offset + kLocalHeaderSize +
                                                         local->name.size() + local->extra.size(),
                                          .compressed = central.compressed,
                                          .uncompressed = central.uncompressed,
                                          .crc = static_cast<std::uint32_t>(central.crc),
                                          .method = central.method},
                                .name = keep_names ? std::move(name) : std::u16string(),
                                .plain = plain});
    at += kCentralRecordSize + name_length + extra_length + comment_length;
  }
}

}  // namespace orvex::engine
