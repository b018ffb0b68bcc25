#pragma once
// Linux only: the one translation of errno values into the Win32 numbers Windows would give.

#include <cstdint>
#include <string>

namespace orvex::platform::posix {

/// The Win32 error number for an errno value, before any call-specific refinement.
std::uint32_t Win32ErrorFromErrno(int error);

/// The Win32 error number for a failed call on `native_path`: ENOENT becomes
/// ERROR_PATH_NOT_FOUND when the parent directory is missing too, as on Windows.
std::uint32_t Win32ErrorForPath(int error, const std::string& native_path);

}  // namespace orvex::platform::posix
