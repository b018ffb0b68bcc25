#include "OrvexRollout/profile_job.h"

#include <chrono>
#include <thread>

#include "paths/paths.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "profiles/profile.h"
#include "regfile/reg_files.h"
#include "reports/report_text.h"
#include "text/number.h"
#include "transforms/files/file_system.h"

namespace orvex {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool IsInUse(std::uint32_t error) { return error == ERROR_SHARING_VIOLATION; }

HRESULT CreateParent(std::u16string_view path) {
  const std::size_t name = FindFileName(path);
  return name == 0 ? S_OK : CreateDirectoryPath(path.substr(0, name - 1));
}

// One profile's records, each with its relative path.
class ProfileJournal {
 public:
  ProfileJournal(JournalWriter& journal, const std::u16string& relative)
      : journal_(journal), profile_(JournalText(relative)) {}

  HRESULT Write(std::string_view step, Json fields = Json::object(), bool flush = true) {
    Json record = {{"profile", profile_}, {"step", step}};
    record.update(fields);
    return journal_.Write(std::move(record), flush);
  }

 private:
  JournalWriter& journal_;
  std::string profile_;
};

// A profile's run: its paths, its records and how it ends.
class ProfileRun {
 public:
  ProfileRun(const RolloutPlaces& places, JournalWriter& journal, const std::u16string& relative)
      : places_(places),
        journal_(journal, relative),
        original_(PathBelow(places.share, relative)),
        output_(places.in_place ? original_ + u".rollout" : PathBelow(places.target, relative)),
        log_relative_(u"logs/" + relative.substr(0, FindExtension(relative)) + u".log"),
        log_(PathBelow(places.journal_folder, log_relative_)),
        backup_(PathBelow(places.target, relative)) {}

  ProfileOutcome Run();
  ProfileOutcome Recover(const std::vector<Json>& history, bool* rerun);

 private:
  ProfileOutcome End(ProfileResult result, std::string_view message = {},
                     std::uint32_t exit_code = 0);
  ProfileOutcome Failed(std::u16string_view what, HRESULT hr) {
    return End(ProfileResult::kFailed, JournalText(what) + JournalText(ErrorText(hr)));
  }
  ProfileOutcome Stated(std::uint32_t error, std::u16string_view what) {
    return IsInUse(error) ? End(ProfileResult::kInUse) : Failed(what, HResultFromWin32(error));
  }
  // The steps of an in-place run after the migration.
  ProfileOutcome Swap();
  // Whether the new archive reads whole with the engine's reader, its .reg files included.
  bool Verify(std::u16string* reason);
  // Removes the new archive and, once the original is known to stay in place, the backup made.
  void Discard(bool backup_made);

  const RolloutPlaces& places_;
  ProfileJournal journal_;
  const std::u16string original_;
  const std::u16string output_;
  const std::u16string log_relative_;
  const std::u16string log_;
  const std::u16string backup_;
  Clock::time_point start_ = Clock::now();
  platform::FileState state_;  // the original's, when the run began
  std::uint32_t exit_code_ = 0;
};

ProfileOutcome ProfileRun::End(ProfileResult result, std::string_view message,
                               std::uint32_t exit_code) {
  static constexpr std::string_view kResults[] = {kResultMigrated, kResultFailed, kResultChanged,
                                                  kResultInUse, kResultStopped};
  Json fields = {{"result", kResults[static_cast<int>(result)]},
                 {"exit_code", exit_code != 0 ? exit_code : exit_code_},
                 {"duration", SecondsSince(start_)},
                 {"log", JournalText(log_relative_)},
                 {"bytes", state_.size}};
  if (!message.empty()) fields["message"] = message;
  if (FAILED(journal_.Write(kStepEnd, std::move(fields)))) result = ProfileResult::kFailed;
  return {result, state_.size};
}

ProfileOutcome ProfileRun::Run() {
  if (const std::uint32_t error = platform::GetFileState(original_, &state_)) {
    return Stated(error, u"cannot read the archive's state");
  }
  Json state = {{"state", StateRecord(state_)}};
  if (places_.in_place) state["new"] = JournalText(output_);
  if (const HRESULT hr = journal_.Write(kStepState, std::move(state), false); FAILED(hr)) {
    return {ProfileResult::kFailed, state_.size};
  }
  HRESULT hr = CreateParent(log_);
  if (SUCCEEDED(hr)) hr = CreateParent(output_);
  if (SUCCEEDED(hr)) hr = journal_.Write(kStepMigrate, {{"phase", "begin"}});
  if (FAILED(hr)) return Failed(u"cannot make the log's or the output's folder", hr);

  const std::u16string arguments[] = {u"/INPUT",     original_,   u"/OUTPUT", output_,      u"/XML",
                                      places_.rules, u"/LOGFILE", log_,       u"/OVERWRITE"};
  if (const std::uint32_t error =
          platform::RunProcess(places_.migrate_program, arguments, &exit_code_)) {
    return Failed(u"cannot start OrvexMigrate", HResultFromWin32(error));
  }
  if (exit_code_ != 0) {
    if (places_.in_place) (void)ForceDeleteFile(output_);
    if (platform::StopRequested()) return End(ProfileResult::kStopped);
    return End(IsInUse(exit_code_) ? ProfileResult::kInUse : ProfileResult::kFailed);
  }
  if (!places_.in_place) return End(ProfileResult::kMigrated);
  return Swap();
}

bool ProfileRun::Verify(std::u16string* reason) {
  InspectionWorkspace workspace;
  std::u16string root;
  HRESULT hr = workspace.Create();
  if (SUCCEEDED(hr)) hr = workspace.PathOf(u"archive", &root);
  if (SUCCEEDED(hr)) {
    // Every file is inflated and its CRC checked; only the .reg files are kept, to be read. The
    // others all go into one scratch file, so that checking costs no file per entry.
    hr = ReadArchive(
        output_, root + u".log",
        [&root](const engine::CheckedEntry& entry, std::u16string* destination) {
          if (entry.directory) return false;
          *destination = root;
          *destination += platform::PathSeparator();
          if (!IsRegFileEntry(entry.components, false)) {
            *destination += u"scratch";
            return true;
          }
          for (const std::u16string& component : entry.components) {
            *destination += component;
            *destination += platform::PathSeparator();
          }
          destination->pop_back();
          return true;
        },
        reason);
  }
  Profile profile;
  std::u16string failed_path;
  if (SUCCEEDED(hr)) hr = LoadRegFiles(root, &profile, &failed_path, reason);
  if (FAILED(hr)) {
    if (!failed_path.empty()) *reason = failed_path + (reason->empty() ? u"" : u": " + *reason);
    if (reason->empty()) *reason = ErrorText(hr).substr(1);
  }
  return SUCCEEDED(hr);
}

void ProfileRun::Discard(bool backup_made) {
  (void)ForceDeleteFile(output_);
  platform::FileState now;
  if (backup_made && platform::GetFileState(original_, &now) == ERROR_SUCCESS &&
      SameFileContent(state_, now)) {
    (void)ForceDeleteFile(backup_);
  }
}

ProfileOutcome ProfileRun::Swap() {
  platform::FileState migrated;
  if (const std::uint32_t error = platform::GetFileState(output_, &migrated)) {
    Discard(false);
    return Failed(u"cannot read the new archive's state", HResultFromWin32(error));
  }
  HRESULT hr = journal_.Write(kStepMigrate,
                              {{"phase", "done"},
                               {"exit_code", 0},
                               {"duration", SecondsSince(start_)},
                               {"new_state", StateRecord(migrated)}},
                              false);
  std::u16string reason;
  if (SUCCEEDED(hr) && !Verify(&reason)) {
    Discard(false);
    return End(ProfileResult::kFailed, "verification failed: " + JournalText(reason));
  }
  if (SUCCEEDED(hr)) hr = journal_.Write(kStepVerify, {{"phase", "done"}}, false);
  if (FAILED(hr)) {
    Discard(false);
    return Failed(u"cannot write the journal", hr);
  }

  std::u16string pause;
  std::uint32_t milliseconds = 0;
  if (platform::GetEnvironmentVariable(kPauseBeforeCheckVariable, &pause) &&
      SUCCEEDED(TextToUInt32(pause, &milliseconds))) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  // The last look at the original before it is backed up and replaced: a user's session that
  // wrote it meanwhile keeps what it wrote.
  platform::FileState now;
  if (const std::uint32_t error = platform::GetFileState(original_, &now)) {
    Discard(false);
    return Stated(error, u"cannot read the archive's state");
  }
  if (now != state_) {
    Discard(false);
    return End(ProfileResult::kChanged);
  }

  // A file already at the backup's place is another roll-out's backup: it is never replaced.
  bool exists = false;
  hr = FileExists(backup_, &exists);
  if (SUCCEEDED(hr) && exists) {
    Discard(false);
    return End(ProfileResult::kFailed, "a backup is there already: " + JournalText(backup_));
  }
  if (SUCCEEDED(hr)) hr = CreateParent(backup_);
  if (SUCCEEDED(hr)) {
    hr = journal_.Write(kStepBackup, {{"phase", "begin"}, {"backup", JournalText(backup_)}});
  }
  if (FAILED(hr)) {
    Discard(false);
    return Failed(u"cannot prepare the backup", hr);
  }
  std::string method = "link";
  if (platform::CreateHardLink(backup_, original_) != ERROR_SUCCESS) {
    // Another volume, or one without links: a copy, on the disk before the original goes.
    method = "copy";
    platform::FileHandle copy;
    std::uint32_t error = platform::CopyFile(original_, backup_, true);
    if (error == 0) {
      error =
          platform::CreateFile(backup_, platform::GENERIC_WRITE, platform::OPEN_EXISTING, &copy);
    }
    if (error == 0) error = platform::FlushFileBuffers(copy);
    if (error != 0) {
      platform::CloseHandle(copy);
      Discard(true);
      return Stated(error, u"cannot back the archive up");
    }
  }
  // The original as backed up is the one migrated (a copy takes a while).
  if (const std::uint32_t error = platform::GetFileState(original_, &now)) {
    Discard(true);
    return Stated(error, u"cannot read the archive's state");
  }
  if (!SameFileContent(state_, now)) {
    (void)ForceDeleteFile(output_);
    (void)ForceDeleteFile(backup_);
    return End(ProfileResult::kChanged);
  }
  hr = journal_.Write(kStepBackup, {{"phase", "done"}, {"method", method}}, false);
  if (SUCCEEDED(hr)) hr = journal_.Write(kStepSwap, {{"phase", "begin"}});
  if (FAILED(hr)) {
    Discard(true);
    return Failed(u"cannot write the journal", hr);
  }
  if (const std::uint32_t error =
          platform::MoveFileEx(output_, original_, platform::MOVEFILE_REPLACE_EXISTING)) {
    Discard(true);
    return Stated(error, u"cannot replace the archive");
  }
  return End(ProfileResult::kMigrated);
}

ProfileOutcome ProfileRun::Recover(const std::vector<Json>& history, bool* rerun) {
  *rerun = false;
  state_ = StateFrom(history.front().value("state", Json()));
  platform::FileState migrated;
  bool swap_begun = false;
  for (const Json& record : history) {
    const std::string step = record.value("step", "");
    if (record.contains("new_state")) migrated = StateFrom(record["new_state"]);
    swap_begun = swap_begun || step == kStepSwap;
  }
  if (places_.in_place && swap_begun) {
    platform::FileState now, waiting;
    if (platform::GetFileState(original_, &now) == ERROR_SUCCESS &&
        SameFileContent(migrated, now)) {
      return End(ProfileResult::kMigrated);
    }
    if (platform::GetFileState(output_, &waiting) == ERROR_SUCCESS &&
        SameFileContent(migrated, waiting) && SameFileContent(state_, now) &&
        platform::MoveFileEx(output_, original_, platform::MOVEFILE_REPLACE_EXISTING) == 0) {
      return End(ProfileResult::kMigrated);
    }
    // Neither: the archive changed after the backup was made; it keeps what it holds.
    Discard(true);
    return End(ProfileResult::kChanged);
  }
  // Nothing was replaced: what the attempt made goes, and the profile runs again from its start.
  bool backup_begun = false;
  for (const Json& record : history)
    backup_begun = backup_begun || record.value("step", "") == kStepBackup;
  if (places_.in_place) Discard(backup_begun);
  *rerun = true;
  return {};
}

}  // namespace

std::u16string PathBelow(std::u16string_view folder, std::u16string_view relative) {
  std::u16string path(folder);
  path += platform::PathSeparator();
  for (const char16_t unit : relative) path += unit == u'/' ? platform::PathSeparator() : unit;
  return path;
}

ProfileOutcome RunProfile(const RolloutPlaces& places, JournalWriter& journal,
                          const std::u16string& relative) {
  return ProfileRun(places, journal, relative).Run();
}

ProfileOutcome RecoverProfile(const RolloutPlaces& places, JournalWriter& journal,
                              const std::u16string& relative, const std::vector<Json>& history,
                              bool* rerun) {
  return ProfileRun(places, journal, relative).Recover(history, rerun);
}

}  // namespace orvex
