#pragma once
// What differs between two profiles by meaning: per .reg file the keys and values added, removed
// and changed; per tree the files and directories added, removed and changed (a directory that one
// side lacks stands for everything in it), with a short line diff for changed text files.

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "OrvexInspect/profile.h"
#include "OrvexInspect/registry_diff.h"
#include "common/result.h"

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
  std::vector<KeyDifference> keys;
};

/// A tree entry that differs.
struct TreeDifference {
  enum class Kind { kAdded, kRemoved, kChanged };
  Kind kind = Kind::kChanged;
  std::u16string path;
  const TreeEntry* entry = nullptr;   ///< the after side's, or the before side's when removed
  std::uint64_t old_size = 0;         ///< a changed file's size before
  std::size_t files_inside = 0;       ///< files in an added or removed directory
  std::vector<std::u16string> lines;  ///< a changed text file's line diff ("- ...", "+ ...")
};

/// Everything that differs, .reg files and tree entries each ordered by name.
struct ProfileComparison {
  std::vector<RegFileComparison> reg_files;
  std::vector<TreeDifference> tree;
  bool empty() const { return reg_files.empty() && tree.empty(); }
};

/// Compares two sides; .reg files pair up by name (ignoring case), tree entries by exact name.
[[nodiscard]] HRESULT CompareProfiles(std::span<const RegDocumentRef> before,
                                      const FileTree& before_tree,
                                      std::span<const RegDocumentRef> after,
                                      const FileTree& after_tree, ProfileComparison* comparison);
[[nodiscard]] HRESULT CompareProfiles(const Profile& before, const Profile& after,
                                      ProfileComparison* comparison);

/// The differences as lines for a person, each line begun with `indent` and ended by a line feed.
void AppendDifferenceText(const ProfileComparison& comparison, std::u16string_view indent,
                          std::u16string* out);

/// The differences as a JSON array of objects, one per key, value, file or directory.
void AppendDifferenceJson(const ProfileComparison& comparison, std::u16string* out);

}  // namespace orvex
