#pragma once
// The report page of diff and preview: one self-contained HTML page (styles inline, no script,
// nothing fetched) that reads on a laptop screen and prints. A page is its beginning, any of the
// parts below, and its end.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "OrvexInspect/profile_diff.h"

namespace orvex {

/// The page's head with its styles, and its heading.
void BeginHtmlPage(std::u16string_view title, std::u16string* out);

/// Closes the page.
void EndHtmlPage(std::u16string* out);

/// One row of a summary table: what is counted, and a count per column.
struct CountRow {
  std::u16string_view label;
  std::vector<std::size_t> counts;
};

/// The summary: a table of counts under the heading "Summary".
void AppendHtmlSummary(std::span<const std::u16string_view> columns, std::span<const CountRow> rows,
                       std::u16string* out);

/// How many profiles a rule did one thing in, with the first few of their names.
struct ProfileCount {
  std::size_t profiles = 0;
  std::vector<std::u16string> examples;
};

/// One row of the rule table: a rule, its line in the rule file, what it did where, and for a
/// rule that found nothing what nearly matched.
struct RuleRow {
  std::u16string rule;
  std::uint32_t line = 0;
  ProfileCount acted;
  ProfileCount found_nothing;
  ProfileCount failed;
  std::vector<std::u16string> near_misses;
};

/// The rule table under the heading "Rules", one row per rule.
void AppendHtmlRuleTable(std::span<const RuleRow> rows, std::u16string* out);

/// One profile under a heading of its name: `status` below it when there is one, then its changes
/// as a tree that opens and closes: per .reg file its moved key trees and its keys with the values
/// before and after side by side, per top folder its files and folders. Without `changes` (a
/// profile the migration would fail on), the heading and the status alone.
void AppendHtmlChanges(std::u16string_view profile, std::u16string_view status,
                       const ProfileComparison* changes, std::u16string* out);

}  // namespace orvex
