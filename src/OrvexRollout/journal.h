#pragma once
// The roll-out's journal: one JSON object per line, appended and flushed to disk before the step
// it announces is taken, so that a roll-out killed anywhere is picked up again from it and from
// the files' states. `--resume`, `rollback` and `report` read it back.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/result.h"
#include "platform/file_handles.h"
#include "platform/files.h"

namespace orvex {

/// Objects keep their fields in the order written, so that a journal line reads profile first.
using Json = nlohmann::ordered_json;

/// The journal a roll-out appends to; safe to write from several threads.
class JournalWriter {
 public:
  /// Opens `path` for appending, creating it.
  [[nodiscard]] HRESULT Open(std::u16string_view path);
  /// Appends `record` with the time of writing ("time", seconds since the Unix epoch) as one line
  /// and, unless `flush` is off, flushes it to disk with what was written before it. A record no
  /// step waits for (a state noted, a step done that changed nothing) goes without, to be flushed
  /// with the next step's.
  [[nodiscard]] HRESULT Write(Json record, bool flush = true);

 private:
  std::mutex mutex_;
  platform::FileHandle file_;
};

/// The records of a journal in their order. A last line cut short (the writer killed while
/// writing it) is left out; any other line that is no JSON object fails with ERROR_INVALID_DATA
/// and `*line` its number.
[[nodiscard]] HRESULT ReadJournal(std::u16string_view path, std::vector<Json>* records,
                                  std::size_t* line);

/// A file's state as the journal keeps it.
Json StateRecord(const platform::FileState& state);
/// A state read back; all zero when the record holds none.
platform::FileState StateFrom(const Json& record);
/// Whether `now` is still the file that `then` recorded: the same file with the same size and
/// last-write time. Its change time is left aside, since a further name (the backup's hard link)
/// or a rename changes it while the content stays.
bool SameFileContent(const platform::FileState& then, const platform::FileState& now);

/// Text as the journal keeps it (UTF-8), and back.
std::string JournalText(std::u16string_view text);
std::u16string FromJournalText(const Json& value);

/// What the journal says of each profile: its records since the last "state" step (the last
/// attempt), by relative path. Records of a rollback run follow the attempt they undo.
using ProfileHistories = std::map<std::u16string, std::vector<Json>>;
ProfileHistories HistoriesOf(const std::vector<Json>& records);

/// The last "end" record of a history, or null when the attempt did not end.
const Json* EndOf(const std::vector<Json>& history);

/// Step names and the results a profile ends with.
inline constexpr std::string_view kStepState = "state";
inline constexpr std::string_view kStepMigrate = "migrate";
inline constexpr std::string_view kStepVerify = "verify";
inline constexpr std::string_view kStepBackup = "backup";
inline constexpr std::string_view kStepSwap = "swap";
inline constexpr std::string_view kStepRestore = "restore";
inline constexpr std::string_view kStepEnd = "end";
inline constexpr std::string_view kResultMigrated = "migrated";
inline constexpr std::string_view kResultFailed = "failed";
inline constexpr std::string_view kResultChanged = "changed during migration";
inline constexpr std::string_view kResultInUse = "in use";
inline constexpr std::string_view kResultStopped = "stopped";
inline constexpr std::string_view kResultRolledBack = "rolled back";
inline constexpr std::string_view kResultKept = "changed since, kept";

}  // namespace orvex
