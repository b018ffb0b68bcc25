#include "OrvexRollout/rollout_report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

#include "OrvexRollout/journal.h"
#include "OrvexRollout/profile_job.h"
#include "paths/paths.h"
#include "platform/environment.h"
#include "platform/text.h"
#include "profiles/profile.h"
#include "reports/html_page.h"
#include "reports/report_text.h"

namespace orvex {
namespace {

// The first FATAL line of a log, without its time stamp and level; empty when there is none.
std::u16string FirstFatalLine(std::u16string_view log) {
  std::string text;
  if (log.empty() || FAILED(ReadFileBytes(log, std::uint64_t{1} << 24, &text))) return {};
  constexpr std::string_view kFatal = "[FATAL] ";
  const std::size_t at = text.find(kFatal);
  if (at == std::string::npos) return {};
  const std::size_t start = at + kFatal.size();
  std::size_t end = text.find('\n', start);
  if (end == std::string::npos) end = text.size();
  if (end > start && text[end - 1] == '\r') --end;
  return ToUtf16(std::string_view(text).substr(start, end - start));
}

struct Ended {
  const Json* end = nullptr;
  double time = 0;
  std::u16string folder;  // the journal's
};

// The stretches of time the roll-out's sessions ran, overlaps counted once.
double CoveredSeconds(std::vector<std::pair<double, double>> spans) {
  std::sort(spans.begin(), spans.end());
  double seconds = 0, reached = 0;
  for (const auto& [start, end] : spans) {
    const double from = std::max(start, reached);
    if (end > from) seconds += end - from;
    reached = std::max(reached, end);
  }
  return seconds;
}

std::u16string Number(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return ToUtf16(text);
}

}  // namespace

HRESULT BuildReport(std::span<const std::u16string> journals, RolloutReport* report,
                    std::u16string* failure) {
  std::vector<ProfileHistories> all(journals.size());
  std::map<std::u16string, Ended> ended;
  std::vector<std::pair<double, double>> spans;
  for (std::size_t j = 0; j < journals.size(); ++j) {
    std::u16string path = journals[j];
    std::size_t name = 0, line = 0;
    HRESULT hr = ResolveFullPath(&path, {}, &name);
    std::vector<Json> records;
    if (SUCCEEDED(hr)) hr = ReadJournal(path, &records, &line);
    if (FAILED(hr)) {
      *failure = u"cannot read the journal '" + journals[j] + u"'" +
                 (hr == HResultFromWin32(ERROR_INVALID_DATA) ? u" (line " + DecimalText(line) + u")"
                                                             : ErrorText(hr));
      return hr;
    }
    const std::u16string folder = path.substr(0, name > 0 ? name - 1 : 0);
    std::size_t profiles = 0;
    bool in_rollout = false;
    for (const Json& record : records) {
      const double time = record.value("time", 0.0);
      const std::string run = record.value("run", "");
      if (!run.empty()) {
        in_rollout = run == "migrate";
        if (in_rollout) {
          profiles = record.value("profiles", std::size_t{0});
          spans.emplace_back(time, time);
        } else if (run == "end") {
          report->budget_spent = record.value("budget_spent", false);
        }
      } else if (in_rollout && !spans.empty()) {
        spans.back().second = time;
      }
    }
    report->profiles += profiles;
    all[j] = HistoriesOf(records);
    for (const auto& [profile, history] : all[j]) {
      const Json* end = EndOf(history);
      if (end == nullptr) continue;
      Ended& found = ended[profile];
      const double time = end->value("time", 0.0);
      if (found.end == nullptr || time >= found.time) found = {end, time, folder};
    }
  }
  report->seconds = CoveredSeconds(std::move(spans));

  std::map<std::pair<std::uint32_t, std::u16string>, std::vector<ReportedProfile>> failures;
  for (const auto& [profile, found] : ended) {
    const Json& end = *found.end;
    const std::string result = end.value("result", "");
    const std::u16string log_name = FromJournalText(end.value("log", Json()));
    ReportedProfile reported{profile, log_name.empty() ? u"" : PathBelow(found.folder, log_name),
                             FromJournalText(end.value("message", Json()))};
    if (result == kResultMigrated) {
      ++report->migrated;
      report->bytes += end.value("bytes", std::uint64_t{0});
    } else if (result == kResultFailed) {
      ++report->failed;
      std::u16string reason = FirstFatalLine(reported.log);
      if (reason.empty()) reason = reported.message;
      failures[{end.value("exit_code", 0u), reason}].push_back(std::move(reported));
    } else if (result == kResultChanged) {
      ++report->changed;
      report->changed_profiles.push_back(std::move(reported));
    } else if (result == kResultInUse) {
      ++report->in_use;
      report->in_use_profiles.push_back(std::move(reported));
    } else if (result == kResultRolledBack) {
      ++report->rolled_back;
      report->rolled_back_profiles.push_back(std::move(reported));
    } else if (result == kResultKept) {
      ++report->kept;
      report->kept_profiles.push_back(std::move(reported));
    } else {
      ++report->stopped;
    }
  }
  for (auto& [key, profiles] : failures) {
    report->failures.push_back({key.first, key.second, std::move(profiles)});
  }
  report->not_started = report->profiles > ended.size() ? report->profiles - ended.size() : 0;
  return S_OK;
}

std::size_t NotMigrated(const RolloutReport& report) {
  return report.failed + report.changed + report.in_use + report.stopped + report.not_started;
}

std::u16string ReportText(const RolloutReport& report) {
  std::u16string text =
      CountText(report.profiles, u"profile", u"profiles") + u": " + DecimalText(report.migrated) +
      u" migrated, " + DecimalText(report.failed) + u" failed, " + DecimalText(report.changed) +
      u" changed during migration, " + DecimalText(report.in_use) + u" in use, " +
      DecimalText(report.stopped + report.not_started) + u" not started or stopped\n";
  if (report.rolled_back + report.kept > 0) {
    text += DecimalText(report.rolled_back) + u" rolled back, " + DecimalText(report.kept) +
            u" kept (changed since the roll-out)\n";
  }
  const double megabytes = static_cast<double>(report.bytes) / 1e6;
  text += Number(megabytes, 1) + u" MB in " + Number(report.seconds, 1) + u" s, " +
          Number(report.seconds > 0 ? megabytes / report.seconds : 0, 1) + u" MB/s\n";
  if (report.budget_spent) {
    text += u"the failure budget was spent: no further profiles were started\n";
  }
  for (const FailureGroup& group : report.failures) {
    text += u"failed (exit " + DecimalText(group.exit_code) + u")" +
            (group.reason.empty() ? u"" : u": " + group.reason) + u'\n';
    for (const ReportedProfile& profile : group.profiles) {
      text += u"  " + profile.profile +
              (profile.log.empty() ? u"" : u" (log: " + profile.log + u")") + u'\n';
    }
  }
  const std::pair<std::u16string_view, const std::vector<ReportedProfile>*> lists[] = {
      {u"changed during migration", &report.changed_profiles},
      {u"in use", &report.in_use_profiles},
      {u"kept (changed since the roll-out)", &report.kept_profiles}};
  for (const auto& [label, profiles] : lists) {
    for (const ReportedProfile& profile : *profiles) {
      text += std::u16string(label) + u": " + profile.profile + u'\n';
    }
  }
  return text;
}

std::u16string ReportJson(const RolloutReport& report) {
  const auto profiles = [](const std::vector<ReportedProfile>& list) {
    Json array = Json::array();
    for (const ReportedProfile& profile : list) {
      Json item = {{"profile", JournalText(profile.profile)}};
      if (!profile.log.empty()) item["log"] = JournalText(profile.log);
      if (!profile.message.empty()) item["message"] = JournalText(profile.message);
      array.push_back(std::move(item));
    }
    return array;
  };
  Json failures = Json::array();
  for (const FailureGroup& group : report.failures) {
    failures.push_back({{"exit_code", group.exit_code},
                        {"reason", JournalText(group.reason)},
                        {"profiles", profiles(group.profiles)}});
  }
  const Json json = {{"version", 1},
                     {"totals",
                      {{"profiles", report.profiles},
                       {"migrated", report.migrated},
                       {"failed", report.failed},
                       {"changed", report.changed},
                       {"in_use", report.in_use},
                       {"stopped", report.stopped},
                       {"not_started", report.not_started},
                       {"rolled_back", report.rolled_back},
                       {"kept", report.kept}}},
                     {"bytes", report.bytes},
                     {"seconds", report.seconds},
                     {"budget_spent", report.budget_spent},
                     {"failures", std::move(failures)},
                     {"changed", profiles(report.changed_profiles)},
                     {"in_use", profiles(report.in_use_profiles)},
                     {"rolled_back", profiles(report.rolled_back_profiles)},
                     {"kept", profiles(report.kept_profiles)}};
  return ToUtf16(json.dump(2, ' ', false, Json::error_handler_t::replace) + '\n');
}

namespace {

std::vector<std::u16string_view> Components(std::u16string_view path) {
  std::vector<std::u16string_view> components;
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find_first_of(u"/\\", start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) components.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

// The link from a page in `folder` to the file `target`, both full paths: relative, '/'-separated
// and percent-encoded.
std::u16string Link(std::u16string_view folder, std::u16string_view target) {
  const auto from = Components(folder), to = Components(target);
  std::size_t common = 0;
  while (common < from.size() && common + 1 < to.size() && from[common] == to[common]) ++common;
  std::u16string relative;
  if (common == 0) relative = u"file:///";  // another root: no way there by a relative path
  for (std::size_t up = common; common > 0 && up < from.size(); ++up) relative += u"../";
  for (std::size_t down = common; down < to.size(); ++down) {
    if (down > common) relative += u'/';
    relative += to[down];
  }
  std::u16string encoded;
  for (const unsigned char byte : ToUtf8(relative)) {
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') ||
        std::u16string_view(u"-._~/:").find(byte) != std::u16string_view::npos) {
      encoded += static_cast<char16_t>(byte);
    } else {
      static constexpr char16_t kHex[] = u"0123456789ABCDEF";
      encoded += {u'%', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  return encoded;
}

void AppendProfileList(std::u16string_view id, std::u16string_view heading,
                       const std::vector<ReportedProfile>& profiles,
                       std::u16string_view page_folder, std::u16string* out) {
  if (profiles.empty()) return;
  *out += u"<section id=\"" + std::u16string(id) + u"\">\n<h2>" + XmlEscape(heading, false) +
          u"</h2>\n<ul>\n";
  for (const ReportedProfile& profile : profiles) {
    *out += u"<li class=\"path\">" + XmlEscape(profile.profile, false);
    if (!profile.log.empty()) {
      *out += u" (<a href=\"" + XmlEscape(Link(page_folder, profile.log)) + u"\">log</a>)";
    }
    if (!profile.message.empty()) *out += u": " + XmlEscape(profile.message, false);
    *out += u"</li>\n";
  }
  *out += u"</ul>\n</section>\n";
}

}  // namespace

std::u16string ReportHtml(const RolloutReport& report, std::u16string_view page_folder) {
  std::u16string page;
  BeginHtmlPage(u"Roll-out report", &page);
  const std::u16string_view columns[] = {u"profiles"};
  const CountRow rows[] = {{u"chosen", {report.profiles}},
                           {u"migrated", {report.migrated}},
                           {u"failed", {report.failed}},
                           {u"changed during migration", {report.changed}},
                           {u"in use", {report.in_use}},
                           {u"not started or stopped", {report.not_started + report.stopped}},
                           {u"rolled back", {report.rolled_back}},
                           {u"kept (changed since the roll-out)", {report.kept}}};
  AppendHtmlSummary(columns, rows, &page);
  const double megabytes = static_cast<double>(report.bytes) / 1e6;
  page += u"<p id=\"throughput\">" + Number(megabytes, 1) + u" MB in " + Number(report.seconds, 1) +
          u" s, " + Number(report.seconds > 0 ? megabytes / report.seconds : 0, 1) + u" MB/s</p>\n";
  if (report.budget_spent) {
    page +=
        u"<p id=\"budget\" class=\"removed\">The failure budget was spent: no further "
        u"profiles were started.</p>\n";
  }
  if (!report.failures.empty()) {
    page +=
        u"<section id=\"failures\">\n<h2>Failures</h2>\n<table>\n"
        u"<tr><th>exit code</th><th>first FATAL line</th><th>profiles</th></tr>\n";
    for (const FailureGroup& group : report.failures) {
      page += u"<tr><td class=\"n\">" + DecimalText(group.exit_code) + u"</td><td>" +
              XmlEscape(group.reason, false) + u"</td><td class=\"path\">";
      for (const ReportedProfile& profile : group.profiles) {
        page += XmlEscape(profile.profile, false);
        if (!profile.log.empty()) {
          page += u" (<a href=\"" + XmlEscape(Link(page_folder, profile.log)) + u"\">log</a>)";
        }
        page += u"<br>";
      }
      page += u"</td></tr>\n";
    }
    page += u"</table>\n</section>\n";
  }
  AppendProfileList(u"changed", u"Changed during migration", report.changed_profiles, page_folder,
                    &page);
  AppendProfileList(u"in-use", u"In use", report.in_use_profiles, page_folder, &page);
  AppendProfileList(u"rolled-back", u"Rolled back", report.rolled_back_profiles, page_folder,
                    &page);
  AppendProfileList(u"kept", u"Kept: changed since the roll-out", report.kept_profiles, page_folder,
                    &page);
  EndHtmlPage(&page);
  return page;
}

}  // namespace orvex
