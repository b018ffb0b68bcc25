#include "migration/working_area.h"

#include <array>
#include <vector>

#include "common/path_text.h"
#include "paths/paths.h"
#include "platform/environment.h"
#include "platform/directory_tree.h"
#include "platform/files.h"
#include "text/format.h"
#include "transforms/files/file_system.h"

namespace orvex {
namespace {

// The pattern formatted with one number, cut at 1024 characters.
HRESULT FormatName(std::u16string_view pattern, std::uint32_t number, std::u16string* name) {
  std::array<char16_t, 1025> buffer;
  try {
    const FormatResult written = FormatTo(buffer, RuntimeFormat<std::uint32_t>(pattern), number);
    name->assign(buffer.data(), written.length);
  } catch (const ResultException& e) {
    return e.result();  // a pattern whose conversions do not take one number
  }
  return S_OK;
}

constexpr std::u16string_view kMarkName = u"run.lock";

std::u16string MarkOf(std::u16string_view directory) {
  std::u16string mark;
  (void)CombinePath(directory, kMarkName, &mark);
  return mark;
}

}  // namespace

HRESULT HoldWorkingDirectory(std::u16string_view path, platform::FileHandle* hold) {
  // A mark with nothing in it may be one its maker is about to lock: it is written to once held.
  constexpr char kContent = '1';
  std::uint32_t written = 0;
  std::uint32_t error = platform::CreateHeldFile(MarkOf(path), hold);
  if (error == ERROR_SUCCESS) error = platform::WriteFile(*hold, &kContent, 1, &written);
  return HResultFromWin32(error);
}

void RemoveHeldDirectory(std::u16string_view path, platform::FileHandle& hold) {
  const std::u16string mark = MarkOf(path);
  std::vector<platform::FindData> entries;
  (void)platform::ListDirectory(
      std::u16string(WithoutFinalSeparators(path)) + platform::PathSeparator() + u"*", &entries);
  for (const platform::FindData& entry : entries) {
    std::u16string child;
    (void)CombinePath(path, entry.name, &child);
    if (child == mark) continue;
    if ((entry.data.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0) {
      RemoveLargeTree(child);
    } else {
      (void)ForceDeleteFile(child);
    }
  }
  // Windows removes a file still open only once it is closed.
  (void)platform::DeleteFile(mark);
  platform::CloseHandle(hold);
  (void)platform::RemoveDirectory(path);
}

void KeepHeldDirectory(std::u16string_view path, platform::FileHandle& hold) {
  (void)platform::DeleteFile(MarkOf(path));
  platform::CloseHandle(hold);
}

void RemoveAbandonedDirectories(std::u16string_view own, std::u16string_view pattern) {
  const std::u16string_view own_name = WithoutFinalSeparators(own);
  const std::u16string base(ParentOf(own_name));
  const std::u16string_view prefix = pattern.substr(0, pattern.find(u'%'));
  std::vector<platform::FindData> found;
  (void)platform::ListDirectory(base + platform::PathSeparator() + std::u16string(prefix) + u"*",
                                &found);
  for (const platform::FindData& entry : found) {
    if ((entry.data.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
    std::u16string directory;
    (void)CombinePath(base, entry.name, &directory);
    if (directory == own_name) continue;
    platform::FileHandle hold;
    if (platform::TakeAbandonedFile(MarkOf(directory), &hold) == ERROR_SUCCESS) {
      RemoveHeldDirectory(directory, hold);
    }
  }
}

HRESULT CreateUniqueDirectory(std::u16string_view base_directory, std::u16string_view pattern,
                              std::uint32_t max_tries, std::u16string* path) {
  if (pattern.empty() || max_tries == 0) return E_INVALIDARG;
  std::u16string base(base_directory);
  if (base.empty()) {
    if (const std::uint32_t error = platform::GetTempPath(&base)) return HResultFromWin32(error);
  }
  HRESULT result = S_OK;
  std::u16string candidate;
  bool base_created = false;
  for (std::uint32_t n = 1; n <= max_tries; ++n) {
    std::u16string name;
    RETURN_IF_FAILED(FormatName(pattern, n, &name));
    RETURN_IF_FAILED(CombinePath(base, name, &candidate));
    const std::uint32_t error = platform::CreateDirectory(candidate);
    result = HResultFromWin32(error);
    if (error == ERROR_ALREADY_EXISTS) continue;
    if (error == ERROR_PATH_NOT_FOUND && !base_created) {
      // Make the base, then claim the number by creating it ourselves: a directory that another
      // run made in the meantime must not be taken as ours.
      RETURN_IF_FAILED(CreateDirectoryPath(base));
      base_created = true;
      --n;
      continue;
    }
    break;
  }
  RETURN_IF_FAILED(result);
  if (!EndsInSeparator(candidate)) candidate += platform::PathSeparator();
  *path = std::move(candidate);
  return S_OK;
}

HRESULT FormArchiveDirectory(std::u16string_view working_directory, std::u16string_view input_path,
                             std::u16string* archive_directory) {
  return CombinePath(working_directory, input_path.substr(FindFileName(input_path)),
                     archive_directory);
}

std::u16string FormEngineLogFile(std::u16string_view archive_directory) {
  std::u16string log_file(archive_directory.substr(0, FindExtension(archive_directory)));
  log_file += u".log";
  return log_file;
}

}  // namespace orvex
