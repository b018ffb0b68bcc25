// Windows only: the shell folders on shell32.
#include <cwchar>
#include <string>

#include "platform/shell_folders.h"
#include "platform/win32/windows_api.h"

namespace orvex::platform {

HRESULT SHGetFolderPath(int csidl, const void* token, std::uint32_t flags, std::u16string* path) {
  wchar_t buffer[MAX_PATH];
  const HRESULT hr = ::SHGetFolderPathW(nullptr, csidl, const_cast<HANDLE>(token), flags, buffer);
  if (FAILED(hr)) return hr;
  *path = win32::FromWide(buffer, std::wcslen(buffer));
  return S_OK;
}

// Windows has a live registry and profile of its own.
HRESULT GetProfileStore(std::u16string* /*store*/) { return E_NOTIMPL; }

}  // namespace orvex::platform
