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

HRESULT Apply(const std::u16string& archive_directory, const DirectoryRule& rule,
              RuleOutcome* found) {
  RebasedPath source;
  if (const HRESULT hr = RebaseAndReport(rule.source, archive_directory, kSourceMessages, &source);
      hr != S_OK) {
    return hr;
  }

  const auto action = FindAction<DirectoryAction>(kDirectoryActions, rule.action);
  if (action == DirectoryAction::kCopy) {
    return TransferPath(archive_directory, rule.source, rule.destination, source.path, kCopy,
                        found);
  }
  if (action == DirectoryAction::kCreate) {
    LogDebug(u"ProcessDirectory: Creating directory '%s'", rule.source);
    const HRESULT hr = CreateDirectoryPath(source.path);
    if (FAILED(hr)) {
      LogError(u"ProcessDirectory: Failed to create directory '%s'. (Error %d)", source.path,
               LowWord(hr));
      return S_FALSE;
    }
    LogDebug(u"ProcessDirectory: Created directory '%s'", rule.source);
    return hr;
  }
  if (action == DirectoryAction::kDelete) {
    LogDebug(u"ProcessDirectory: Deleting directory '%s'", rule.source);
    const HRESULT hr = DeleteDirectoryTree(source.path, true, true);
    if (FAILED(hr)) {
      LogError(u"ProcessDirectory: Failed to delete directory '%s'. (Error %d)", source.path,
               LowWord(hr));
      return S_FALSE;
    }
    LogDebug(u"ProcessDirectory: Deleted directory '%s'", rule.source);
    return hr;
  }
  if (action == DirectoryAction::kMove) {
    return TransferPath(archive_directory, rule.source, rule.destination, source.path, kMove,
                        found);
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
