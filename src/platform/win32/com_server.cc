// Windows only: the exports and the class factory of an in-process COM server DLL, and its
// registration for the current user (HKCU\Software\Classes, no administrator rights needed).
#include "platform/com_server.h"

#include <string>

#include "platform/win32/class_factory.h"

// After the system's own declarations, as windows_api.h explains.
#include <olectl.h>

namespace orvex::platform {
namespace {

HMODULE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

win32::ClassFactory factory(kServedClass.create);

// HKCU\Software\Classes\CLSID\{...}
std::wstring ClassKey() {
  wchar_t clsid[40] = {};
  ::StringFromGUID2(win32::Native(kServedClass.clsid), clsid, 40);
  return std::wstring(L"Software\\Classes\\CLSID\\") + clsid;
}

}  // namespace
}  // namespace orvex::platform

using orvex::platform::factory;
using orvex::platform::kServedClass;

extern "C" {

::HRESULT STDAPICALLTYPE DllGetClassObject(const ::CLSID& clsid, const ::IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != orvex::platform::win32::Native(kServedClass.clsid)) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return factory.QueryInterface(iid, object);
}

::HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return !factory.Locked() && kServedClass.live_objects() == 0 ? S_OK : S_FALSE;
}

::HRESULT STDAPICALLTYPE DllRegisterServer() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(orvex::platform::ThisModule(), path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return SELFREG_E_CLASS;
  const std::wstring key = orvex::platform::ClassKey() + L"\\InprocServer32";
  const wchar_t apartment[] = L"Apartment";
  if (::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), nullptr, REG_SZ, path,
                        (length + 1) * sizeof(wchar_t)) != ERROR_SUCCESS ||
      ::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"ThreadingModel", REG_SZ, apartment,
                        sizeof(apartment)) != ERROR_SUCCESS) {
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

::HRESULT STDAPICALLTYPE DllUnregisterServer() {
  const LSTATUS status = ::RegDeleteTreeW(HKEY_CURRENT_USER, orvex::platform::ClassKey().c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}

}  // extern "C"
