#include "migration/rule_passes.h"

#include <string>

#include "common/path_text.h"
#include "logging/logger.h"
#include "paths/folder_tokens.h"
#include "paths/paths.h"
#include "platform/files.h"
#include "platform/process.h"
#include "regfile/key_order.h"
#include "regfile/reg_files.h"
#include "regfile/reg_reader.h"
#include "regfile/reg_writer.h"
#include "regfile/registry_document.h"
#include "transforms/files/directory_rules.h"
#include "transforms/files/file_rules.h"
#include "transforms/registry/key_rules.h"
#include "transforms/registry/value_rules.h"

namespace orvex {
namespace {

// Archives made from Windows profiles may store a .reg file read-only. The pass rewrites it all
// the same and gives the attribute back, so that the output archive says what the input said.
HRESULT ExportKeepingAttributes(const RegistryDocument& document, const std::u16string& path) {
  std::uint32_t attributes = 0;
  const bool read_only = platform::GetFileAttributes(path, &attributes) == ERROR_SUCCESS &&
                         (attributes & platform::FILE_ATTRIBUTE_READONLY) != 0;
  if (!read_only) return ExportRegFile(document, path);
  const std::uint32_t writable = attributes & ~platform::FILE_ATTRIBUTE_READONLY;
  if (const std::uint32_t error = platform::SetFileAttributes(
          path, writable != 0 ? writable : platform::FILE_ATTRIBUTE_NORMAL)) {
    return HResultFromWin32(error);
  }
  const HRESULT exported = ExportRegFile(document, path);
  const std::uint32_t restored = platform::SetFileAttributes(path, attributes);
  if (FAILED(exported)) return exported;
  return restored == ERROR_SUCCESS ? exported : HResultFromWin32(restored);
}

HRESULT MigrateRegFile(const std::u16string& path, const MigrationRules& rules,
                       RuleObserver* observer) {
  LogDebug(u"Found .REG file '%s'", path);
  RegistryDocument document;
  HRESULT hr = ParseRegFile(document, path);
  if (FAILED(hr)) {
    LogFatal(u"Failed to parse .REG file '%s'. (Error %d)", path, LowWord(hr));
    return hr;
  }
  LogDebug(u"Parsed .REG file '%s' successfully", path);
  for (std::int32_t i = 0; i < rules.Count(); ++i) {
    if (platform::StopRequested()) return kStoppedOnRequest;
    const MigrationRule& rule = rules.At(i);
    if (rule.kind != RuleKind::Key && rule.kind != RuleKind::Value) continue;
    RuleOutcome outcome = RuleOutcome::kActed;
    hr = rule.kind == RuleKind::Key ? ProcessRegistryKey(document, rule.key, &outcome)
                                    : ProcessRegistryValue(document, rule.value, &outcome);
    if (observer != nullptr) observer->RegistryRuleApplied(i, outcome, document);
    RETURN_IF_FAILED(hr);
  }
  LogDebug(u"Transformed .REG file '%s' successfully", path);
  SortKeys(document);
  PlaceImportMarkers(document);
  hr = ExportKeepingAttributes(document, path);
  if (FAILED(hr)) {
    LogFatal(u"Failed to export .REG file '%s'. (Error %d)", path, LowWord(hr));
    return hr;
  }
  LogDebug(u"Exported .REG file '%s' successfully", path);
  LogInfo(u"Migrated .REG file '%s' successfully", path);
  return S_OK;
}

}  // namespace

HRESULT RunRegistryFilePass(std::u16string_view archive_directory, const MigrationRules& rules,
                            RuleObserver* observer) {
  std::u16string registry_directory;
  HRESULT hr = CombinePath(archive_directory, kRegistryFolderName, &registry_directory);
  if (FAILED(hr)) {
    LogFatal(u"Failed to build registry directory path. (Error %d)", LowWord(hr));
    return hr;
  }
  LogDebug(u"Looking for .REG files to migrate in '%s'", registry_directory);

  bool visited = false;  // whether a failure is a file's, logged where it happened
  hr = ForEachRegFile(archive_directory, [&](const RegFile& file) {
    visited = true;
    if (platform::StopRequested()) return kStoppedOnRequest;
    return MigrateRegFile(std::u16string(file.path), rules, observer);
  });
  if (FAILED(hr)) {
    if (!visited) LogFatal(u"Failed to build .REG file(s) path. (Error %d)", LowWord(hr));
    return hr;
  }
  LogDebug(u"Finished migrating .REG files in '%s'", registry_directory);
  return S_OK;
}

bool PathsThePassesTouch(std::u16string_view directory_path, const MigrationRules& rules,
                         std::vector<std::u16string>* paths) {
  const std::u16string_view base = WithoutFinalSeparators(directory_path);
  paths->assign(1, std::u16string(kRegistryFolderName));
  for (std::int32_t i = 0; i < rules.Count(); ++i) {
    const MigrationRule& rule = rules.At(i);
    if (rule.kind != RuleKind::Directory && rule.kind != RuleKind::File) continue;
    const bool directory = rule.kind == RuleKind::Directory;
    for (const std::u16string* rule_path :
         {directory ? &rule.directory.source : &rule.file.source,
          directory ? &rule.directory.destination : &rule.file.destination}) {
      const RebasedPath rebased = RebaseRulePath(*rule_path, directory_path);
      if (rebased.outcome != RebaseOutcome::kRebased) continue;
      if (!rebased.path.starts_with(base) || rebased.path.size() <= base.size() ||
          !IsSeparator(rebased.path[base.size()])) {
        return false;
      }
      paths->push_back(rebased.path.substr(base.size() + 1));
    }
  }
  return true;
}

HRESULT RunFilePass(std::u16string_view archive_directory, const MigrationRules& rules,
                    RuleObserver* observer) {
  const std::u16string archive(archive_directory);
  LogDebug(u"Looking for files and directories to migrate in '%s'", archive);
  // Only the rules change the working area meanwhile, so the letter-case lookups of new names
  // may keep what they read: rules that create many names in one folder stay linear.
  const platform::NameCacheScope keep_listings;
  for (std::int32_t i = 0; i < rules.Count(); ++i) {
    if (platform::StopRequested()) return kStoppedOnRequest;
    const MigrationRule& rule = rules.At(i);
    if (rule.kind != RuleKind::Directory && rule.kind != RuleKind::File) continue;
    RuleOutcome outcome = RuleOutcome::kActed;
    const HRESULT hr = rule.kind == RuleKind::Directory
                           ? ProcessDirectory(archive, rule.directory, &outcome)
                           : ProcessFile(archive, rule.file, &outcome);
    if (observer != nullptr) observer->FileRuleApplied(i, outcome);
    RETURN_IF_FAILED(hr);
  }
  LogDebug(u"Finished migrating files and directories in '%s'", archive);
  return S_OK;
}

}  // namespace orvex
