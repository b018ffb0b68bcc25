#include "OrvexInspect/preview.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <new>
#include <utility>

#include "OrvexInspect/html_report.h"
#include "OrvexInspect/rule_check.h"
#include "OrvexInspect/rule_run.h"
#include "common/parallel.h"
#include "paths/paths.h"
#include "platform/directory_tree.h"
#include "platform/process.h"
#include "platform/text.h"
#include "reports/html_page.h"
#include "reports/report_file.h"
#include "reports/report_text.h"
#include "rules/xml_config.h"
#include "transforms/files/file_system.h"

namespace orvex {
namespace {

// Profile names listed for each count of a rule.
constexpr std::size_t kNamesShown = 3;

struct ProfileArchive {
  std::u16string name;  ///< as given, or relative to the folder given
  std::u16string path;
  // Found but not to be previewed: the exit code the report gives it, and why.
  std::uint32_t refused = 0;
  std::u16string reason;
};

// The *.zip files below `folder` (letter case aside, as on Windows) and the links to such files,
// ordered by their names under it. A folder below it that cannot be searched, and a file that no
// migration can be given, are listed as refused, and the search goes on.
HRESULT FindArchives(const std::u16string& folder, std::vector<ProfileArchive>* archives) {
  std::vector<ProfileArchive> found;
  std::vector<std::pair<std::u16string, std::u16string>> folders = {{u"", folder}};  // name, path
  while (!folders.empty()) {
    const auto [prefix, path] = std::move(folders.back());
    folders.pop_back();
    std::u16string pattern;
    RETURN_IF_FAILED(CombinePath(path, u"*", &pattern));
    std::vector<platform::FindData> entries;
    if (const std::uint32_t error = platform::ListDirectory(pattern, &entries)) {
      if (prefix.empty()) return HResultFromWin32(error);
      found.push_back({prefix + u'/', path, error,
                       u"cannot search the folder" + ErrorText(HResultFromWin32(error))});
      continue;
    }
    for (const platform::FindData& entry : entries) {
      std::u16string name = prefix.empty() ? entry.name : prefix + u'/' + entry.name;
      std::u16string child;
      RETURN_IF_FAILED(CombinePath(path, entry.name, &child));
      if ((entry.data.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0) {
        folders.emplace_back(std::move(name), std::move(child));
        continue;
      }
      if (name.size() <= 4 ||
          !EqualsIgnoreCase(std::u16string_view(name).substr(name.size() - 4), u".zip")) {
        continue;
      }
      // Windows reads "\" as a separator: the migration would look for another file.
      if (name.find(u'\\') != std::u16string::npos) {
        found.push_back({std::move(name), std::move(child), ERROR_INVALID_PARAMETER,
                         u"its name holds '\\', which OrvexMigrate reads as a separator: it "
                         u"cannot be migrated"});
        continue;
      }
      // A link counts when it leads to a regular file, which is read through it.
      std::u16string target = PathToOpen(child);
      bool exists = false;
      if (target != child && (FileExists(target, &exists) != S_OK || !exists)) continue;
      found.push_back({std::move(name), std::move(target), 0, {}});
    }
  }
  std::ranges::sort(found, {}, &ProfileArchive::name);
  for (ProfileArchive& archive : found) archives->push_back(std::move(archive));
  return S_OK;
}

bool CollectArchives(const std::vector<std::u16string>& inputs,
                     std::vector<ProfileArchive>* archives, CommandOutput* failure) {
  for (const std::u16string& input : inputs) {
    std::u16string path = input;
    bool exists = false;
    HRESULT hr = ResolveFullPath(&path);
    if (SUCCEEDED(hr)) hr = DirectoryExists(path, &exists);
    if (hr == S_OK && exists) {
      hr = FindArchives(path, archives);
      if (FAILED(hr)) {
        *failure = Failure(u"cannot search '" + input + u"'" + ErrorText(hr));
        return false;
      }
      continue;
    }
    const std::u16string file = ExistingFile(input, failure);
    if (file.empty()) return false;
    archives->push_back({input, file, 0, {}});
  }
  if (archives->empty()) {
    *failure = Failure(u"no profile archive (*.zip) was found");
    return false;
  }
  return true;
}

// What one profile gave, kept once its working folder is gone.
struct ProfileResult {
  HRESULT error = S_OK;  // the preview's own failure
  std::uint32_t exit_code = 0;
  std::u16string failure;
  std::vector<RuleEffect> rules;
  RunChanges changes;
  std::u16string page_part;  // its part of the report page, when one is written
};

// "exit code 0", or for a profile the migration would fail on "exit code 87, the rules stop the
// migration (error 87)".
std::u16string ExitCodeText(const ProfileResult& result) {
  std::u16string text = u"exit code " + DecimalText(result.exit_code);
  if (result.exit_code != 0) text += u", " + result.failure;
  return text;
}

// On a worker thread, so nothing may escape it. The part of the report page is written here,
// while the profile's documents and trees exist.
ProfileResult PreviewOne(const ProfileArchive& archive, const MigrationRules& rules, bool html) {
  ProfileResult result;
  try {
    if (archive.refused != 0) {
      result.exit_code = archive.refused;
      result.failure = archive.reason;
      if (html) AppendHtmlChanges(archive.name, ExitCodeText(result), nullptr, &result.page_part);
      return result;
    }
    RuleRun run;
    result.error = RunRulesOnProfile(archive.path, rules, &run);
    ProfileComparison comparison;
    if (SUCCEEDED(result.error) && run.after_read) {
      result.error = CompareProfiles(run.before, run.after, false, &comparison);
      if (SUCCEEDED(result.error)) result.changes = CountChanges(comparison);
    }
    result.exit_code = run.exit_code;
    result.failure = std::move(run.failure);
    result.rules = std::move(run.rules);
    if (html && SUCCEEDED(result.error)) {
      AppendHtmlChanges(archive.name, ExitCodeText(result), run.after_read ? &comparison : nullptr,
                        &result.page_part);
    }
  } catch (const ResultException& e) {
    result.error = e.result();
  } catch (const std::bad_alloc&) {
    result.error = E_OUTOFMEMORY;
  }
  return result;
}

std::u16string DurationText(std::chrono::seconds left) {
  const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(left);
  const std::u16string seconds = DecimalText(static_cast<std::uint64_t>((left - minutes).count()));
  if (minutes.count() == 0) return seconds + u" s";
  return DecimalText(static_cast<std::uint64_t>(minutes.count())) + u" min " + seconds + u" s";
}

// The line that says how far the preview is, rewritten in place on a console.
class Progress {
 public:
  explicit Progress(std::size_t total)
      : total_(total),
        shown_(platform::StandardErrorIsConsole()),
        start_(std::chrono::steady_clock::now()) {}

  void OneDone() {
    const std::lock_guard lock(mutex_);
    ++done_;
    if (!shown_) return;
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(
        elapsed / done_ * static_cast<std::int64_t>(total_ - done_));
    Show(u"preview: " + DecimalText(done_) + u" of " + DecimalText(total_) + u" profiles, " +
         DurationText(left) + u" left");
  }
  void End() {
    if (shown_) Show({});
  }

 private:
  void Show(const std::u16string& line) {
    const std::size_t width = std::max(line.size(), last_width_);
    platform::WriteConsoleError(u"\r" + line + std::u16string(width - line.size(), u' ') +
                                (line.empty() ? u"\r" : u""));
    last_width_ = line.size();
  }

  const std::size_t total_;
  const bool shown_;
  const std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::size_t done_ = 0;
  std::size_t last_width_ = 0;
};

std::vector<ProfileResult> PreviewAll(const std::vector<ProfileArchive>& archives,
                                      const MigrationRules& rules, std::uint32_t jobs, bool html) {
  std::vector<ProfileResult> results(archives.size());
  Progress progress(archives.size());
  ForEachOnThreads(archives.size(), jobs, [&](std::size_t i) {
    if (platform::StopRequested()) return;
    results[i] = PreviewOne(archives[i], rules, html);
    progress.OneDone();
  });
  progress.End();
  return results;
}

// Profiles that share one outcome of a rule with the first names, and the .reg files among them.
struct Tally {
  ProfileCount count;
  std::uint64_t reg_files = 0;

  void Add(std::u16string_view name, std::uint32_t files) {
    ++count.profiles;
    reg_files += files;
    if (count.examples.size() < kNamesShown) count.examples.emplace_back(name);
  }
};

struct RuleSummary {
  Tally acted;
  Tally found_nothing;
  Tally failed;
  std::vector<std::pair<std::u16string, std::uint64_t>> near_misses;  // text, profiles
  std::vector<std::pair<std::u16string, std::uint64_t>> warnings;     // text, profiles
};

void CountText(std::vector<std::pair<std::u16string, std::uint64_t>>* texts,
               const std::u16string& text) {
  auto it = std::find_if(texts->begin(), texts->end(),
                         [&](const auto& known) { return known.first == text; });
  if (it == texts->end()) it = texts->insert(texts->end(), {text, 0});
  ++it->second;
}

// Per profile a rule failed if it failed anywhere, else acted if it acted anywhere, else found
// nothing if it ran at all (a profile without .reg files runs no key or value rule).
std::vector<RuleSummary> SummarizeRules(const std::vector<ProfileArchive>& archives,
                                        const std::vector<ProfileResult>& results,
                                        std::size_t rule_count) {
  std::vector<RuleSummary> summaries(rule_count);
  for (std::size_t p = 0; p < results.size(); ++p) {
    for (std::size_t r = 0; r < results[p].rules.size(); ++r) {
      const RuleEffect& effect = results[p].rules[r];
      RuleSummary& summary = summaries[r];
      for (const std::u16string& text : effect.warnings) CountText(&summary.warnings, text);
      if (effect.failed != 0) {
        summary.failed.Add(archives[p].name, effect.failed);
      } else if (effect.acted != 0) {
        summary.acted.Add(archives[p].name, effect.acted);
      } else if (effect.found_nothing != 0) {
        summary.found_nothing.Add(archives[p].name, effect.found_nothing);
        // What the rule may have meant, only where it found nothing at all: not where another
        // .reg file lacks what one of them held.
        for (const std::u16string& text : effect.near_misses) {
          CountText(&summary.near_misses, text);
        }
      }
    }
  }
  return summaries;
}

struct Totals {
  std::uint64_t succeed = 0;
  std::uint64_t fail = 0;
  std::uint64_t change = 0;
  std::uint64_t rules_acted_nowhere = 0;
};

bool IsRegistryRule(RuleKind kind) { return kind == RuleKind::Key || kind == RuleKind::Value; }

void AppendTallyText(std::u16string* out, std::u16string_view what, const Tally& tally,
                     bool registry) {
  const ProfileCount& count = tally.count;
  if (count.profiles == 0) return;
  *out += u"    " + std::u16string(what) + u" in " + DecimalText(count.profiles) +
          (count.profiles == 1 ? u" profile" : u" profiles");
  if (registry) {
    *out += u" (" + DecimalText(tally.reg_files) +
            (tally.reg_files == 1 ? u" .reg file)" : u" .reg files)");
  }
  *out += u":";
  for (std::size_t i = 0; i < count.examples.size(); ++i) {
    *out += (i == 0 ? u" " : u", ") + count.examples[i];
  }
  if (count.profiles > count.examples.size()) *out += u", ...";
  *out += u'\n';
}

// "'x' not found; 'X' differs only in letter case (2 profiles)".
std::u16string NearMissText(const std::pair<std::u16string, std::uint64_t>& near_miss) {
  return near_miss.first + u" (" + DecimalText(near_miss.second) +
         (near_miss.second == 1 ? u" profile)" : u" profiles)");
}

void AppendText(const std::u16string& rules_name, const MigrationRules& rules,
                const std::vector<std::uint32_t>& lines, const std::vector<RuleSummary>& summaries,
                const std::vector<ProfileArchive>& archives,
                const std::vector<ProfileResult>& results, const Totals& totals,
                std::u16string* out) {
  *out += u"Rules of " + rules_name + u":\n";
  for (std::size_t r = 0; r < summaries.size(); ++r) {
    const MigrationRule& rule = rules.At(static_cast<std::int32_t>(r));
    const RuleSummary& summary = summaries[r];
    const bool registry = IsRegistryRule(rule.kind);
    *out += u"  line " + DecimalText(lines[r]) + u": " + RuleText(rule) + u'\n';
    if (summary.acted.count.profiles == 0) *out += u"    acted nowhere\n";
    AppendTallyText(out, u"acted", summary.acted, registry);
    AppendTallyText(out, u"found nothing", summary.found_nothing, registry);
    AppendTallyText(out, u"failed", summary.failed, registry);
    for (const auto& near_miss : summary.near_misses) {
      *out += u"      near miss: " + NearMissText(near_miss) + u'\n';
    }
    for (const auto& warning : summary.warnings) {
      *out += u"      warning: " + NearMissText(warning) + u'\n';
    }
  }
  *out += u"Profiles:\n";
  for (std::size_t p = 0; p < results.size(); ++p) {
    const ProfileResult& result = results[p];
    *out += u"  " + archives[p].name + u": " + ExitCodeText(result);
    if (result.exit_code != 0) {
      *out += u'\n';
      continue;
    }
    const RunChanges& c = result.changes;
    *out += u"; " + CountsText(u"keys", c.summary.keys) + u"; " +
            CountsText(u"values", c.summary.values) + u"; " +
            CountsText(u"files", c.summary.files) + u"; " + CountsText(u"folders", c.folders) +
            u'\n';
  }
  *out += u"Total: " + DecimalText(results.size()) +
          (results.size() == 1 ? u" profile: " : u" profiles: ") + DecimalText(totals.succeed) +
          u" would succeed, " + DecimalText(totals.fail) + u" would fail, " +
          DecimalText(totals.change) + u" would change; " +
          DecimalText(totals.rules_acted_nowhere) + u" of " + DecimalText(summaries.size()) +
          u" rules acted nowhere\n";
}

void AppendNumberField(std::u16string* out, std::u16string_view name, std::uint64_t number) {
  *out += u"\"" + std::u16string(name) + u"\": " + DecimalText(number);
}

// `, "name": [{"text": ..., "profiles": n}, ...]`
void AppendTextsJson(std::u16string* out, std::u16string_view name,
                     const std::vector<std::pair<std::u16string, std::uint64_t>>& texts) {
  *out += u", \"" + std::u16string(name) + u"\": [";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    *out += i == 0 ? u"{\"text\": " : u", {\"text\": ";
    AppendJsonString(out, texts[i].first);
    *out += u", ";
    AppendNumberField(out, u"profiles", texts[i].second);
    *out += u"}";
  }
  *out += u"]";
}

void AppendTallyJson(std::u16string* out, std::u16string_view name, const Tally& tally,
                     bool registry) {
  *out += u", \"" + std::u16string(name) + u"\": {";
  AppendNumberField(out, u"profiles", tally.count.profiles);
  if (registry) {
    *out += u", ";
    AppendNumberField(out, u"reg_files", tally.reg_files);
  }
  *out += u", \"first_profiles\": [";
  for (std::size_t i = 0; i < tally.count.examples.size(); ++i) {
    if (i != 0) *out += u", ";
    AppendJsonString(out, tally.count.examples[i]);
  }
  *out += u"]}";
}

void AppendJson(const std::u16string& rules_name, const MigrationRules& rules,
                const std::vector<std::uint32_t>& lines, const std::vector<RuleSummary>& summaries,
                const std::vector<ProfileArchive>& archives,
                const std::vector<ProfileResult>& results, const Totals& totals,
                std::u16string* out) {
  *out += u"{\"version\": 1, \"command\": \"preview\", \"rules_file\": ";
  AppendJsonString(out, rules_name);
  *out += u",\n \"summary\": {";
  AppendNumberField(out, u"profiles", results.size());
  *out += u", ";
  AppendNumberField(out, u"succeed", totals.succeed);
  *out += u", ";
  AppendNumberField(out, u"fail", totals.fail);
  *out += u", ";
  AppendNumberField(out, u"change", totals.change);
  *out += u", ";
  AppendNumberField(out, u"rules", summaries.size());
  *out += u", ";
  AppendNumberField(out, u"rules_acted_nowhere", totals.rules_acted_nowhere);
  *out += u"},\n \"rules\": [";
  for (std::size_t r = 0; r < summaries.size(); ++r) {
    const MigrationRule& rule = rules.At(static_cast<std::int32_t>(r));
    const RuleSummary& summary = summaries[r];
    const bool registry = IsRegistryRule(rule.kind);
    *out += r == 0 ? u"\n  {" : u",\n  {";
    AppendNumberField(out, u"line", lines[r]);
    *out += u", \"kind\": \"" + std::u16string(RuleElementName(rule.kind)) + u"\", \"rule\": ";
    AppendJsonString(out, RuleText(rule));
    AppendTallyJson(out, u"acted", summary.acted, registry);
    AppendTallyJson(out, u"found_nothing", summary.found_nothing, registry);
    AppendTallyJson(out, u"failed", summary.failed, registry);
    AppendTextsJson(out, u"near_misses", summary.near_misses);
    AppendTextsJson(out, u"warnings", summary.warnings);
    *out += u"}";
  }
  *out += u"],\n \"profiles\": [";
  for (std::size_t p = 0; p < results.size(); ++p) {
    const ProfileResult& result = results[p];
    *out += p == 0 ? u"\n  {\"name\": " : u",\n  {\"name\": ";
    AppendJsonString(out, archives[p].name);
    *out += u", ";
    AppendNumberField(out, u"exit_code", result.exit_code);
    if (result.exit_code != 0) {
      *out += u", \"failure\": ";
      AppendJsonString(out, result.failure);
      *out += u"}";
      continue;
    }
    const RunChanges& c = result.changes;
    *out += u", \"changes\": {";
    const DifferenceSummary& d = c.summary;
    const std::pair<std::u16string_view, std::uint64_t> fields[] = {
        {u"keys_added", d.keys.added},         {u"keys_removed", d.keys.removed},
        {u"keys_changed", d.keys.changed},     {u"keys_moved", d.keys.moved},
        {u"values_added", d.values.added},     {u"values_removed", d.values.removed},
        {u"values_changed", d.values.changed}, {u"values_moved", d.values.moved},
        {u"files_added", d.files.added},       {u"files_removed", d.files.removed},
        {u"files_changed", d.files.changed},   {u"files_moved", d.files.moved},
        {u"folders_added", c.folders.added},   {u"folders_removed", c.folders.removed},
        {u"folders_moved", c.folders.moved}};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
      if (i != 0) *out += u", ";
      AppendNumberField(out, fields[i].first, fields[i].second);
    }
    *out += u"}}";
  }
  *out += u"]}\n";
}

// The report page: the totals, the rule table and each profile's part.
std::u16string PreviewPage(const std::u16string& rules_name, const MigrationRules& rules,
                           const std::vector<std::uint32_t>& lines,
                           const std::vector<RuleSummary>& summaries,
                           const std::vector<ProfileResult>& results, const Totals& totals) {
  std::u16string page;
  BeginHtmlPage(u"OrvexInspect preview: " + rules_name, &page);
  const std::u16string_view columns[] = {u"profiles",     u"would succeed", u"would fail",
                                         u"would change", u"rules",         u"rules acted nowhere"};
  const CountRow total[] = {{u"total",
                             {results.size(), totals.succeed, totals.fail, totals.change,
                              summaries.size(), totals.rules_acted_nowhere}}};
  AppendHtmlSummary(columns, total, &page);
  std::vector<RuleRow> rows;
  for (std::size_t r = 0; r < summaries.size(); ++r) {
    const RuleSummary& summary = summaries[r];
    RuleRow& row = rows.emplace_back();
    row.rule = RuleText(rules.At(static_cast<std::int32_t>(r)));
    row.line = lines[r];
    row.acted = summary.acted.count;
    row.found_nothing = summary.found_nothing.count;
    row.failed = summary.failed.count;
    for (const auto& near_miss : summary.near_misses) {
      row.near_misses.push_back(NearMissText(near_miss));
    }
    for (const auto& warning : summary.warnings) {
      row.near_misses.push_back(u"warning: " + NearMissText(warning));
    }
  }
  AppendHtmlRuleTable(rows, &page);
  for (const ProfileResult& result : results) page += result.page_part;
  EndHtmlPage(&page);
  return page;
}

}  // namespace

CommandOutput Preview(const std::u16string& rules_name, const std::vector<std::u16string>& inputs,
                      bool json, std::uint32_t jobs, const std::u16string& html) {
  CommandOutput output;
  const std::u16string rules_path = ExistingFile(rules_name, &output);
  if (rules_path.empty()) return output;
  MigrationRules rules;
  std::vector<std::uint32_t> lines;
  RuleFinding parse_error;
  const HRESULT hr = ReadRulesWithLines(rules_path, &rules, &lines, &parse_error);
  if (FAILED(hr)) return Failure(u"cannot read '" + rules_name + u"'" + ErrorText(hr));
  if (hr == S_FALSE) {
    return Failure(rules_name + u":" + DecimalText(parse_error.line) + u":" +
                   DecimalText(parse_error.column) + u": " + parse_error.message);
  }
  std::vector<ProfileArchive> archives;
  if (!CollectArchives(inputs, &archives, &output)) return output;
  ReportFile report;
  std::u16string report_failure;
  if (!html.empty()) {
    std::vector<std::u16string> files_read = {rules_path};
    for (const ProfileArchive& archive : archives) files_read.push_back(archive.path);
    if (!report.Create(html, files_read, &report_failure)) return Failure(report_failure);
  }

  // A stop request ends the profiles under way at their next step and starts no more; their
  // working folders go with them.
  platform::WatchStopRequests();
  const std::vector<ProfileResult> results = PreviewAll(archives, rules, jobs, !html.empty());
  if (platform::StopRequested()) {
    CommandOutput stopped = Failure(u"stopped on request");
    stopped.exit_code = static_cast<std::uint32_t>(LowWord(kStoppedOnRequest));
    return stopped;
  }
  for (std::size_t p = 0; p < results.size(); ++p) {
    if (FAILED(results[p].error)) {
      return Failure(u"cannot preview '" + archives[p].name + u"'" + ErrorText(results[p].error));
    }
  }
  const std::vector<RuleSummary> summaries =
      SummarizeRules(archives, results, static_cast<std::size_t>(rules.Count()));
  Totals totals;
  for (const ProfileResult& result : results) {
    ++(result.exit_code == 0 ? totals.succeed : totals.fail);
    if (result.exit_code == 0 && result.changes.any()) ++totals.change;
  }
  for (const RuleSummary& summary : summaries) {
    if (summary.acted.count.profiles == 0) ++totals.rules_acted_nowhere;
  }
  if (!html.empty() &&
      !report.Finish(PreviewPage(rules_name, rules, lines, summaries, results, totals),
                     &report_failure)) {
    return Failure(report_failure);
  }
  if (json) {
    AppendJson(rules_name, rules, lines, summaries, archives, results, totals, &output.out);
  } else {
    AppendText(rules_name, rules, lines, summaries, archives, results, totals, &output.out);
  }
  output.exit_code = totals.fail == 0 && totals.rules_acted_nowhere == 0 ? 0 : kInspectFound;
  return output;
}

}  // namespace orvex
