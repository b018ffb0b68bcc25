#pragma once
// What differs between two profiles by meaning: per .reg file the keys and values added, removed
// and changed; per tree the files and directories added, removed and changed (a directory that one
// side lacks stands for everything in it), with a short line diff for changed text files.

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "OrvexInspect/registry_diff.h"
#include "common/result.h"
#include "profiles/profile.h"

namespace orvex {

/// A .reg file of one side of a comparison.
struct RegDocumentRef {
  std::u16string_view name;
  const RegistryDocument* document;
};

/// A .reg file that differs; a file that one side lacks is compared with an empty document.
struct RegFileComparison {
  std::u16string name;
  bool in_before = false;
  bool in_after = false;
  std::unique_ptr<DocumentIndex> before;
  std::unique_ptr<DocumentIndex> after;
  std::vector<KeyTreeMove> moves;
  std::vector<KeyDifference> keys;  ///< besides the moves: the keys that moved with equal values
                                    ///< are not here
};

/// A tree entry that differs.
struct TreeDifference {
  enum class Kind { kAdded, kRemoved, kChanged, kMoved };
  Kind kind = Kind::kChanged;
  std::u16string path;
  std::u16string from;                ///< a moved entry's path before
  const TreeEntry* entry = nullptr;   ///< the after side's, or the before side's when removed
  std::uint64_t old_size = 0;         ///< a changed file's size before
  std::size_t files_inside = 0;       ///< files in an added or removed directory, or moved with
                                      ///< a directory
  std::vector<std::u16string> lines;  ///< a changed text file's line diff ("- ...", "+ ...")
};

/// Everything that differs, .reg files ordered by name, tree entries by their path (a moved one
/// by its path before).
struct ProfileComparison {
  std::vector<RegFileComparison> reg_files;
  std::vector<TreeDifference> tree;
  bool empty() const { return reg_files.empty() && tree.empty(); }
};

/// Compares two sides; .reg files pair up by name (ignoring case), tree entries by exact name.
/// A file whose content went to another path moved; so did a folder when at least half its files
/// went to the same places under one new folder. A directory that one side lacks stands for
/// everything in it that did not move, unless `expand`.
[[nodiscard]] HRESULT CompareProfiles(std::span<const RegDocumentRef> before,
                                      const FileTree& before_tree,
                                      std::span<const RegDocumentRef> after,
                                      const FileTree& after_tree, bool expand,
                                      ProfileComparison* comparison);
[[nodiscard]] HRESULT CompareProfiles(const Profile& before, const Profile& after, bool expand,
                                      ProfileComparison* comparison);

/// How many of one kind of thing were added, removed, changed and moved.
struct ChangeCounts {
  std::size_t added = 0;
  std::size_t removed = 0;
  std::size_t changed = 0;
  std::size_t moved = 0;
};

/// The counts of a comparison: keys, values (a renamed value moved) and files (not directories;
/// a directory counts with the files in it).
struct DifferenceSummary {
  ChangeCounts keys;
  ChangeCounts values;
  ChangeCounts files;
};
DifferenceSummary Summarize(const ProfileComparison& comparison);

/// One kind's counts: "keys: 1 added, 0 removed, 2 changed, 1 moved".
std::u16string CountsText(std::u16string_view what, const ChangeCounts& counts);

/// The summary as three lines ("keys: 1 added, 0 removed, 2 changed, 1 moved").
void AppendSummaryText(const DifferenceSummary& summary, std::u16string* out);

/// The differences as lines for a person, each line begun with `indent` and ended by a line feed.
void AppendDifferenceText(const ProfileComparison& comparison, std::u16string_view indent,
                          std::u16string* out);

/// The summary as a JSON object {"keys": {"added": ...}, "values": ..., "files": ...}.
void AppendSummaryJson(const DifferenceSummary& summary, std::u16string* out);

/// The differences as a JSON array of objects, one per key, value, file or directory, and per
/// moved key tree; `indent` begins each of its lines after the first.
void AppendDifferenceJson(const ProfileComparison& comparison, std::u16string_view indent,
                          std::u16string* out);

/// The line diff writes for a tree entry ("> a/ -> b/ (directory, 2 files)"), without the line
/// diff of a changed text file.
std::u16string TreeDifferenceLine(const TreeDifference& difference);

/// The line diff writes for a moved key tree ("> [from] -> [to] (3 keys)").
std::u16string KeyTreeMoveLine(const KeyTreeMove& move);

}  // namespace orvex
