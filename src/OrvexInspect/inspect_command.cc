#include "OrvexInspect/inspect_command.h"

#include <algorithm>
#include <new>
#include <string>
#include <thread>
#include <tuple>

#include "OrvexInspect/derive.h"
#include "OrvexInspect/html_report.h"
#include "OrvexInspect/preview.h"
#include "OrvexInspect/profile_diff.h"
#include "OrvexInspect/rule_check.h"
#include "paths/paths.h"
#include "profiles/profile.h"
#include "reports/html_page.h"
#include "reports/report_file.h"
#include "reports/report_text.h"
#include "transforms/files/file_system.h"

namespace orvex {
namespace {

constexpr std::u16string_view kUsage =
    u"Usage: OrvexInspect check [--json] [--strict] <rules.xml>\n"
    u"       OrvexInspect diff [--json] [--expand] [--html <report.html>] <before.zip> "
    u"<after.zip>\n"
    u"       OrvexInspect derive <before.zip> <after.zip> [--check-with <profile.zip>...]\n"
    u"       OrvexInspect preview [--json] [-j <jobs>] [--html <report.html>] <rules.xml> "
    u"<profile.zip|folder>...\n";

}  // namespace

CommandOutput Failure(std::u16string message) {
  return CommandFailure(u"OrvexInspect", kInspectFailed, message);
}

namespace {

// What a message adds after the error number: the reason, when one is known.
std::u16string ReasonText(const std::u16string& reason) {
  return reason.empty() ? u"" : u": " + reason;
}

}  // namespace

std::u16string ExistingFile(std::u16string_view name, CommandOutput* failure) {
  std::u16string path(name);
  bool exists = false;
  HRESULT hr = ResolveFullPath(&path);
  if (SUCCEEDED(hr)) {
    path = PathToOpen(path);
    hr = FileExists(path, &exists);
  }
  if (FAILED(hr) || !exists) {
    *failure = Failure(u"'" + std::u16string(name) + u"' was not found" +
                       (FAILED(hr) ? ErrorText(hr) : u""));
    return {};
  }
  if (hr == S_FALSE) {
    *failure = Failure(u"'" + std::u16string(name) + u"' is not a regular file");
    return {};
  }
  return path;
}

namespace {

// Both archives unpacked into one workspace and read, and what a command made of them.
struct ArchivePair {
  InspectionWorkspace workspace;
  Profile before;
  Profile after;
  ProfileComparison comparison;
  DerivedRules derived;
};

bool OpenArchives(const std::u16string& before_name, const std::u16string& after_name,
                  ArchivePair* pair, CommandOutput* failure) {
  const std::u16string before_path = ExistingFile(before_name, failure);
  if (before_path.empty()) return false;
  const std::u16string after_path = ExistingFile(after_name, failure);
  if (after_path.empty()) return false;
  HRESULT hr = pair->workspace.Create();
  if (FAILED(hr)) {
    *failure = Failure(u"cannot create a working folder" + ErrorText(hr));
    return false;
  }
  for (const auto& [name, path, profile, folder] :
       {std::tuple(&before_name, &before_path, &pair->before, u"before"),
        std::tuple(&after_name, &after_path, &pair->after, u"after")}) {
    std::u16string root, reason;
    hr = pair->workspace.Unpack(*path, folder, &root, &reason);
    if (FAILED(hr)) {
      *failure = Failure(u"cannot unpack '" + *name + u"'" + ErrorText(hr) + ReasonText(reason));
      return false;
    }
    std::u16string failed_path;
    reason.clear();
    hr = LoadProfile(root, profile, &failed_path, &reason);
    if (FAILED(hr)) {
      *failure = Failure(u"cannot read '" + failed_path + u"' of '" + *name + u"'" + ErrorText(hr) +
                         ReasonText(reason));
      return false;
    }
  }
  return true;
}

// Any finding makes the exit code 1; with `strict` every finding is an error and the code 2, for
// scripts that must not go on past a hazard.
CommandOutput Check(const std::u16string& name, bool json, bool strict) {
  CommandOutput output;
  const std::u16string path = ExistingFile(name, &output);
  if (path.empty()) return output;
  std::vector<RuleFinding> findings;
  const HRESULT hr = CheckMigrationXml(path, &findings);
  if (FAILED(hr)) return Failure(u"cannot read '" + name + u"'" + ErrorText(hr));
  if (strict) {
    for (RuleFinding& finding : findings) finding.error = true;
  }
  if (json) {
    AppendFindingsJson(name, findings, &output.out);
  } else {
    AppendFindingsText(name, findings, &output.out);
  }
  if (!findings.empty()) output.exit_code = strict ? kInspectFailed : kInspectFound;
  return output;
}

// Both archives (`paths`, as ExistingFile gives them) read for comparing them, each unpacked only
// as far as the comparison needs.
bool ListArchives(const std::u16string& before_name, const std::u16string& after_name,
                  const std::u16string (&paths)[2], ArchivePair* pair, CommandOutput* failure) {
  HRESULT hr = pair->workspace.Create();
  if (FAILED(hr)) {
    *failure = Failure(u"cannot create a working folder" + ErrorText(hr));
    return false;
  }
  const ComparedArchive sides[2] = {{paths[0], u"before", &pair->before},
                                    {paths[1], u"after", &pair->after}};
  std::size_t failed = 0;
  std::u16string failed_path, reason;
  hr = pair->workspace.LoadForComparison(sides, &failed, &failed_path, &reason);
  if (FAILED(hr)) {
    const std::u16string& name = failed == 0 ? before_name : after_name;
    *failure = Failure(failed_path.empty()
                           ? u"cannot unpack '" + name + u"'" + ErrorText(hr) + ReasonText(reason)
                           : u"cannot read '" + failed_path + u"' of '" + name + u"'" +
                                 ErrorText(hr) + ReasonText(reason));
  }
  return SUCCEEDED(hr);
}

// The report page of a diff: the summary, then the changes of the one pair of profiles.
std::u16string DiffPage(const std::u16string& before, const std::u16string& after,
                        const ProfileComparison& comparison, const DifferenceSummary& summary) {
  const std::u16string_view columns[] = {u"added", u"removed", u"changed", u"moved"};
  auto counts = [](const ChangeCounts& c) {
    return std::vector<std::size_t>{c.added, c.removed, c.changed, c.moved};
  };
  const CountRow rows[] = {{u"keys", counts(summary.keys)},
                           {u"values", counts(summary.values)},
                           {u"files", counts(summary.files)}};
  std::u16string page;
  BeginHtmlPage(u"OrvexInspect diff: " + before + u" -> " + after, &page);
  AppendHtmlSummary(columns, rows, &page);
  AppendHtmlChanges(before + u" -> " + after, {}, &comparison, &page);
  EndHtmlPage(&page);
  return page;
}

struct DiffOptions {
  bool json = false;
  bool expand = false;
  std::u16string html;  // the report page's file, if one is wanted
};

CommandOutput Diff(const std::u16string& before, const std::u16string& after,
                   const DiffOptions& options) {
  CommandOutput output;
  const std::u16string paths[2] = {ExistingFile(before, &output),
                                   paths[0].empty() ? u"" : ExistingFile(after, &output)};
  if (paths[1].empty()) return output;
  ReportFile report;
  std::u16string report_failure;
  if (!options.html.empty() && !report.Create(options.html, paths, &report_failure)) {
    return Failure(report_failure);
  }
  const auto pair = std::make_shared<ArchivePair>();
  if (!ListArchives(before, after, paths, pair.get(), &output)) return output;
  ProfileComparison& comparison = pair->comparison;
  const HRESULT hr = CompareProfiles(pair->before, pair->after, options.expand, &comparison);
  if (FAILED(hr)) return Failure(u"cannot compare the archives" + ErrorText(hr));
  const DifferenceSummary summary = Summarize(comparison);
  if (!options.html.empty() &&
      !report.Finish(DiffPage(before, after, comparison, summary), &report_failure)) {
    return Failure(report_failure);
  }
  if (options.json) {
    output.out = u"{\n  \"version\": 1,\n  \"command\": \"diff\",\n  \"before\": ";
    AppendJsonString(&output.out, before);
    output.out += u",\n  \"after\": ";
    AppendJsonString(&output.out, after);
    output.out += u",\n  \"summary\": ";
    AppendSummaryJson(summary, &output.out);
    output.out += u",\n  \"differences\": ";
    AppendDifferenceJson(comparison, u"  ", &output.out);
    output.out += u"\n}\n";
  } else if (!comparison.empty()) {
    AppendSummaryText(summary, &output.out);
    output.out += u'\n';
    AppendDifferenceText(comparison, {}, &output.out);
  }
  output.exit_code = comparison.empty() ? 0 : kInspectFound;
  pair->workspace.Remove();
  output.held = pair;
  return output;
}

// With `check_with`, the rules are then run on those profiles too, and on the example's before
// side again, to see what they would do there that they do not in the example.
CommandOutput Derive(const std::u16string& before, const std::u16string& after,
                     const std::vector<std::u16string>& check_with) {
  CommandOutput output;
  std::vector<NamedArchive> others;
  for (const std::u16string& name : check_with) {
    others.push_back({name, ExistingFile(name, &output)});
    if (others.back().path.empty()) return output;
  }
  const auto pair = std::make_shared<ArchivePair>();
  if (!OpenArchives(before, after, pair.get(), &output)) return output;
  DerivedRules& derived = pair->derived;
  std::u16string scratch;
  HRESULT hr = pair->workspace.PathOf(u"pictures", &scratch);
  if (SUCCEEDED(hr)) hr = DeriveRules(pair->before, pair->after, scratch, &derived);
  if (FAILED(hr)) return Failure(u"cannot derive the rules" + ErrorText(hr));
  pair->workspace.Remove();  // the rules hold what they need of it
  if (!others.empty()) {
    const std::u16string example = ExistingFile(before, &output);
    if (example.empty()) return output;
    std::u16string unreadable;
    hr = CheckWithProfiles(example, others, &derived, &unreadable);
    if (FAILED(hr)) return Failure(u"cannot check the rules with the profiles" + ErrorText(hr));
    if (!unreadable.empty()) return Failure(u"cannot check with " + unreadable);
  }
  output.out = MigrationXmlText(derived, before, after);
  output.exit_code = derived.remaining.empty() && derived.elsewhere.empty() ? 0 : kInspectFound;
  output.held = pair;
  return output;
}

CommandOutput UsageFailure() {
  CommandOutput output;
  output.exit_code = kInspectFailed;
  output.err = kUsage;
  return output;
}

// The number of profiles previewed at once: 1 to 9999, else 0.
std::uint32_t JobCount(std::u16string_view text) {
  const bool digits =
      !text.empty() && text.size() <= 4 &&
      std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
  std::uint32_t count = 0;
  for (const char16_t c : digits ? text : std::u16string_view()) count = count * 10 + (c - u'0');
  return count;
}

CommandOutput Dispatch(const ArgumentList& args) {
  std::vector<std::u16string> words;
  std::vector<std::u16string> check_with;
  DiffOptions diff;
  bool strict = false;
  bool usage_error = false;
  std::uint32_t jobs = 0;  // not given
  CommandOutput output;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == u"--help" || args[i] == u"-h") {
      output.out = kUsage;  // asked for, so no failure
      return output;
    }
    if (args[i] == u"--json") {
      diff.json = true;
    } else if (args[i] == u"--strict") {
      strict = true;
    } else if (args[i] == u"--expand") {
      diff.expand = true;
    } else if (args[i] == u"--html") {
      usage_error |= i + 1 == args.size() || args[i + 1].empty();
      if (!usage_error) diff.html = args[++i];
    } else if (args[i] == u"--check-with") {
      // The profiles are the words that follow, up to the next option.
      const std::size_t profiles = check_with.size();
      while (i + 1 < args.size() && !args[i + 1].starts_with(u'-')) check_with.push_back(args[++i]);
      usage_error |= check_with.size() == profiles;
    } else if (args[i] == u"-j") {
      jobs = i + 1 < args.size() ? JobCount(args[++i]) : 0;
      if (jobs == 0) return UsageFailure();
    } else {
      words.push_back(args[i]);
    }
  }
  const bool diff_options = diff.expand || !diff.html.empty();
  if (usage_error || (!check_with.empty() && (words.empty() || words[0] != u"derive"))) {
    words.clear();
  }
  if (words.size() >= 3 && words[0] == u"preview" && !strict && !diff.expand) {
    // One profile per core unless told otherwise, as the migration's batch script runs them.
    if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());
    return Preview(words[1], {words.begin() + 2, words.end()}, diff.json, jobs, diff.html);
  }
  if (jobs != 0) words.clear();  // only preview knows it
  if (words.size() == 2 && words[0] == u"check" && !diff_options) {
    return Check(words[1], diff.json, strict);
  }
  if (strict) words.clear();  // only check knows it
  if (words.size() == 3 && words[0] == u"diff") return Diff(words[1], words[2], diff);
  if (words.size() == 3 && words[0] == u"derive" && !diff.json && !diff_options) {
    return Derive(words[1], words[2], check_with);
  }
  return UsageFailure();
}

}  // namespace

CommandOutput RunInspectCommand(const ArgumentList& args) {
  try {
    return Dispatch(args);
  } catch (const ResultException& e) {
    return Failure(u"stopped by an unexpected failure" + ErrorText(e.result()));
  } catch (const std::bad_alloc&) {
    return Failure(u"out of memory");
  }
}

}  // namespace orvex
