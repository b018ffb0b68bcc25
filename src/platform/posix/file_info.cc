// Linux only: lstat's answer in the terms of the Win32 attribute word.
#include "platform/posix/file_info.h"

#include <cerrno>

#include "common/result.h"
#include "platform/files.h"
#include "platform/posix/errors.h"
#include "platform/posix/native_path.h"

namespace orvex::platform::posix {

bool IsReadOnly(const struct stat& st) {
  // A link has no permissions of its own.
  return !S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

std::uint32_t AttributesOf(std::string_view native, const struct stat& st) {
  std::uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (IsReadOnly(st)) attributes |= FILE_ATTRIBUTE_READONLY;
  std::string_view name = WithoutFinalSlashes(native);
  name.remove_prefix(name.find_last_of('/') + 1);  // npos + 1 == 0
  if (name.starts_with('.') && name != "." && name != "..") attributes |= FILE_ATTRIBUTE_HIDDEN;
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

std::uint32_t Stat(std::u16string_view path, std::string* native, struct stat* st) {
  return ToNativePath(path, native, nullptr, st);
}

}  // namespace orvex::platform::posix
