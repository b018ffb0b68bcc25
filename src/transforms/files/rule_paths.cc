#include "transforms/files/rule_paths.h"

#include "logging/logger.h"

namespace orvex {

HRESULT RebaseAndReport(const std::u16string& rule_path, const std::u16string& archive_directory,
                        const RebaseMessages& messages, RebasedPath* rebased) {
  *rebased = RebaseRulePath(rule_path, archive_directory);
  switch (rebased->outcome) {
    case RebaseOutcome::kRebased:
      return S_OK;
    case RebaseOutcome::kNotTokenPath:
      LogFatal(messages.invalid, rule_path);
      return E_INVALIDARG;
    case RebaseOutcome::kUnfitName:
      LogError(messages.unfit_name, rule_path, WindowsNameStatusText(rebased->name));
      return S_FALSE;
    case RebaseOutcome::kResolveFailed:
      LogError(messages.rebase_failed, rule_path, archive_directory, LowWord(rebased->result));
      return rebased->result;
    case RebaseOutcome::kOutsideFolder:
      LogError(messages.invalid, rebased->path);
      return E_INVALIDARG;
  }
  return E_UNEXPECTED;
}

}  // namespace orvex
