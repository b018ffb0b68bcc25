#pragma once
// Rebasing a rule path into the archive directory with the messages of a refusal, as the directory
// and file rule processors both do.

#include <string_view>

#include "paths/folder_tokens.h"
#include "rules/migration_rules.h"
#include "text/format.h"

namespace orvex {

/// The refusal messages of one processor for one of its paths.
struct RebaseMessages {
  /// "...: Invalid <what> '%s'", FATAL with the rule path or ERROR with the resolved path.
  FormatStringFor<std::u16string> invalid;
  /// "...: Failed to rebase '%s' to '%s'. (Error %d)" with the rule path and the archive directory.
  FormatStringFor<std::u16string, std::u16string, std::int32_t> rebase_failed;
  /// "...: Invalid <what> '%s' (%s)", ERROR with the rule path and why a name in it is unfit.
  FormatStringFor<std::u16string, std::u16string_view> unfit_name;
};

/// Rebases `rule_path` into `archive_directory` and logs a refusal; returns S_OK with `*rebased`
/// filled, S_FALSE for a path holding a name Windows cannot give a file (the rule step fails, the
/// run goes on), E_INVALIDARG for a path that is no token path or leaves its token's folder, or
/// the failure to resolve it.
[[nodiscard]] HRESULT RebaseAndReport(const std::u16string& rule_path,
                                      const std::u16string& archive_directory,
                                      const RebaseMessages& messages, RebasedPath* rebased);

}  // namespace orvex
