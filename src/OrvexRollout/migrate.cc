#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

#include "OrvexRollout/profile_job.h"
#include "OrvexRollout/progress.h"
#include "OrvexRollout/rollout.h"
#include "paths/paths.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "platform/text.h"
#include "profiles/profile.h"
#include "reports/report_text.h"
#include "transforms/files/file_system.h"

namespace orvex {
namespace {

// A profile found below the share.
struct FoundProfile {
  std::u16string relative;  // '/'-separated
  std::uint64_t size = 0;
};

// A name made absolute, without a final separator. False after `*failure` is filled.
bool FullPath(std::u16string_view what, const std::u16string& name, bool folder, bool create,
              std::u16string* path, CommandOutput* failure) {
  *path = name;
  HRESULT hr = ResolveFullPath(path);
  while (SUCCEEDED(hr) && path->size() > 1 && (path->back() == u'/' || path->back() == u'\\')) {
    path->pop_back();
  }
  bool exists = false;
  if (SUCCEEDED(hr) && create) hr = CreateDirectoryPath(*path);
  if (SUCCEEDED(hr)) hr = folder ? DirectoryExists(*path, &exists) : FileExists(*path, &exists);
  if (hr == S_OK && exists) return true;
  *failure = RolloutFailure(u"cannot find the " + std::u16string(what) + u" '" + name + u"'" +
                            (FAILED(hr) ? ErrorText(hr) : u""));
  return false;
}

// The part of `path` below `folder`, '/'-separated and ending in '/', when it lies there.
std::optional<std::u16string> PrefixBelow(const std::u16string& path,
                                          const std::u16string& folder) {
  if (path.size() <= folder.size() || !LiesWithin(path, folder)) return std::nullopt;
  std::u16string prefix = path.substr(folder.size() + 1) + u'/';
  std::replace(prefix.begin(), prefix.end(), u'\\', u'/');
  return prefix;
}

// The *.zip archives below the share (letter case aside, as on Windows) in the order of their
// relative paths, without what the roll-out itself writes there.
HRESULT FindProfiles(const RolloutPlaces& places, std::vector<FoundProfile>* profiles,
                     std::u16string* failed_path) {
  Profile listing;
  listing.root = places.share;
  RETURN_IF_FAILED(ReloadTree(&listing, failed_path));
  std::vector<std::u16string> skipped;
  for (const std::u16string* own : {&places.target, &places.journal_folder}) {
    if (auto prefix = PrefixBelow(*own, places.share)) skipped.push_back(std::move(*prefix));
  }
  for (const auto& [name, entry] : listing.tree) {
    if (entry.directory || name.size() <= 4 ||
        !EqualsIgnoreCase(std::u16string_view(name).substr(name.size() - 4), u".zip") ||
        std::any_of(skipped.begin(), skipped.end(),
                    [&name](const std::u16string& prefix) { return name.starts_with(prefix); })) {
      continue;
    }
    profiles->push_back({name, entry.size});
  }
  return S_OK;
}

// OrvexMigrate beside this program, with its extension.
HRESULT MigrateProgram(std::u16string* program) {
  std::u16string self;
  if (const std::uint32_t error = platform::GetModuleFileName(&self)) {
    return HResultFromWin32(error);
  }
  const std::size_t name = FindFileName(self);
  *program = self.substr(0, name) + u"OrvexMigrate" + self.substr(FindExtension(self));
  return S_OK;
}

// The pool of workers over a list of profiles, with the failure budget.
class Pool {
 public:
  Pool(const RolloutPlaces& places, JournalWriter& journal, const MigrateOptions& options,
       ProgressCounts& counts)
      : places_(places), journal_(journal), options_(options), counts_(counts) {}

  // Runs the profiles, in use ones once more at the end; false when the budget stopped it.
  void Run(const std::vector<FoundProfile>& profiles, bool last_try) {
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::vector<FoundProfile> in_use;
    const auto work = [&] {
      for (;;) {
        if (platform::StopRequested() || BudgetSpent()) return;
        const std::size_t index = next++;
        if (index >= profiles.size()) return;
        ++counts_.in_flight;
        const ProfileOutcome outcome = RunProfile(places_, journal_, profiles[index].relative);
        --counts_.in_flight;
        if (outcome.result == ProfileResult::kInUse && !last_try) {
          const std::lock_guard lock(mutex);
          in_use.push_back(profiles[index]);
          continue;
        }
        Count(outcome);
      }
    };
    std::vector<std::thread> workers;
    const std::size_t jobs = std::min<std::size_t>(profiles.size(), Jobs());
    for (std::size_t w = 1; w < jobs; ++w) workers.emplace_back(work);
    work();
    for (std::thread& worker : workers) worker.join();
    if (!in_use.empty()) Run(in_use, true);
  }

  void Count(const ProfileOutcome& outcome) {
    if (outcome.result == ProfileResult::kFailed) ++failed_;
    if (outcome.result != ProfileResult::kMigrated) ++counts_.failed;
    counts_.bytes_done += outcome.bytes;
    ++counts_.done;
  }

  // Past the first 20 profiles, more than the share allowed of them failed.
  bool BudgetSpent() {
    const std::size_t done = counts_.done;
    if (done >= 20 && failed_ * 100 > std::size_t{options_.max_failures} * done) spent_ = true;
    return spent_;
  }

 private:
  std::size_t Jobs() const {
    return options_.jobs != 0 ? options_.jobs : std::max(1u, std::thread::hardware_concurrency());
  }

  const RolloutPlaces& places_;
  JournalWriter& journal_;
  const MigrateOptions& options_;
  ProgressCounts& counts_;
  std::atomic<std::size_t> failed_{0};
  std::atomic<bool> spent_{false};
};

}  // namespace

CommandOutput RunMigrate(const MigrateOptions& options) {
  RolloutPlaces places;
  places.in_place = options.to.empty();
  CommandOutput failure;
  if (!FullPath(u"rule file", options.rules, false, false, &places.rules, &failure) ||
      !FullPath(u"share", options.share, true, false, &places.share, &failure) ||
      !FullPath(places.in_place ? u"backup folder" : u"output folder",
                places.in_place ? options.backup : options.to, true, true, &places.target,
                &failure)) {
    return failure;
  }
  if (places.in_place && LiesWithin(places.target, places.share)) {
    return RolloutFailure(u"the backup folder must lie outside the share");
  }
  if (FAILED(MigrateProgram(&places.migrate_program))) {
    return RolloutFailure(u"cannot find OrvexMigrate beside this program");
  }
  std::u16string journal_path = options.journal;
  if (journal_path.empty()) {
    journal_path = PathBelow(
        places.target, options.shards == 0 ? u"rollout.journal"
                                           : u"rollout." + DecimalText(options.shard) + u"-of-" +
                                                 DecimalText(options.shards) + u".journal");
  }
  std::size_t journal_name = 0;
  if (FAILED(ResolveFullPath(&journal_path, {}, &journal_name)) || journal_name == 0) {
    return RolloutFailure(u"cannot use the journal '" + journal_path + u"'");
  }
  places.journal_folder = journal_path.substr(0, journal_name - 1);

  // An in-place roll-out never starts over a journal of its own without --resume: the
  // archives it names may be migrated already.
  std::vector<Json> records;
  std::size_t line = 0;
  bool journal_exists = false;
  (void)FileExists(journal_path, &journal_exists);
  if (journal_exists && FAILED(ReadJournal(journal_path, &records, &line))) {
    return RolloutFailure(u"cannot read the journal '" + journal_path + u"' (line " +
                          DecimalText(line) + u")");
  }
  if (!records.empty() && !options.resume) {
    return RolloutFailure(u"the journal '" + journal_path +
                          u"' holds a roll-out already: give --resume to go on with it");
  }

  ReportPage page;
  const std::u16string inputs[] = {places.rules, journal_path};
  if (!ReadyReportPage(options.html, inputs, &page, &failure)) return failure;

  std::vector<FoundProfile> found;
  std::u16string failed_path;
  if (const HRESULT hr = FindProfiles(places, &found, &failed_path); FAILED(hr)) {
    return RolloutFailure(u"cannot search '" + failed_path + u"'" + ErrorText(hr));
  }
  if (options.shards != 0) {
    std::erase_if(found, [&](const FoundProfile& profile) {
      return ShardOf(profile.relative, options.shards) != options.shard;
    });
  }
  const ProfileHistories histories = HistoriesOf(records);
  std::vector<FoundProfile> to_run, interrupted;
  std::uint64_t bytes = 0;
  for (const FoundProfile& profile : found) {
    const auto history = histories.find(profile.relative);
    const Json* end = history == histories.end() ? nullptr : EndOf(history->second);
    if (end != nullptr && end->value("result", "") == kResultMigrated) continue;
    (history != histories.end() && end == nullptr ? interrupted : to_run).push_back(profile);
    bytes += profile.size;
  }

  JournalWriter journal;
  if (const HRESULT hr = journal.Open(journal_path); FAILED(hr)) {
    return RolloutFailure(u"cannot write the journal '" + journal_path + u"'" + ErrorText(hr));
  }
  Json header = {{"run", "migrate"},
                 {"mode", places.in_place ? "in-place" : "to"},
                 {"rules", JournalText(places.rules)},
                 {"share", JournalText(places.share)},
                 {places.in_place ? "backup" : "to", JournalText(places.target)},
                 {"profiles", found.size()}};
  if (options.shards != 0) {
    header["shard"] = JournalText(DecimalText(options.shard) + u"/" + DecimalText(options.shards));
  }
  if (const HRESULT hr = journal.Write(std::move(header)); FAILED(hr)) {
    return RolloutFailure(u"cannot write the journal '" + journal_path + u"'" + ErrorText(hr));
  }

  // A stop request ends the profiles under way at their next step and starts no more.
  platform::WatchStopRequests();
  ProgressCounts counts;
  Pool pool(places, journal, options, counts);
  {
    std::optional<ProgressDisplay> progress;
    if (!options.quiet) progress.emplace(counts, to_run.size() + interrupted.size(), bytes);
    for (const FoundProfile& profile : interrupted) {
      bool rerun = false;
      const ProfileOutcome outcome =
          RecoverProfile(places, journal, profile.relative, histories.at(profile.relative), &rerun);
      if (rerun) {
        to_run.push_back(profile);
      } else {
        pool.Count(outcome);
      }
    }
    pool.Run(to_run, false);
  }
  (void)journal.Write({{"run", "end"},
                       {"budget_spent", pool.BudgetSpent()},
                       {"stopped", platform::StopRequested()}});
  const std::u16string journals[] = {journal_path};
  return Report(journals, page, options.json);
}

}  // namespace orvex
