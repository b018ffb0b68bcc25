#pragma once
// The rules of a migration XML file: one list in document order, read by the rule passes.
// Rules carry only text, exactly as the XML reader delivered it; each processor interprets its
// own fields when it runs.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace orvex {

/// Which record of a MigrationRule is in use.
enum class RuleKind : std::uint32_t { Directory = 1, File = 2, Key = 3, Value = 4 };

/// A `directory` element: copy, create, delete or move a directory.
struct DirectoryRule {
  std::u16string action;
  std::u16string destination;
  std::u16string source;
};

/// A `file` element: convert, copy, create, delete or move a file; `content` is its text.
struct FileRule {
  std::u16string action;
  std::u16string destination;
  std::u16string source;
  std::u16string content;
};

/// A `key` element: create, delete, rename a registry key or move a value out of it.
struct KeyRule {
  std::u16string action;
  std::u16string destination;
  std::u16string source;
  std::u16string value;
};

/// A `value` element: convert, delete, rename or set the value `source` of key `key`; `data` is
/// its text.
struct ValueRule {
  std::u16string action;
  std::u16string destination;
  std::u16string source;
  std::u16string data;
  std::u16string key;
  std::u16string flags;
  std::u16string type;
};

/// One word of the rule vocabulary and what it means: an action of one rule kind, a value type,
/// an attribute. Each kind of word has one table of these, the only place its words are written.
template <typename Meaning>
struct RuleWord {
  std::u16string_view word;
  Meaning meaning;
};

/// Whether `written` is `word`, compared ignoring case as every processor compares action and type
/// words.
[[nodiscard]] bool IsRuleWord(std::u16string_view written, std::u16string_view word);

/// What `written` means by `table`, ignoring case; `otherwise` when it is none of its words.
template <typename Meaning, std::size_t N>
[[nodiscard]] Meaning WordMeaning(const std::array<RuleWord<Meaning>, N>& table,
                                  std::u16string_view written, Meaning otherwise) {
  for (const RuleWord<Meaning>& entry : table) {
    if (IsRuleWord(written, entry.word)) return entry.meaning;
  }
  return otherwise;
}

/// The action of enum `Action` (which has `kUnknown`) that `written` names by `table`.
template <typename Action, std::size_t N>
[[nodiscard]] Action FindAction(const std::array<RuleWord<Action>, N>& table,
                                std::u16string_view written) {
  return WordMeaning(table, written, Action::kUnknown);
}

/// The word of `meaning` in `table`; empty when it has none.
template <typename Meaning, std::size_t N>
[[nodiscard]] std::u16string_view WordOf(const std::array<RuleWord<Meaning>, N>& table,
                                         Meaning meaning) {
  for (const RuleWord<Meaning>& entry : table) {
    if (entry.meaning == meaning) return entry.word;
  }
  return {};
}

/// The words of `table` in its order, for messages that list them.
template <typename Meaning, std::size_t N>
[[nodiscard]] std::vector<std::u16string_view> WordsOf(
    const std::array<RuleWord<Meaning>, N>& table) {
  std::vector<std::u16string_view> words;
  for (const RuleWord<Meaning>& entry : table) words.push_back(entry.word);
  return words;
}

/// What a rule did where a processor applied it: acted, found nothing to act on (the key, value or
/// source it names is missing, or the key to create exists), or failed (an ERROR line of its own,
/// or a result that stops the run).
enum class RuleOutcome { kActed, kFoundNothing, kFailed };

/// Tells `*outcome` (when asked) what a processor's rule did: `found` as the processor saw it,
/// except that a failure, or S_FALSE from a step that acted (a file operation that failed and was
/// logged), makes the rule failed.
inline void TellOutcome(HRESULT result, RuleOutcome found, RuleOutcome* outcome) {
  if (outcome == nullptr) return;
  const bool failed = FAILED(result) || (result == S_FALSE && found == RuleOutcome::kActed);
  *outcome = failed ? RuleOutcome::kFailed : found;
}

/// One rule; only the record that matches `kind` is ever filled or read.
struct MigrationRule {
  RuleKind kind{};
  DirectoryRule directory;
  FileRule file;
  KeyRule key;
  ValueRule value;
};

/// The rules in document order: one array that doubles its capacity when full.
class MigrationRules {
 public:
  MigrationRules() = default;
  MigrationRules(MigrationRules&&) noexcept = default;
  MigrationRules& operator=(MigrationRules&&) noexcept = default;
  MigrationRules(const MigrationRules&) = delete;
  MigrationRules& operator=(const MigrationRules&) = delete;

  /// Adds a copy of `entry` at the end; false when the storage cannot grow.
  [[nodiscard]] bool Append(const MigrationRule& entry);
  /// The number of entries.
  std::int32_t Count() const { return count_; }
  /// The entry at `index`; an index outside 0..Count()-1 raises ResultException(E_INVALIDARG).
  MigrationRule& At(std::int32_t index);
  const MigrationRule& At(std::int32_t index) const;
  /// Releases every entry and the storage.
  void Clear();

 private:
  std::unique_ptr<MigrationRule[]> entries_;
  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;
};

}  // namespace orvex
