#include <algorithm>

#include "OrvexRollout/profile_job.h"
#include "OrvexRollout/rollout.h"
#include "paths/paths.h"
#include "platform/files.h"
#include "reports/report_text.h"
#include "transforms/files/file_system.h"

namespace orvex {
namespace {

// What the rollback did with one profile.
enum class Restored { kYes, kKept, kFailed };

// Puts the original of one profile back over the migrated archive the journal recorded. The
// journal's records say what to expect: a restore begun before may be done already.
Restored RestoreProfile(JournalWriter& journal, const std::u16string& relative,
                        const std::vector<Json>& history, const std::u16string& share) {
  platform::FileState migrated;
  std::u16string backup;
  bool restore_begun = false;
  for (const Json& record : history) {
    if (record.contains("new_state")) migrated = StateFrom(record["new_state"]);
    if (record.contains("backup")) backup = FromJournalText(record["backup"]);
    restore_begun = restore_begun || record.value("step", "") == kStepRestore;
  }
  const std::u16string original = PathBelow(share, relative);
  const std::string profile = JournalText(relative);
  const auto end = [&](std::string_view result, std::string_view message = {}) {
    Json record = {{"profile", profile}, {"step", kStepEnd}, {"result", result}};
    if (!message.empty()) record["message"] = message;
    return SUCCEEDED(journal.Write(std::move(record)));
  };
  platform::FileState now;
  const std::uint32_t error = platform::GetFileState(original, &now);
  bool backup_there = false;
  (void)FileExists(backup, &backup_there);
  if (restore_begun && !backup_there && error == 0 && !SameFileContent(migrated, now)) {
    return end(kResultRolledBack) ? Restored::kYes : Restored::kFailed;
  }
  if (error != 0 || !SameFileContent(migrated, now)) {
    end(kResultKept, "the archive changed since the roll-out");
    return Restored::kKept;
  }
  if (!backup_there) {
    end(kResultFailed, "the backup is missing: " + JournalText(backup));
    return Restored::kFailed;
  }
  if (FAILED(journal.Write({{"profile", profile}, {"step", kStepRestore}, {"phase", "begin"}}))) {
    return Restored::kFailed;
  }
  if (const std::uint32_t moved =
          platform::MoveFileEx(backup, original, platform::MOVEFILE_REPLACE_EXISTING)) {
    end(kResultFailed,
        "cannot restore the original" + JournalText(ErrorText(HResultFromWin32(moved))));
    return Restored::kFailed;
  }
  return end(kResultRolledBack) ? Restored::kYes : Restored::kFailed;
}

}  // namespace

CommandOutput RunRollback(const std::u16string& journal_name) {
  std::u16string path = journal_name;
  std::vector<Json> records;
  std::size_t line = 0;
  HRESULT hr = ResolveFullPath(&path);
  if (SUCCEEDED(hr)) hr = ReadJournal(path, &records, &line);
  if (FAILED(hr)) {
    return RolloutFailure(u"cannot read the journal '" + journal_name + u"'" +
                          (hr == HResultFromWin32(ERROR_INVALID_DATA)
                               ? u" (line " + DecimalText(line) + u")"
                               : ErrorText(hr)));
  }
  std::u16string share;
  for (const Json& record : records) {
    if (record.value("run", "") == "migrate" && record.value("mode", "") == "in-place") {
      share = FromJournalText(record["share"]);
    }
  }
  if (share.empty())
    return RolloutFailure(u"the journal '" + journal_name + u"' holds no in-place roll-out");
  JournalWriter journal;
  hr = journal.Open(path);
  if (SUCCEEDED(hr)) hr = journal.Write({{"run", "rollback"}});
  if (FAILED(hr)) {
    return RolloutFailure(u"cannot write the journal '" + journal_name + u"'" + ErrorText(hr));
  }
  std::size_t restored = 0, kept = 0, failed = 0;
  for (const auto& [relative, history] : HistoriesOf(records)) {
    const Json* end = EndOf(history);
    // A profile migrated, its restore perhaps cut short (the restore's own end follows it).
    if (end == nullptr || end->value("result", "") != kResultMigrated) continue;
    switch (RestoreProfile(journal, relative, history, share)) {
      case Restored::kYes:
        ++restored;
        break;
      case Restored::kKept:
        ++kept;
        break;
      case Restored::kFailed:
        ++failed;
        break;
    }
  }
  (void)journal.Write({{"run", "end"}});
  CommandOutput output;
  output.out = DecimalText(restored) + u" rolled back, " + DecimalText(kept) +
               u" kept (changed since the roll-out), " + DecimalText(failed) + u" failed\n";
  output.exit_code = static_cast<std::uint32_t>(std::min<std::size_t>(kept + failed, kMostCounted));
  return output;
}

}  // namespace orvex
