#pragma once
// A rule file run on one profile archive as a migration runs it, in a folder of its own that goes
// away with the run: the archive engine unpacks the archive, the migration's two rule passes apply
// the rules, and what each rule did, the exit code the migration would have and the profile before
// and after are kept. Nothing is packed and nothing outside that folder is written.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "OrvexInspect/profile_diff.h"
#include "common/result.h"
#include "profiles/profile.h"
#include "rules/migration_rules.h"

namespace orvex {

/// What one rule did in one profile: in how many .reg files it acted, found nothing or failed (a
/// directory or file rule counts once), for a rule that found nothing what it may have meant, and
/// what it did that is likely not what was meant (a number converted to text), each text once.
struct RuleEffect {
  std::uint32_t acted = 0;
  std::uint32_t found_nothing = 0;
  std::uint32_t failed = 0;
  std::vector<std::u16string> near_misses;
  std::vector<std::u16string> warnings;  ///< what it did that is likely not what was meant
};

/// One profile after the rules: the workspace holds both sides' files until it goes away.
struct RuleRun {
  InspectionWorkspace workspace;
  /// The exit code the migration would have: 0, or the low 16 bits of the failure that stops it
  /// (unpacking, or a rule pass).
  std::uint32_t exit_code = 0;
  /// Why it would stop, when it would: "cannot unpack the archive (error 13): <reason>", "cannot
  /// read 'Registry/User.reg' (error 65535): line 3: <why>", "the rules stop the migration
  /// (error 87)".
  std::u16string failure;
  /// Whether it would stop because the archive or one of its .reg files cannot be read.
  bool unreadable = false;
  std::vector<RuleEffect> rules;  ///< one per rule, in rule order
  /// The profile as unpacked, its tree with the state each entry had then (the files have since
  /// been changed in place), and the profile after the rules with the states of its files, read
  /// only when the passes succeeded (`after_read`); CompareProfiles compares the two.
  Profile before;
  Profile after;
  bool after_read = false;
};

/// Runs `rules` on the profile archive `archive` (an absolute path). S_OK also when the migration
/// would fail (`run->exit_code` says so); a failure when the run itself cannot go on (no working
/// folder, a profile that cannot be read back).
[[nodiscard]] HRESULT RunRulesOnProfile(std::u16string_view archive, const MigrationRules& rules,
                                        RuleRun* run);

/// What changed between the two sides of a run whose passes succeeded, in diff's counts, and the
/// folders that diff lists added, removed and moved (a folder one side lacks stands for those in
/// it).
struct RunChanges {
  DifferenceSummary summary;
  ChangeCounts folders;
  bool any() const;
};
/// The counts of `comparison`, the comparison of the run's two sides.
RunChanges CountChanges(const ProfileComparison& comparison);

}  // namespace orvex
