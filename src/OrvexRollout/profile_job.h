#pragma once
// One profile of a roll-out: migrated by OrvexMigrate in a process of its own, and in place
// swapped for the original only after the new archive verified and the original proved unchanged,
// with the original kept in the backup. Every step goes into the journal before it is taken.

#include <cstdint>
#include <string>
#include <vector>

#include "OrvexRollout/journal.h"

namespace orvex {

/// Where a roll-out reads and writes, all full paths without a final separator.
struct RolloutPlaces {
  std::u16string migrate_program;  ///< OrvexMigrate, beside this program
  std::u16string rules;
  std::u16string share;
  std::u16string target;          ///< the output folder, or in place the backup folder
  std::u16string journal_folder;  ///< where the logs go, under logs/
  bool in_place = false;
};

/// The environment variable that makes an in-place roll-out wait so many milliseconds before it
/// checks an archive's state the last time before the swap, so that a test can change it there.
inline constexpr std::u16string_view kPauseBeforeCheckVariable =
    u"ORVEX_ROLLOUT_PAUSE_BEFORE_CHECK";

/// How a profile ended.
enum class ProfileResult { kMigrated, kFailed, kChanged, kInUse, kStopped };

/// What one profile's run gave.
struct ProfileOutcome {
  ProfileResult result = ProfileResult::kFailed;
  std::uint64_t bytes = 0;  ///< the input archive's size
};

/// `relative` (separated by '/') below `folder`, with the platform's separators.
std::u16string PathBelow(std::u16string_view folder, std::u16string_view relative);

/// Runs one profile from its start.
ProfileOutcome RunProfile(const RolloutPlaces& places, JournalWriter& journal,
                          const std::u16string& relative);

/// Ends what an interrupted roll-out left of a profile whose attempt `history` has no end, from
/// the files' states: a swap begun is finished or found done; before it, what the attempt made
/// is removed and the profile runs again. `*rerun` says whether it has to.
ProfileOutcome RecoverProfile(const RolloutPlaces& places, JournalWriter& journal,
                              const std::u16string& relative, const std::vector<Json>& history,
                              bool* rerun);

}  // namespace orvex
