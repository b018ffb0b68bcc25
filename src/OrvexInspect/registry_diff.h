#pragma once
// Two registry documents compared by what they mean: key order and the letter case of key paths
// do not count, repeated sections of one path are one key (as the reader reads them), value order
// inside a key does not count, value names compare exactly.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "regfile/registry_document.h"

namespace orvex {

/// One key as a .reg file means it: every section of its path with their values in order.
struct KeyView {
  std::u16string_view path;  ///< as the first section writes it
  std::string_view collation_key;
  std::vector<const RegistryValuePair*> values;
};

/// The keys of a document by the collation key of their paths, each key the sections of one path
/// together, found through the document's own index. The document must not change while the
/// index is used.
class DocumentIndex {
 public:
  explicit DocumentIndex(const RegistryDocument& document);

  /// Keys in the order of their first sections.
  const std::vector<KeyView>& keys() const { return keys_; }
  /// The key whose path has `collation_key`, or null.
  const KeyView* Find(std::string_view collation_key) const;

 private:
  const RegistryDocument& document_;  // whose index finds a path's first section
  std::vector<KeyView> keys_;
  std::vector<std::size_t> view_of_;  // the key of each section of the document
};

/// A value that differs: absent on one side (null), different in type or bytes, or renamed with
/// its data kept. A key that holds the name more than once counts as the import leaves it: the
/// last value stands.
struct ValueDifference {
  std::u16string_view name;  ///< the after side's name, or the before side's for a removed value
  const RegistryValueRef* before = nullptr;
  const RegistryValueRef* after = nullptr;
  std::size_t before_count = 0;  ///< how many values of the name the before key holds
  std::size_t after_count = 0;
  bool renamed = false;               ///< renamed in its key, or moved from another
  std::u16string_view old_name = {};  ///< a renamed value's name before
  std::u16string_view old_key = {};   ///< the key a value moved from, when another
};

/// A key that differs; an added or removed key lists every value it holds.
struct KeyDifference {
  enum class Kind { kAdded, kRemoved, kChanged };
  Kind kind;
  const KeyView* key;  ///< the after side's key, or the before side's for a removed one
  std::vector<ValueDifference> values;
};

/// What differs, ordered by key path as the collation orders paths; a value of a changed key
/// renamed with its data kept is one renamed value.
std::vector<KeyDifference> CompareDocuments(const DocumentIndex& before,
                                            const DocumentIndex& after);

/// A key tree that moved to another path (renamed keys included), with the keys that moved
/// along.
struct KeyTreeMove {
  std::u16string from;
  std::u16string to;
  std::size_t keys = 0;
};

/// Finds the key trees that moved among `*differences` (of CompareDocuments). A removed key and an
/// added key with the same values name a move of the keys above them, up to where their names
/// part; it is taken when nothing is at its destination before and nothing at its source after.
/// The keys below a move pair up by their path under it: a pair with equal values leaves
/// `*differences`, another stays as the after key changed. Moves come ordered by their source.
std::vector<KeyTreeMove> FindKeyTreeMoves(const DocumentIndex& before, const DocumentIndex& after,
                                          std::vector<KeyDifference>* differences);

/// Turns a removed and an added value of one key with the same type and data into one renamed
/// value, in the added value's place.
void PairRenamedValues(std::vector<ValueDifference>* differences);

/// The names of a key path between its backslashes.
std::vector<std::u16string_view> KeyComponents(std::u16string_view path);

/// Key path names joined by single backslashes.
std::u16string Join(std::span<const std::u16string_view> parts);

/// A hash of a value's type and data.
std::uint64_t DataHash(const RegistryValueRef& value);

/// A hash of a key's values (names, types and data) that does not depend on their order.
std::uint64_t ValuesHash(const KeyView& key);

/// Whether two keys hold the same values, in whatever order.
bool SameValues(const KeyView& a, const KeyView& b);

/// The values of two keys that differ; `*differences` receives them in name order (a key that one
/// side lacks: in the order of the other's values).
void CompareValues(const KeyView* before, const KeyView* after,
                   std::vector<ValueDifference>* differences);

}  // namespace orvex
