#pragma once
// The check of a migration XML before any archive is touched: the file is read with the tool's own
// reader and rule model, and every rule is judged the way its processor will judge it, with the
// processors' own tables and functions (action words, key roots, type words, number conversion,
// Base64, folder tokens and rebasing, converter pairs). An error is what would stop a run; a
// warning what would be an ERROR line of the log, a rule that does nothing, or one that damages
// every profile it touches.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "rules/migration_rules.h"

namespace orvex {

/// One finding, at the attribute it is about, else its element's '<' (or a parse error).
struct RuleFinding {
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  bool error = false;
  std::u16string_view code;  ///< stable, for programs: "unknown-action", "machine-path", ...
  std::u16string message;
};

/// Checks the migration XML at `path`: S_OK with the findings ordered by position, or the
/// failure to read the file.
[[nodiscard]] HRESULT CheckMigrationXml(std::u16string_view path,
                                        std::vector<RuleFinding>* findings);

/// The rules of the migration XML at `path` as the migration reads them, with the line of each
/// rule's element. S_FALSE when the reader stops before the end (the migration refuses such a
/// file), with `*parse_error` saying where and why.
[[nodiscard]] HRESULT ReadRulesWithLines(std::u16string_view path, MigrationRules* rules,
                                         std::vector<std::uint32_t>* lines,
                                         RuleFinding* parse_error);

/// Whether the key at `path` (normalized: its root in full) holds the settings of many programs in
/// every profile: a key right below a root (HKEY_CURRENT_USER\Control Panel), or a key below
/// Software that many programs share (HKEY_CURRENT_USER\Software\Microsoft).
bool IsSharedKey(std::u16string_view path);

/// How a rule reads in a message: "key delete 'HKCU\Software\Old'", "value set 'Name' of
/// '<key>'".
std::u16string RuleText(const MigrationRule& rule);

/// "<file>:<line>:<column>: error: <text>" (or warning), one line each.
void AppendFindingsText(std::u16string_view file_name, const std::vector<RuleFinding>& findings,
                        std::u16string* out);

/// The findings as one JSON object: the version of its shape, the command, the file, the counts
/// of errors and warnings, and the findings.
void AppendFindingsJson(std::u16string_view file_name, const std::vector<RuleFinding>& findings,
                        std::u16string* out);

}  // namespace orvex
