#pragma once
// What the directory and file rule processors share: rebasing a rule path into the archive
// directory with the messages of a refusal, and the copy and move actions, which differ between
// the two only in their words, their existence check and the numbers they report.

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

/// The words and checks of one processor's copy or move.
struct TransferAction {
  FormatStringFor<std::u16string, std::u16string> starting;  ///< DEBUG, the rule's paths
  FormatStringFor<std::u16string, std::u16string, std::int32_t> failed;  ///< ERROR, resolved paths
  FormatStringFor<std::u16string, std::u16string> done;        ///< DEBUG, the rule's paths
  FormatStringFor<std::u16string, std::int32_t> check_failed;  ///< ERROR, resolved source
  RebaseMessages destination;
  /// FileExists or DirectoryExists: S_FALSE means the wrong kind bears the name.
  HRESULT (*exists)(std::u16string_view path, bool* exists, std::uint32_t* attributes);
  std::int32_t missing_code;     ///< reported when nothing bears the source's name
  std::int32_t wrong_kind_code;  ///< reported when the other kind bears it
  bool move;                     ///< MovePath, else CopyPath
};

/// Copies or moves the rebased `source` to the rule's destination: negative for a refused
/// destination or a failed existence check, S_FALSE for a failure that was logged and lets the run
/// go on (`*found` says when nothing bore the source's name), else the operation's result.
[[nodiscard]] HRESULT TransferPath(const std::u16string& archive_directory,
                                   const std::u16string& rule_source,
                                   const std::u16string& rule_destination,
                                   const std::u16string& source, const TransferAction& action,
                                   RuleOutcome* found);

}  // namespace orvex
