#include "paths/file_finder.h"

#include "common/path_text.h"
#include "paths/paths.h"
#include "platform/environment.h"
#include "platform/files.h"

namespace orvex {

bool FileFinder::FindFirst(std::u16string_view pattern) {
  Close();
  const std::u16string wanted(pattern.empty() ? u"*.*" : pattern);
  if (platform::FindFirstFile(wanted, &search_, &current_) != ERROR_SUCCESS) return false;
  std::u16string resolved = wanted;
  std::size_t file_name_position = 0;
  if (FAILED(ResolveFullPath(&resolved, {}, &file_name_position))) {
    Close();
    return false;
  }
  root_ = resolved.substr(0, file_name_position);
  return true;
}

bool FileFinder::FindNext() {
  if (!search_.valid()) return false;
  return platform::FindNextFile(search_, &current_) == ERROR_SUCCESS;
}

std::u16string FileFinder::FullPath() const {
  std::u16string full = root_;
  if (!EndsInSeparator(full)) full += platform::PathSeparator();
  full += current_.name;
  return full;
}

bool FileFinder::IsDirectory() const {
  return (current_.data.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void FileFinder::Close() { platform::FindClose(search_); }

}  // namespace orvex
