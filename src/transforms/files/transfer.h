#pragma once
// The copy and move actions of the directory and file rule processors, which differ between the
// two only in their words, their existence check and the numbers they report.

#include <cstdint>
#include <string>
#include <string_view>

#include "rules/migration_rules.h"
#include "text/format.h"
#include "transforms/files/rule_paths.h"

namespace orvex {

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
