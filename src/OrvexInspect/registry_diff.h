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

/// The text of a REG_SZ or REG_EXPAND_SZ value that a rule can write: false unless the data is
/// UTF-16 text with exactly one NUL, at its end.
bool ValueText(const RegistryValueRef& value, std::u16string* text);

/// The strings of a REG_MULTI_SZ value: false unless the data is NUL-terminated strings (empty
/// ones too) followed by one more NUL (or that NUL alone).
bool ValueStrings(const RegistryValueRef& value, std::vector<std::u16string>* strings);

/// How a value reads for a person: the first line ("string \"text\"", "integer 42", "qword 7",
/// "multi", "binary 2c 00 ...", "hex(b) ...") and the lines that follow it (the strings of a
/// multi-string, long byte lists).
struct ValueDescription {
  std::u16string head;
  std::vector<std::u16string> more;
};
ValueDescription DescribeValue(const RegistryValueRef& value);

/// What a description adds for a value whose key holds `count` > 1 values of its name: "(the key
/// holds this name twice; an import keeps this last value)".
std::u16string NameCountText(std::size_t count);

/// Whether a move only changed the letter case of a path or name.
bool LetterCaseOnly(std::u16string_view from, std::u16string_view to);

/// How a difference names its value: "\"Name\"", or for a renamed value "\"Old\" -> \"New\"", with
/// " (letter case only)" when that is all that changed; a value moved from another key adds
/// " from [Key]".
std::u16string ValueNamesText(const ValueDifference& value);

/// The value name as a .reg file writes it: @ for the default value, else in double quotes.
std::u16string ValueNameText(std::u16string_view name);

/// Appends the value as a JSON object {"type": ..., "data": ...}: text for strings, a number for
/// integers, an array for multi-strings, lowercase hexadecimal for everything else; with
/// "name_count" when its key holds `count` > 1 values of its name.
void AppendValueJson(std::u16string* out, const RegistryValueRef& value, std::size_t count);

}  // namespace orvex
