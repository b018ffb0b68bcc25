#pragma once
// The two passes between unpacking and packing: every .reg file of the profile rewritten by the
// key and value rules, then the directory and file rules applied to the unpacked tree. Both walk
// the one rule list in document order and pick the rules of their kinds.

#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "regfile/registry_document.h"
#include "rules/migration_rules.h"

namespace orvex {

/// Told what each rule did where a pass applied it, for a preview of a migration; the migration
/// itself passes none.
class RuleObserver {
 public:
  /// Rule `index` of the rules, a key or value rule, applied to the document of one .reg file
  /// (as the rule left it).
  virtual void RegistryRuleApplied(std::int32_t index, RuleOutcome outcome,
                                   const RegistryDocument& document) = 0;
  /// Rule `index`, a directory or file rule, applied to the tree.
  virtual void FileRuleApplied(std::int32_t index, RuleOutcome outcome) = 0;

 protected:
  ~RuleObserver() = default;
};

/// Parses each .reg file directly inside the archive's Registry folder, applies every key and
/// value rule, sorts the keys, places the import markers and writes the file back. The first
/// failure is returned (and logged); kStoppedOnRequest, unlogged, when the user asks to stop,
/// before a file or a rule.
[[nodiscard]] HRESULT RunRegistryFilePass(std::u16string_view archive_directory,
                                          const MigrationRules& rules,
                                          RuleObserver* observer = nullptr);

/// The paths, relative to the archive directory, that the two passes can touch: the Registry
/// folder, and the source and destination of every directory and file rule that rebase into the
/// archive (the others act on nothing). Rule paths are rebased into `directory_path`, an existing
/// directory that stands in for the archive directory before Unzip makes it. False, and every
/// path reachable, when a rebased path does not begin with that directory's text.
[[nodiscard]] bool PathsThePassesTouch(std::u16string_view directory_path,
                                       const MigrationRules& rules,
                                       std::vector<std::u16string>* paths);

/// Applies every directory and file rule to the unpacked tree; a negative result is returned at
/// once, non-negative ones let the pass go on. kStoppedOnRequest, unlogged, when the user asks
/// to stop, before a rule.
[[nodiscard]] HRESULT RunFilePass(std::u16string_view archive_directory,
                                  const MigrationRules& rules, RuleObserver* observer = nullptr);

}  // namespace orvex
