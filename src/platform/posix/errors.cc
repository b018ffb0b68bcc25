// Linux only: errno values translated into the Win32 numbers Windows would give.
#include "platform/posix/errors.h"

#include <sys/stat.h>

#include <cerrno>

#include "common/result.h"

namespace orvex::platform::posix {

std::uint32_t Win32ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case EIO:
      return ERROR_IO_DEVICE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_GEN_FAILURE;
  }
}

std::uint32_t Win32ErrorForPath(int error, const std::string& native_path) {
  if (error != ENOENT) return Win32ErrorFromErrno(error);
  std::string parent = native_path;
  while (!parent.empty() && parent.back() == '/') parent.pop_back();
  const std::size_t slash = parent.find_last_of('/');
  parent = slash == std::string::npos ? "." : parent.substr(0, slash == 0 ? 1 : slash);
  struct stat st;
  const bool parent_is_directory = ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  return parent_is_directory ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

}  // namespace orvex::platform::posix
