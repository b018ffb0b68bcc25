#pragma once
// The parts of the companion's report pages that only diff and preview show: the rule table and a
// profile's changes. The page around them is the one every report page has.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "OrvexInspect/profile_diff.h"

namespace orvex {

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
