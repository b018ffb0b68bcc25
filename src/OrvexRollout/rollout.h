#pragma once
// The commands of OrvexRollout: migrate every profile archive below a share (into an output folder,
// or in place with backups), roll an in-place roll-out back, report on one or more journals.

#include <cstdint>
#include <span>
#include <string>

#include "OrvexRollout/rollout_report.h"
#include "migration/command_line.h"
#include "reports/command_output.h"
#include "reports/report_file.h"

namespace orvex {

/// The exit code of a command that could not do its work at all; any lower one counts the
/// profiles not migrated (or, for rollback, not restored).
inline constexpr std::uint32_t kRolloutUnusable = 126;
/// The most profiles an exit code counts.
inline constexpr std::uint32_t kMostCounted = 125;

/// "OrvexRollout: <message>" on standard error, exit code kRolloutUnusable.
CommandOutput RolloutFailure(std::u16string message);

/// What `migrate` is asked to do.
struct MigrateOptions {
  std::u16string rules;
  std::u16string share;
  std::u16string to;       ///< the output folder, or empty in place
  std::u16string backup;   ///< in place: the backup folder
  std::u16string journal;  ///< empty: rollout.journal in the output or backup folder
  std::u16string html;
  unsigned jobs = 0;               ///< 0: one per processor
  unsigned shard = 0, shards = 0;  ///< 0 of 0: the whole share
  unsigned max_failures = 10;      ///< percent
  bool resume = false;
  bool json = false;
  bool quiet = false;
};

/// The shard (1 to `shards`) a profile's relative path falls to, the same on every machine.
unsigned ShardOf(std::u16string_view relative, unsigned shards);

/// Runs a roll-out.
CommandOutput RunMigrate(const MigrateOptions& options);

/// Puts back every original an in-place roll-out replaced, unless the archive changed since.
CommandOutput RunRollback(const std::u16string& journal);

/// The report page asked for with --html, readied before a command does its work so that a name
/// it cannot take fails at once.
struct ReportPage {
  bool wanted = false;
  ReportFile file;
  std::u16string folder;  ///< where the page lies, for its links
};

/// Readies the page `html` (none when it is empty), which must not replace one of `inputs` (full
/// paths). False after `*failure` is filled.
bool ReadyReportPage(const std::u16string& html, std::span<const std::u16string> inputs,
                     ReportPage* page, CommandOutput* failure);

/// The report of the journals: text or JSON on standard output, and the page when one is wanted;
/// the exit code counts the profiles not migrated.
CommandOutput Report(std::span<const std::u16string> journals, ReportPage& page, bool json);

/// Runs the command that `args` (entry 0 being the program) names.
CommandOutput RunRolloutCommand(const ArgumentList& args);

}  // namespace orvex
