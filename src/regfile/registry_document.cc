#include "regfile/registry_document.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <new>
#include <utility>

#include "common/result.h"
#include "platform/memory.h"
#include "platform/text.h"
#include "regfile/path_collation.h"
#include "regfile/reg_writer.h"

namespace orvex {
namespace {

std::uint32_t HashOf(std::string_view key) {
  return static_cast<std::uint32_t>(std::hash<std::string_view>{}(key));
}

// Walks the backslash-separated components of a path; runs of backslashes and leading or
// trailing ones yield no empty components.
class Components {
 public:
  explicit Components(std::u16string_view path) : path_(path) {}

  /// The next component, or false when there is none left.
  bool Next(std::u16string_view* component) {
    while (position_ < path_.size() && path_[position_] == u'\\') ++position_;
    if (position_ == path_.size()) return false;
    const std::size_t end = std::min(path_.find(u'\\', position_), path_.size());
    *component = path_.substr(position_, end - position_);
    position_ = end;
    return true;
  }

 private:
  std::u16string_view path_;
  std::size_t position_ = 0;
};

// A copy of a collation key kept in `arena`.
std::string_view KeepKey(RegistryArena& arena, std::string_view key) {
  const std::span<const std::uint8_t> kept =
      arena.Keep({reinterpret_cast<const std::uint8_t*>(key.data()), key.size()});
  return {reinterpret_cast<const char*>(kept.data()), kept.size()};
}

bool ComponentsEqual(std::u16string_view a, std::u16string_view b) {
  // Identical text is equal under any collation; the collator is only asked about the rest.
  return a == b || EqualsIgnoreCase(a, b);
}

}  // namespace

// --- RegistryArena -------------------------------------------------------------------------------

namespace {

// Blocks grow to one large page, which the system can then back a whole large page at a time; a
// request of more than a quarter of it gets a block of its own, so that little of a block is left
// unused.
constexpr std::size_t kBlockBytes = platform::kLargePageBytes;
constexpr std::align_val_t kLargeAlignment{platform::kLargePageBytes};
// The first block of an arena: a standalone key with a value or two needs no more.
constexpr std::size_t kFirstBlockBytes = 256;

}  // namespace

void RegistryArena::BlockDelete::operator()(std::uint8_t* bytes) const {
  if (large) {
    ::operator delete[](bytes, kLargeAlignment);
  } else {
    delete[] bytes;
  }
}

std::uint8_t* RegistryArena::AllocateInNewBlock(std::size_t size) {
  const bool own_block = size > kBlockBytes / 4;
  // Each block twice the last, up to kBlockBytes: small documents stay small.
  const std::size_t block =
      own_block ? size
                : std::max(size, std::min(kBlockBytes, kFirstBlockBytes << std::min<std::size_t>(
                                                           blocks_.size(), 16)));
  const bool large = block == kBlockBytes;
  blocks_.reserve(blocks_.size() + 1);  // so that the block cannot leak below
  // Not zeroed: the pages of a block are first touched when they are filled.
  blocks_.emplace_back(large ? new (kLargeAlignment) std::uint8_t[block] : new std::uint8_t[block],
                       BlockDelete{large});
  if (large) platform::AdviseLargePages(blocks_.back().get(), block);
  if (own_block) return blocks_.back().get();  // the block being filled stays the one to fill
  next_ = blocks_.back().get() + size;
  left_ = block - size;
  return blocks_.back().get();
}

std::u16string_view RegistryArena::Keep(std::u16string_view text) {
  if (text.empty()) return {};
  auto* const units = reinterpret_cast<char16_t*>(Allocate(text.size() * sizeof(char16_t)));
  std::copy(text.begin(), text.end(), units);
  return {units, text.size()};
}

std::span<const std::uint8_t> RegistryArena::Keep(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return {};
  std::uint8_t* const copy = Allocate(bytes.size());
  std::copy(bytes.begin(), bytes.end(), copy);
  return {copy, bytes.size()};
}

// --- RegistryValueList ---------------------------------------------------------------------------

int RegistryValueList::FindValue(std::u16string_view name) const {
  for (std::size_t i = 0; i < pairs_.size(); ++i) {
    if (pairs_[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

bool RegistryValueList::AddValue(std::u16string_view name, RegistryValueRef value) {
  try {
    pairs_.reserve(pairs_.size() + 1);
    RegistryArena& arena = Arena();
    pairs_.push_back({arena.Keep(name), {value.type, arena.Keep(value.data)}});
    Judge(pairs_.size() - 1);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool RegistryValueList::AddValues(std::span<const RegistryValuePair> pairs,
                                  const std::shared_ptr<RegistryArena>& arena) {
  try {
    pairs_.reserve(pairs_.size() + pairs.size());
    // Judged here, where a reader hands over what it has just read.
    const bool all_fit = all_fit_ && std::all_of(pairs.begin(), pairs.end(), FitsValueLine);
    if (!arena_) arena_ = arena;
    if (arena_ == arena) {
      pairs_.insert(pairs_.end(), pairs.begin(), pairs.end());  // no allocation now
      all_fit_ = all_fit;
      return true;
    }
    std::vector<RegistryValuePair> copies;
    copies.reserve(pairs.size());
    for (const RegistryValuePair& pair : pairs) {
      copies.push_back({arena_->Keep(pair.name), {pair.value.type, arena_->Keep(pair.value.data)}});
    }
    pairs_.insert(pairs_.end(), copies.begin(), copies.end());
    all_fit_ = all_fit;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool RegistryValueList::SetValue(std::u16string_view name, RegistryValueRef value) {
  const int index = FindValue(name);
  if (index < 0) return false;
  SetValueAt(index, value);
  return true;
}

void RegistryValueList::SetValueAt(int index, RegistryValueRef value) {
  const std::size_t at = CheckedIndex(index);
  pairs_[at].value = {value.type, Arena().Keep(value.data)};
  Judge(at);
}

bool RegistryValueList::RemoveValueAt(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= pairs_.size()) return false;
  pairs_.erase(pairs_.begin() + index);
  return true;
}

void RegistryValueList::RenameValueAt(int index, std::u16string_view name) {
  const std::size_t at = CheckedIndex(index);
  pairs_[at].name = Arena().Keep(name);
  Judge(at);
}

void RegistryValueList::RetypeValueAt(int index, std::uint32_t type) {
  const std::size_t at = CheckedIndex(index);
  pairs_[at].value.type = type;
  Judge(at);
}

void RegistryValueList::Judge(std::size_t at) { all_fit_ = all_fit_ && FitsValueLine(pairs_[at]); }

const RegistryValuePair& RegistryValueList::operator[](int index) const {
  return pairs_[CheckedIndex(index)];
}

std::size_t RegistryValueList::CheckedIndex(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= pairs_.size()) {
    throw ResultException(E_INVALIDARG);
  }
  return static_cast<std::size_t>(index);
}

RegistryArena& RegistryValueList::Arena() {
  if (!arena_) arena_ = std::make_shared<RegistryArena>();
  return *arena_;
}

// --- RegistryKeyEntry ----------------------------------------------------------------------------

RegistryKeyEntry::RegistryKeyEntry(std::u16string_view path) : RegistryKeyEntry(nullptr, path) {}

RegistryKeyEntry::RegistryKeyEntry(std::shared_ptr<RegistryArena> arena, std::u16string_view path)
    : arena_(arena ? std::move(arena) : std::make_shared<RegistryArena>()),
      path_(arena_->Keep(path)),
      path_fits_(FitsKeyLine(path)) {
  values_.arena_ = arena_;
}

// --- RegistryFileChannel -------------------------------------------------------------------------

void RegistryFileChannel::Reset() {
  platform::CloseHandle(file);
  if (!buffer) buffer = std::make_unique<char16_t[]>(kUnits);
}

// --- RegistryDocument ----------------------------------------------------------------------------

RegistryKeyEntry& RegistryDocument::KeyAt(int index) {
  if (index < 0 || index >= size()) throw ResultException(E_INVALIDARG);
  return keys_[static_cast<std::size_t>(index)];
}

const RegistryKeyEntry& RegistryDocument::KeyAt(int index) const {
  if (index < 0 || index >= size()) throw ResultException(E_INVALIDARG);
  return keys_[static_cast<std::size_t>(index)];
}

// The entry, with its collation key and the key's hash made if they were not yet.
const RegistryKeyEntry& RegistryDocument::WithKey(const RegistryKeyEntry& entry) const {
  if (!entry.has_collation_key_) {
    PathCollationKey(entry.path_, &probe_);
    entry.collation_key_ = KeepKey(*entry.arena_, probe_);
    entry.collation_hash_ = HashOf(entry.collation_key_);
    entry.has_collation_key_ = true;
  }
  return entry;
}

std::string_view RegistryDocument::CollationKeyAt(int index) const {
  return WithKey(KeyAt(index)).collation_key_;
}

RegistryDocument::Slot& RegistryDocument::Probe(std::string_view key, std::uint32_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.index_plus_one == 0) return slot;
    if (slot.hash == hash && keys_[slot.index_plus_one - 1].collation_key_ == key) return slot;
  }
}

int RegistryDocument::Lookup(std::string_view key, std::uint32_t hash) const {
  return static_cast<int>(Probe(key, hash).index_plus_one) - 1;
}

// Adds `index` under its key unless an earlier entry with the same key is there already, so that
// lookups keep answering with the first of equal paths.
void RegistryDocument::IndexInsert(std::uint32_t hash, int index) const {
  if (2 * keys_.size() > slots_.size()) {
    BuildIndex();  // grows the table and takes in every entry, this one included
    return;
  }
  Slot& slot = Probe(keys_[static_cast<std::size_t>(index)].collation_key_, hash);
  if (slot.index_plus_one == 0) slot = Slot{hash, static_cast<std::uint32_t>(index) + 1};
}

void RegistryDocument::ReserveKeys(std::size_t count) {
  keys_.reserve(count);
  reserved_keys_ = count;
}

void RegistryDocument::BuildIndex() const {
  const std::size_t capacity =
      std::bit_ceil(std::max<std::size_t>(16, 2 * std::max(keys_.size(), reserved_keys_) + 2));
  slots_.assign(capacity, Slot{});
  index_valid_ = true;
  for (std::size_t index = 0; index < keys_.size(); ++index) {
    const RegistryKeyEntry& entry = WithKey(keys_[index]);
    Slot& slot = Probe(entry.collation_key_, entry.collation_hash_);
    if (slot.index_plus_one == 0) {
      slot = Slot{entry.collation_hash_, static_cast<std::uint32_t>(index) + 1};
    }
  }
}

void RegistryDocument::InvalidateIndex() const {
  index_valid_ = false;
  slots_.clear();
}

const std::shared_ptr<RegistryArena>& RegistryDocument::arena() {
  if (!arena_) arena_ = std::make_shared<RegistryArena>();
  return arena_;
}

int RegistryDocument::FindKey(std::u16string_view path) const {
  if (!index_valid_) BuildIndex();  // before probe_ is filled: building uses it too
  PathCollationKey(path, &probe_);
  return Lookup(probe_, HashOf(probe_));
}

int RegistryDocument::FindCollationKey(std::string_view collation_key) const {
  if (!index_valid_) BuildIndex();
  return Lookup(collation_key, HashOf(collation_key));
}

int RegistryDocument::AddKey(std::u16string_view path) {
  return AddKey(RegistryKeyEntry(arena(), path));
}

int RegistryDocument::AddKey(RegistryKeyEntry entry) {
  keys_.push_back(std::move(entry));
  const int index = size() - 1;
  if (index_valid_) IndexInsert(WithKey(keys_.back()).collation_hash_, index);
  return index;
}

int RegistryDocument::FindOrAddKey(std::u16string_view path) {
  if (!index_valid_) BuildIndex();  // before probe_ is filled: building uses it too
  PathCollationKey(path, &probe_);
  const std::uint32_t hash = HashOf(probe_);
  const int found = Lookup(probe_, hash);
  if (found >= 0) return found;
  RegistryKeyEntry entry(arena(), path);
  entry.collation_key_ = KeepKey(*arena_, probe_);
  entry.collation_hash_ = hash;
  entry.has_collation_key_ = true;
  keys_.push_back(std::move(entry));
  const int index = size() - 1;
  IndexInsert(hash, index);
  return index;
}

void RegistryDocument::InsertKeyAt(int index, const RegistryKeyEntry& entry) {
  if (index < 0 || index > size()) throw ResultException(E_INVALIDARG);
  if (index == size()) {
    AddKey(entry);
    return;
  }
  keys_.insert(keys_.begin() + index, entry);
  InvalidateIndex();
}

void RegistryDocument::RemoveKeyAt(int index) {
  if (index < 0 || index >= size()) throw ResultException(E_INVALIDARG);
  keys_.erase(keys_.begin() + index);
  InvalidateIndex();
}

int RegistryDocument::DeleteKeyTree(std::u16string_view root) {
  // Removing every match in one sweep leaves the same keys in the same order as removing the
  // first match again and again.
  const auto kept_end = std::remove_if(keys_.begin(), keys_.end(), [&](const RegistryKeyEntry& e) {
    return IsKeyAtOrBelow(e.path_, root);
  });
  const int removed = static_cast<int>(keys_.end() - kept_end);
  if (removed > 0) {
    keys_.erase(kept_end, keys_.end());
    InvalidateIndex();
  }
  return removed;
}

int RegistryDocument::RenameKeyTree(std::u16string_view source, std::u16string_view destination) {
  std::u16string prefix;
  Components destination_parts(destination);
  for (std::u16string_view part; destination_parts.Next(&part);) {
    if (!prefix.empty()) prefix += u'\\';
    prefix += part;
  }
  std::size_t source_count = 0;
  Components source_parts(source);
  for (std::u16string_view part; source_parts.Next(&part);) ++source_count;

  int renamed = 0;
  for (RegistryKeyEntry& entry : keys_) {
    if (!IsKeyAtOrBelow(entry.path_, source)) continue;
    std::u16string path = prefix;
    Components key_parts(entry.path_);
    std::size_t taken = 0;
    for (std::u16string_view part; key_parts.Next(&part);) {
      if (taken < source_count) {
        ++taken;  // this component stands for one of the source's and is replaced
        continue;
      }
      path += u'\\';
      path += part;
    }
    entry.path_ = entry.arena_->Keep(path);
    entry.path_fits_ = FitsKeyLine(path);
    entry.has_collation_key_ = false;
    entry.collation_key_ = {};
    ++renamed;
  }
  if (renamed > 0) InvalidateIndex();
  return renamed;
}

void RegistryDocument::ReorderKeys(std::span<const int> order) {
  const std::size_t n = keys_.size();
  if (order.size() != n) throw ResultException(E_INVALIDARG);
  std::vector<bool> placed(n);
  for (const int from : order) {
    if (from < 0 || static_cast<std::size_t>(from) >= n || placed[static_cast<std::size_t>(from)]) {
      throw ResultException(E_INVALIDARG);
    }
    placed[static_cast<std::size_t>(from)] = true;
  }
  // Follows each cycle of the permutation, so that entries move in place without a second
  // sequence of them.
  std::fill(placed.begin(), placed.end(), false);
  for (std::size_t start = 0; start < n; ++start) {
    if (placed[start]) continue;
    RegistryKeyEntry held = std::move(keys_[start]);
    std::size_t to = start;
    for (;;) {
      placed[to] = true;
      const std::size_t from = static_cast<std::size_t>(order[to]);
      if (from == start) break;
      keys_[to] = std::move(keys_[from]);
      to = from;
    }
    keys_[to] = std::move(held);
  }
  InvalidateIndex();
}

// --- Paths ---------------------------------------------------------------------------------------

bool IsKeyAtOrBelow(std::u16string_view key, std::u16string_view root) {
  if (key.size() < root.size()) return false;
  Components key_parts(key);
  Components root_parts(root);
  std::u16string_view key_part;
  std::u16string_view root_part;
  while (key_parts.Next(&key_part) && root_parts.Next(&root_part)) {
    if (!ComponentsEqual(key_part, root_part)) return false;
  }
  return true;
}

bool NormalizeKeyPath(std::u16string* path) {
  std::size_t start = 0;
  while (start < path->size() && (*path)[start] == u'\\') ++start;
  const std::size_t end = std::min(path->find(u'\\', start), path->size());
  const std::u16string_view root = std::u16string_view(*path).substr(start, end - start);
  for (const KeyRoot& known : kKeyRoots) {
    if (root != known.word) continue;
    const std::size_t rest = std::min(end + 1, path->size());
    *path = std::u16string(known.long_form) + u'\\' + path->substr(rest);
    return true;
  }
  return false;
}

KeyPathFlaw FindKeyPathFlaw(std::u16string_view normalized) {
  if (normalized.find(u'/') != std::u16string_view::npos) return KeyPathFlaw::kSlash;
  // The root alone ends in the backslash that NormalizeKeyPath writes after it.
  const std::size_t root_end = normalized.find(u'\\');
  if (root_end == std::u16string_view::npos || root_end + 1 == normalized.size()) {
    return KeyPathFlaw::kNone;
  }
  std::size_t start = root_end + 1;
  for (;;) {
    const std::size_t end = std::min(normalized.find(u'\\', start), normalized.size());
    if (end == start) {
      return end == normalized.size() ? KeyPathFlaw::kFinalBackslash : KeyPathFlaw::kEmptyName;
    }
    if (normalized[end - 1] == u' ') return KeyPathFlaw::kTrailingBlank;
    if (end == normalized.size()) return KeyPathFlaw::kNone;
    start = end + 1;
  }
}

}  // namespace orvex
