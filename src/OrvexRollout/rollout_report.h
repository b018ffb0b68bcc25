#pragma once
// The roll-out report, read from one or more journals (the shards of one roll-out): totals,
// throughput, failures grouped by exit code and the first FATAL line of their logs, the profiles
// changed during migration, in use, rolled back and kept. As text, JSON and an HTML page.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace orvex {

/// A profile in the report, and its log's full path (empty when it has none).
struct ReportedProfile {
  std::u16string profile;
  std::u16string log;
  std::u16string message;  ///< why, where the log does not say it
};

/// The failures with one exit code and one first FATAL line (or message).
struct FailureGroup {
  std::uint32_t exit_code = 0;
  std::u16string reason;
  std::vector<ReportedProfile> profiles;
};

/// What the journals say, merged.
struct RolloutReport {
  std::size_t profiles = 0;  ///< chosen for the roll-out
  std::size_t migrated = 0;
  std::size_t failed = 0;
  std::size_t changed = 0;
  std::size_t in_use = 0;
  std::size_t stopped = 0;  ///< ended by a stop request, to be run again
  std::size_t not_started = 0;
  std::size_t rolled_back = 0;
  std::size_t kept = 0;     ///< not rolled back: changed since the roll-out
  std::uint64_t bytes = 0;  ///< of the archives migrated
  double seconds = 0;       ///< the time the roll-out ran, sessions of shards overlapping once
  bool budget_spent = false;
  std::vector<FailureGroup> failures;
  std::vector<ReportedProfile> changed_profiles, in_use_profiles, rolled_back_profiles,
      kept_profiles;
};

/// Reads the journals into a report; on failure `*failure` says which journal and why.
[[nodiscard]] HRESULT BuildReport(std::span<const std::u16string> journals, RolloutReport* report,
                                  std::u16string* failure);

/// The number of profiles not migrated.
std::size_t NotMigrated(const RolloutReport& report);

/// The report as lines of text.
std::u16string ReportText(const RolloutReport& report);
/// The report as JSON (docs/json-rollout.schema.json).
std::u16string ReportJson(const RolloutReport& report);
/// The report as a self-contained HTML page in the folder `page_folder` (a full path), whose
/// links to the logs are relative to it.
std::u16string ReportHtml(const RolloutReport& report, std::u16string_view page_folder);

}  // namespace orvex
