#include "transforms/files/directory_rules.h"

#include "logging/logger.h"
#include "platform/text.h"
#include "transforms/files/file_system.h"
#include "transforms/files/transfer.h"

namespace orvex {
namespace {

constexpr RebaseMessages kSourceMessages = {
    u"ProcessDirectory: Invalid source directory '%s'",
    u"ProcessDirectory: Failed to rebase '%s' to '%s'. (Error %d)",
    u"ProcessDirectory: Invalid source directory '%s' (%s)"};
constexpr RebaseMessages kDestinationMessages = {
    u"ProcessDirectory: Invalid destination directory '%s'",
    u"ProcessDirectory: Failed to rebase '%s' to '%s'. (Error %d)",
    u"ProcessDirectory: Invalid destination directory '%s' (%s)"};

constexpr TransferAction kCopy = {
    u"ProcessDirectory: Copying directory '%s' to '%s'",
    u"ProcessDirectory: Failed to copy directory '%s' to '%s'. (Error %d)",
    u"ProcessDirectory: Copied directory '%s' to '%s'",
    u"ProcessDirectory: Failed to check if directory '%s' exists. (Error %d)",
    kDestinationMessages,
    DirectoryExists,
    ERROR_PATH_NOT_FOUND,
    ERROR_DIRECTORY,
    false};
constexpr TransferAction kMove = {
    u"ProcessDirectory: Moving directory '%s' to '%s'",
    u"ProcessDirectory: Failed to move directory '%s' to '%s'. (Error %d)",
    u"ProcessDirectory: Moved directory '%s' to '%s'",
    u"ProcessDirectory: Failed to check if directory '%s' exists. (Error %d)",
    kDestinationMessages,
    DirectoryExists,
    ERROR_PATH_NOT_FOUND,
    ERROR_DIRECTORY,
    true};

HRESULT CreateRuleDirectory(const DirectoryRule& rule, const std::u16string& path) {
  LogDebug(u"ProcessDirectory: Creating directory '%s'", rule.source);
  const HRESULT hr = CreateDirectoryPath(path);
  if (FAILED(hr)) {
    LogError(u"ProcessDirectory: Failed to create directory '%s'. (Error %d)", path, LowWord(hr));
    return S_FALSE;
  }
  LogDebug(u"ProcessDirectory: Created directory '%s'", rule.source);
  return hr;
}

HRESULT DeleteRuleDirectory(const DirectoryRule& rule, const std::u16string& path) {
  LogDebug(u"ProcessDirectory: Deleting directory '%s'", rule.source);
  const HRESULT hr = DeleteDirectoryTree(path, true, true);
  if (FAILED(hr)) {
    LogError(u"ProcessDirectory: Failed to delete directory '%s'. (Error %d)", path, LowWord(hr));
    return S_FALSE;
  }
  LogDebug(u"ProcessDirectory: Deleted directory '%s'", rule.source);
  return hr;
}

HRESULT Apply(const std::u16string& archive_directory, const DirectoryRule& rule,
              RuleOutcome* found) {
  RebasedPath source;
  if (const HRESULT hr = RebaseAndReport(rule.source, archive_directory, kSourceMessages, &source);
      hr != S_OK) {
    return hr;
  }

  switch (FindAction(kDirectoryActions, rule.action)) {
    case DirectoryAction::kCopy:
      return TransferPath(archive_directory, rule.source, rule.destination, source.path, kCopy,
                          found);
    case DirectoryAction::kCreate:
      return CreateRuleDirectory(rule, source.path);
    case DirectoryAction::kDelete:
      return DeleteRuleDirectory(rule, source.path);
    case DirectoryAction::kMove:
      return TransferPath(archive_directory, rule.source, rule.destination, source.path, kMove,
                          found);
    case DirectoryAction::kUnknown:
      break;
  }
  LogError(u"ProcessDirectory: Unknown action '%s'", rule.action);
  return E_INVALIDARG;
}

}  // namespace

HRESULT ProcessDirectory(std::u16string archive_directory, const DirectoryRule& rule,
                         RuleOutcome* outcome) {
  RuleOutcome found = RuleOutcome::kActed;
  const HRESULT hr = Apply(archive_directory, rule, &found);
  TellOutcome(hr, found, outcome);
  return hr;
}

}  // namespace orvex
