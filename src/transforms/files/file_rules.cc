#include "transforms/files/file_rules.h"

#include <new>
#include <vector>

#include "logging/logger.h"
#include "platform/file_handles.h"
#include "platform/text.h"
#include "text/base64.h"
#include "transforms/files/file_system.h"
#include "transforms/files/image_conversion.h"
#include "transforms/files/transfer.h"

namespace orvex {
namespace {

constexpr RebaseMessages kSourceMessages = {
    u"ProcessFile: Invalid source file '%s'",
    u"ProcessFile: Failed to rebase '%s' to '%s'. (Error %d)",
    u"ProcessFile: Invalid source file '%s' (%s)"};
constexpr RebaseMessages kDestinationMessages = {
    u"ProcessFile: Invalid destination file '%s'",
    u"ProcessFile: Failed to rebase '%s' to '%s'. (Error %d)",
    u"ProcessFile: Invalid destination file '%s' (%s)"};

constexpr TransferAction kCopy = {u"ProcessFile: Copying file '%s' to '%s'",
                                  u"ProcessFile: Failed to copy file '%s' to '%s'. (Error %d)",
                                  u"ProcessFile: Copied file '%s' to '%s'",
                                  u"ProcessFile: Failed to check if file '%s' exists. (Error %d)",
                                  kDestinationMessages,
                                  FileExists,
                                  ERROR_FILE_NOT_FOUND,
                                  ERROR_ACCESS_DENIED,
                                  false};
constexpr TransferAction kMove = {u"ProcessFile: Moving file '%s' to '%s'",
                                  u"ProcessFile: Failed to move file '%s' to '%s'. (Error %d)",
                                  u"ProcessFile: Moved file '%s' to '%s'",
                                  u"ProcessFile: Failed to check if file '%s' exists. (Error %d)",
                                  kDestinationMessages,
                                  FileExists,
                                  ERROR_FILE_NOT_FOUND,
                                  ERROR_ACCESS_DENIED,
                                  true};

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
  while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
  return text;
}

HRESULT ConvertFile(const std::u16string& archive_directory, const FileRule& rule,
                    const std::u16string& source) {
  LogDebug(u"ProcessFile: Converting file '%s' to '%s'", rule.source, rule.destination);
  RebasedPath destination;
  HRESULT hr =
      RebaseAndReport(rule.destination, archive_directory, kDestinationMessages, &destination);
  if (hr != S_OK) return hr;
  hr = ConvertImage(source, destination.path);
  if (FAILED(hr)) {
    LogError(u"ProcessFile: Failed to convert '%s' to '%s'. (Error %d)", source, destination.path,
             LowWord(hr));
    return S_FALSE;
  }
  LogDebug(u"ProcessFile: Converted file '%s' to '%s'", rule.source, rule.destination);
  return hr;
}

// Every failure here stops the run: a file the rules meant to create must not be left out.
HRESULT CreateFileFromContent(const FileRule& rule, const RebasedPath& source) {
  LogDebug(u"ProcessFile: Creating file '%s'", rule.source);
  const std::u16string parent = source.path.substr(0, source.file_name_position);
  HRESULT hr = CreateDirectoryPath(parent);
  if (FAILED(hr)) {
    LogError(u"ProcessFile: Failed to create directory '%s'. (Error %d)", parent, LowWord(hr));
    return hr;
  }
  platform::FileHandle file;
  if (const std::uint32_t error = platform::CreateFile(source.path, platform::GENERIC_WRITE,
                                                       platform::CREATE_ALWAYS, &file)) {
    hr = HResultFromWin32(error);
    LogError(u"ProcessFile: Failed to create file '%s'. (Error %d)", source.path, LowWord(hr));
    return hr;
  }

  const std::u16string_view content = Trim(rule.content);
  if (content.empty()) {
    LogDebug(u"ProcessFile: Created empty file '%s'", rule.source);
    return S_OK;
  }
  std::vector<std::uint8_t> bytes;
  Base64Step failed = Base64Step::kMeasure;
  if (const std::uint32_t answer = DecodeBase64Text(content, &bytes, &failed)) {
    static constexpr std::u16string_view kMessages[] = {
        u"ProcessFile: Failed to get length of decoded file '%s' content. (Error %d)",
        u"ProcessFile: Failed to allocate memory for decoded file '%s' content. (Error %d)",
        u"ProcessFile: Failed to decode file '%s' content. (Error %d)",
    };
    LogError(RuntimeFormat<std::u16string, std::int32_t>(kMessages[static_cast<int>(failed)]),
             rule.source, static_cast<std::int32_t>(answer));
    return HResultFromWin32(answer);
  }

  std::uint32_t written = 0;
  if (const std::uint32_t error = platform::WriteFile(
          file, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written)) {
    hr = HResultFromWin32(error);
    LogError(u"ProcessFile: Failed to write to file '%s'. (Error %d)", source.path, LowWord(hr));
    return hr;
  }
  // Not flushed: the working area lives only until packing, and the output archive is flushed
  // before it takes its name.
  std::uint64_t file_size = 0;
  if (const std::uint32_t error = platform::GetFileSize(file, &file_size)) {
    hr = HResultFromWin32(error);
    LogError(u"ProcessFile: Failed to get file '%s' size. (Error %d)", source.path, LowWord(hr));
    return hr;
  }
  LogDebug(u"ProcessFile: Created file '%s', %lld bytes long", rule.source,
           static_cast<std::int64_t>(file_size));
  return S_OK;
}

HRESULT DeleteRuleFile(const FileRule& rule, const std::u16string& source) {
  LogDebug(u"ProcessFile: Deleting file '%s'", rule.source);
  const HRESULT hr = ForceDeleteFile(source);
  if (FAILED(hr)) {
    LogError(u"ProcessFile: Failed to delete file '%s'. (Error %d)", source, LowWord(hr));
    return S_FALSE;
  }
  LogDebug(u"ProcessFile: Deleted file '%s'", rule.source);
  return hr;
}

HRESULT Apply(const std::u16string& archive_directory, const FileRule& rule, RuleOutcome* found) {
  RebasedPath source;
  if (const HRESULT hr = RebaseAndReport(rule.source, archive_directory, kSourceMessages, &source);
      hr != S_OK) {
    return hr;
  }

  switch (FindAction(kFileActions, rule.action)) {
    case FileAction::kConvert:
      return ConvertFile(archive_directory, rule, source.path);
    case FileAction::kCopy:
      return TransferPath(archive_directory, rule.source, rule.destination, source.path, kCopy,
                          found);
    case FileAction::kCreate:
      return CreateFileFromContent(rule, source);
    case FileAction::kDelete:
      return DeleteRuleFile(rule, source.path);
    case FileAction::kMove:
      return TransferPath(archive_directory, rule.source, rule.destination, source.path, kMove,
                          found);
    case FileAction::kUnknown:
      break;
  }
  LogError(u"ProcessFile: Unknown action '%s'", rule.action);
  return E_INVALIDARG;
}

}  // namespace

HRESULT ProcessFile(std::u16string archive_directory, const FileRule& rule, RuleOutcome* outcome) {
  RuleOutcome found = RuleOutcome::kActed;
  const HRESULT hr = Apply(archive_directory, rule, &found);
  TellOutcome(hr, found, outcome);
  return hr;
}

}  // namespace orvex
