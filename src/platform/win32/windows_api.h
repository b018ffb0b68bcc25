#pragma once
// Windows only: the Windows headers, included after the system's own declarations so that the
// constants those declare keep their values, with the macros removed that would rename this
// layer's functions into the Windows ones they stand for. Every service header of the layer comes
// first: the Windows headers would turn the names it declares into macros.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/com.h"
#include "platform/environment.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/images.h"
#include "platform/memory.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/search.h"
#include "platform/shell_folders.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "platform/xml_reader.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>
#include <shlwapi.h>

#undef CopyFile
#undef CreateDirectory
#undef CreateHardLink
#undef CreateFile
#undef DeleteFile
#undef FAILED
#undef ExpandEnvironmentStrings
#undef FindFirstFile
#undef FindNextFile
#undef GetCommandLine
#undef GetCurrentDirectory
#undef GetEnvironmentVariable
#undef GetFileAttributes
#undef GetFileAttributesEx
#undef GetFullPathName
#undef GetModuleFileName
#undef GetTempPath
#undef MoveFileEx
#undef RemoveDirectory
#undef SetCurrentDirectory
#undef SetEnvironmentVariable
#undef SetFileAttributes
#undef SUCCEEDED
#undef SHCreateStreamOnFile
#undef SHGetFolderPath
#undef WriteConsole

namespace orvex::platform::win32 {

/// UTF-16 text as the Windows calls take it (wchar_t is UTF-16 on Windows).
inline const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline std::u16string FromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

/// The identifiers of this layer are laid out as the Windows ones.
inline const ::GUID& Native(const GUID& guid) { return reinterpret_cast<const ::GUID&>(guid); }

/// The Win32 error of a call that reports failure as FALSE: ERROR_SUCCESS when it succeeded.
inline std::uint32_t LastError(BOOL succeeded) {
  return succeeded ? ERROR_SUCCESS : ::GetLastError();
}

/// FILETIME counts 100 ns steps since 1601; the system's times are seconds since 1970.
constexpr std::int64_t kFileTimeOf1970 = 116444736000000000;
constexpr std::int64_t kFileTimeTicksPerSecond = 10000000;

/// Seconds since 1970 as a FILETIME.
inline FILETIME FileTimeFromSeconds(std::int64_t seconds) {
  const std::uint64_t ticks =
      static_cast<std::uint64_t>(seconds * kFileTimeTicksPerSecond + kFileTimeOf1970);
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

/// A FILETIME as seconds since 1970, rounded down.
inline std::int64_t SecondsFromFileTime(const FILETIME& time) {
  const std::int64_t ticks =
      static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
  const std::int64_t since_1970 = ticks - kFileTimeOf1970;
  return since_1970 >= 0 ? since_1970 / kFileTimeTicksPerSecond
                         : -((-since_1970 + kFileTimeTicksPerSecond - 1) / kFileTimeTicksPerSecond);
}

/// The handle a FileHandle owns.
inline HANDLE NativeHandle(const FileHandle& file) {
  return reinterpret_cast<HANDLE>(file.native());
}

}  // namespace orvex::platform::win32
