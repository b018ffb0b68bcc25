#pragma once
// The in-memory form of one .reg file: an ordered sequence of key sections, each with an ordered
// list of named values. Keys are text paths only; nothing here touches a live registry.
//
// Key paths compare case-insensitively (CompareIgnoreCase), value names exactly. Lookups by path
// go through a hash index on the collation key of each path, so that they agree with the
// case-insensitive comparison and cost O(1). Appending a key extends the index; any other change
// that moves keys has it rebuilt at the next lookup, from keys it does not have to make again.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_handles.h"

namespace orvex {

/// Registry value type numbers as the .reg format spells them.
constexpr std::uint32_t REG_NONE = 0;
constexpr std::uint32_t REG_SZ = 1;
constexpr std::uint32_t REG_EXPAND_SZ = 2;
constexpr std::uint32_t REG_BINARY = 3;
constexpr std::uint32_t REG_DWORD = 4;
constexpr std::uint32_t REG_MULTI_SZ = 7;
constexpr std::uint32_t REG_QWORD = 11;

/// Storage that only grows: the names, data, key paths and collation keys of a document, in
/// blocks that never move, so that views into it stay valid as long as anything holds it. What an
/// operation replaces stays behind unused until the last holder lets go.
class RegistryArena {
 public:
  /// `size` uninitialised bytes at an even address (std::bad_alloc when memory for them could not
  /// be obtained).
  std::uint8_t* Allocate(std::size_t size) {
    size += size & 1;  // keeps every start even, for UTF-16 text
    if (size > left_) return AllocateInNewBlock(size);
    std::uint8_t* const bytes = next_;
    next_ += size;
    left_ -= size;
    return bytes;
  }
  /// A copy of `text` kept here.
  std::u16string_view Keep(std::u16string_view text);
  /// A copy of `bytes` kept here.
  std::span<const std::uint8_t> Keep(std::span<const std::uint8_t> bytes);

 private:
  // Frees a block the way it was allocated: full-size blocks are aligned to large pages.
  struct BlockDelete {
    bool large = false;
    void operator()(std::uint8_t* bytes) const;
  };

  std::uint8_t* AllocateInNewBlock(std::size_t size);

  std::vector<std::unique_ptr<std::uint8_t[], BlockDelete>> blocks_;
  std::uint8_t* next_ = nullptr;
  std::size_t left_ = 0;
};

/// A value as a rule builds it: its type and its own bytes (a quoted string holds its text as
/// UTF-16LE followed by a NUL code unit).
struct RegistryValueEntry {
  std::uint32_t type = REG_NONE;
  std::vector<std::uint8_t> data;

  bool operator==(const RegistryValueEntry&) const = default;
};

/// A value as a list holds it: its type and a view of its bytes, kept exactly as read.
struct RegistryValueRef {
  RegistryValueRef() = default;
  RegistryValueRef(std::uint32_t value_type, std::span<const std::uint8_t> bytes)
      : type(value_type), data(bytes) {}
  /// A view of a built value, valid while that value lives unchanged.
  RegistryValueRef(const RegistryValueEntry& value)  // NOLINT: converts like a string view
      : type(value.type), data(value.data) {}

  /// A copy that owns its bytes.
  RegistryValueEntry ToEntry() const { return {type, {data.begin(), data.end()}}; }

  /// Same type and same bytes.
  friend bool operator==(const RegistryValueRef& a, const RegistryValueRef& b) {
    return a.type == b.type && std::ranges::equal(a.data, b.data);
  }

  std::uint32_t type = REG_NONE;
  std::span<const std::uint8_t> data;
};

/// A named value of a key; the empty name is the key's default value.
struct RegistryValuePair {
  std::u16string_view name;
  RegistryValueRef value;

  bool operator==(const RegistryValuePair&) const = default;
};

/// The ordered values of one key. Names need not be unique; lookups find the first pair. Names
/// and data lie in an arena that copies of the list share; no operation changes bytes in it, so
/// a copy and its original never see each other's changes.
class RegistryValueList {
 public:
  /// Index of the first pair whose name equals `name` code unit by code unit, or -1.
  int FindValue(std::u16string_view name) const;
  /// Appends a copy of the pair; false (list unchanged) when memory for it could not be obtained.
  [[nodiscard]] bool AddValue(std::u16string_view name, RegistryValueRef value);
  /// Appends a batch of pairs whose names and data lie in `arena` (a reader's way: it keeps them
  /// there as it reads); they are copied when the list keeps its values elsewhere. False (list
  /// unchanged) when memory for them could not be obtained.
  [[nodiscard]] bool AddValues(std::span<const RegistryValuePair> pairs,
                               const std::shared_ptr<RegistryArena>& arena);
  /// Replaces the value of the first pair named `name` with a copy, in place; false when there is
  /// none.
  [[nodiscard]] bool SetValue(std::u16string_view name, RegistryValueRef value);
  /// Replaces the value at `index` with a copy; its name and position stay.
  void SetValueAt(int index, RegistryValueRef value);
  /// Removes the pair at `index`; false when the index is outside the list.
  bool RemoveValueAt(int index);
  /// Gives the pair at `index` a new name; its value and position stay.
  void RenameValueAt(int index, std::u16string_view name);
  /// Gives the value at `index` a new type; its data stays untouched.
  void RetypeValueAt(int index, std::uint32_t type);

  int size() const { return static_cast<int>(pairs_.size()); }
  bool empty() const { return pairs_.empty(); }
  /// True when every pair fitted a .reg value line (FitsValueLine) when it was last changed, so
  /// that the writer need not look at them again; false may also mean only that one that did not
  /// has been changed or removed since.
  bool all_fit_value_lines() const { return all_fit_; }
  /// The pair at `index` (ResultException with E_INVALIDARG outside the list).
  const RegistryValuePair& operator[](int index) const;
  std::vector<RegistryValuePair>::const_iterator begin() const { return pairs_.begin(); }
  std::vector<RegistryValuePair>::const_iterator end() const { return pairs_.end(); }

  /// Same pairs in the same order.
  bool operator==(const RegistryValueList& other) const { return pairs_ == other.pairs_; }

 private:
  friend class RegistryKeyEntry;

  std::size_t CheckedIndex(int index) const;
  // The arena, made the first time it is needed.
  RegistryArena& Arena();

  // Notes whether the pair at `at`, just changed, fits a value line.
  void Judge(std::size_t at);

  std::vector<RegistryValuePair> pairs_;
  std::shared_ptr<RegistryArena> arena_;
  bool all_fit_ = true;
};

/// One key section: its full path exactly as written and its values.
class RegistryKeyEntry {
 public:
  /// An entry with its own arena, a copy of `path` and no values.
  explicit RegistryKeyEntry(std::u16string_view path = {});

  /// The key's full path, e.g. HKEY_CURRENT_USER\Software\Example.
  std::u16string_view path() const { return path_; }
  /// Whether a .reg key line carries the path (FitsKeyLine), judged whenever it is set.
  bool path_fits_key_line() const { return path_fits_; }
  RegistryValueList& values() { return values_; }
  const RegistryValueList& values() const { return values_; }

  /// Equal paths (exactly) and equal value lists.
  bool operator==(const RegistryKeyEntry& other) const {
    return path_ == other.path_ && values_ == other.values_;
  }

 private:
  friend class RegistryDocument;

  // An entry whose path and values go into `arena` (a new one when it is null).
  RegistryKeyEntry(std::shared_ptr<RegistryArena> arena, std::u16string_view path);

  // Holds path_ and collation_key_; the values start out in it too, but a list may be replaced
  // whole.
  std::shared_ptr<RegistryArena> arena_;
  std::u16string_view path_;
  RegistryValueList values_;
  // The collation key of path_, made when first needed; only the document changes path_ and
  // clears it.
  mutable std::string_view collation_key_;
  mutable std::uint32_t collation_hash_ = 0;
  mutable bool has_collation_key_ = false;
  bool path_fits_ = false;  // beside the flag above, where the entry has room for it
};

/// The open file of a document's reader or writer, and the writer's 64 KiB buffer (the reader
/// reads the file mapped into memory instead).
struct RegistryFileChannel {
  /// Buffer capacity in UTF-16 code units.
  static constexpr std::size_t kUnits = 65536;

  /// Closes any open file (allocating the buffer the first time).
  void Reset();

  platform::FileHandle file;
  std::unique_ptr<char16_t[]> buffer;
};

/// One .reg file in memory: key entries in order, plus the header's version number.
class RegistryDocument {
 public:
  RegistryDocument() = default;
  RegistryDocument(RegistryDocument&&) = default;
  RegistryDocument& operator=(RegistryDocument&&) = default;

  const std::vector<RegistryKeyEntry>& keys() const { return keys_; }
  int size() const { return static_cast<int>(keys_.size()); }
  /// The entry at `index`, for working on its values (ResultException with E_INVALIDARG outside).
  RegistryKeyEntry& KeyAt(int index);
  const RegistryKeyEntry& KeyAt(int index) const;

  /// The header's version number (0x500 for "5.00"), set by the reader.
  std::uint32_t formatVersion() const { return format_version_; }
  void SetFormatVersion(std::uint32_t version) { format_version_ = version; }

  /// Index of the first entry whose path equals `path` case-insensitively, or -1.
  int FindKey(std::u16string_view path) const;
  /// Index of the first entry whose path has the collation key `collation_key`, or -1.
  int FindCollationKey(std::string_view collation_key) const;
  /// Appends an entry with an empty value list; no duplicate check. Returns its index.
  int AddKey(std::u16string_view path);
  /// Appends a prepared entry; no duplicate check. Returns its index.
  int AddKey(RegistryKeyEntry entry);
  /// FindKey, and AddKey when nothing is found, with one collation key made for both.
  int FindOrAddKey(std::u16string_view path);
  /// Makes room for `count` keys in all, so that a reader that can guess the number of keys of a
  /// large file spares the copies of a growing sequence and of a growing index.
  void ReserveKeys(std::size_t count);
  /// Inserts a copy of `entry` before position `index` (the size appends).
  void InsertKeyAt(int index, const RegistryKeyEntry& entry);
  /// Removes the entry at `index`; later entries move up (ResultException with E_INVALIDARG
  /// for an index at or beyond the size).
  void RemoveKeyAt(int index);
  /// Removes every key at or below `root`, keeping the order of the rest. Returns how many went.
  int DeleteKeyTree(std::u16string_view root);
  /// Rewrites the path of every key at or below `source` to lie under `destination` instead.
  /// Returns how many were renamed; renamed keys are not merged with existing ones.
  int RenameKeyTree(std::u16string_view source, std::u16string_view destination);

  /// The collation key of the entry's path, which orders paths as CompareIgnoreCase does.
  std::string_view CollationKeyAt(int index) const;
  /// Puts the entries into the order given: position i receives the entry now at order[i].
  /// `order` must be a permutation of 0 .. size()-1.
  void ReorderKeys(std::span<const int> order);

  /// The file of the reader or the writer (one channel, as only one of them runs at a time).
  RegistryFileChannel& channel() const { return channel_; }
  /// Where the keys that the document makes keep their paths and values (made when first asked
  /// for): the reader keeps what it reads there.
  const std::shared_ptr<RegistryArena>& arena();

 private:
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t index_plus_one = 0;  // 0 marks an empty slot
  };

  const RegistryKeyEntry& WithKey(const RegistryKeyEntry& entry) const;
  // The slot holding `key`, or the empty slot where it would go: the one probe of the index.
  Slot& Probe(std::string_view key, std::uint32_t hash) const;
  int Lookup(std::string_view key, std::uint32_t hash) const;
  void IndexInsert(std::uint32_t hash, int index) const;
  void BuildIndex() const;
  void InvalidateIndex() const;

  std::shared_ptr<RegistryArena> arena_;
  std::vector<RegistryKeyEntry> keys_;
  std::uint32_t format_version_ = 0;
  // The collation key of the path looked up or indexed last, kept to spare an allocation each.
  mutable std::string probe_;
  // Open-addressing hash table over keys_; rebuilt on the next lookup after a change that moves
  // entries, extended in place when entries are appended.
  mutable std::vector<Slot> slots_;
  mutable bool index_valid_ = false;
  std::size_t reserved_keys_ = 0;  // what the index is first made for
  mutable RegistryFileChannel channel_;
};

/// True when `key` is `root` itself or lies anywhere below it: compares the backslash-separated
/// components pairwise, case-insensitively, until either path runs out; a key with fewer code
/// units than the root is never at or below it.
bool IsKeyAtOrBelow(std::u16string_view key, std::u16string_view root);

/// A root a rule's key path may begin with, and its name in full.
struct KeyRoot {
  std::u16string_view word;
  std::u16string_view long_form;
};
inline constexpr std::array<KeyRoot, 4> kKeyRoots = {{
    {u"HKEY_CURRENT_USER", u"HKEY_CURRENT_USER"},
    {u"HKEY_LOCAL_MACHINE", u"HKEY_LOCAL_MACHINE"},
    {u"HKCU", u"HKEY_CURRENT_USER"},
    {u"HKLM", u"HKEY_LOCAL_MACHINE"},
}};

/// Rewrites a rule's key path so that its root is written in full: the roots of kKeyRoots are
/// accepted, case-sensitively. False, with the path unchanged, for any other root.
[[nodiscard]] bool NormalizeKeyPath(std::u16string* path);

/// What keeps a normalized rule key path from naming the key its writer meant. The rule
/// processors take the path as it is, and Windows writes no key of an empty name, no name ending
/// in a blank and no '/' meant as a backslash into a .reg file, so such a rule finds nothing.
enum class KeyPathFlaw {
  kNone,
  kEmptyName,       ///< two backslashes in a row
  kFinalBackslash,  ///< a backslash after the last name
  kTrailingBlank,   ///< a name that ends in a blank
  kSlash,           ///< a '/', which separates nothing in a key path
};
[[nodiscard]] KeyPathFlaw FindKeyPathFlaw(std::u16string_view normalized);

}  // namespace orvex
