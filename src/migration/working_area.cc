#include "migration/working_area.h"

#include <array>

#include "common/path_text.h"
#include "paths/paths.h"
#include "platform/environment.h"
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

}  // namespace

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
