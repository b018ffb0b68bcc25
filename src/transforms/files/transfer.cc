#include "transforms/files/transfer.h"

#include "logging/logger.h"
#include "transforms/files/file_system.h"

namespace orvex {

HRESULT TransferPath(const std::u16string& archive_directory, const std::u16string& rule_source,
                     const std::u16string& rule_destination, const std::u16string& source,
                     const TransferAction& action, RuleOutcome* found) {
  LogDebug(action.starting, rule_source, rule_destination);
  RebasedPath destination;
  HRESULT hr =
      RebaseAndReport(rule_destination, archive_directory, action.destination, &destination);
  if (hr != S_OK) return hr;
  bool exists = false;
  hr = action.exists(source, &exists, nullptr);
  if (FAILED(hr)) {
    LogError(action.check_failed, source, LowWord(hr));
    return hr;
  }
  if (!exists || hr == S_FALSE) {
    LogError(action.failed, source, destination.path,
             exists ? action.wrong_kind_code : action.missing_code);
    if (!exists) *found = RuleOutcome::kFoundNothing;
    return S_FALSE;
  }
  hr = action.move ? MovePath(source, destination.path, true, false)
                   : CopyPath(source, destination.path, true);
  if (FAILED(hr)) {
    LogError(action.failed, source, destination.path, LowWord(hr));
    return S_FALSE;
  }
  LogDebug(action.done, rule_source, rule_destination);
  return hr;
}

}  // namespace orvex
