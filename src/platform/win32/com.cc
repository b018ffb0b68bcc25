// Windows only: COM strings and objects on ole32 and oleaut32.
#include "platform/com.h"
#include "platform/win32/class_factory.h"

namespace orvex::platform {

BSTR SysAllocString(const char16_t* text) {
  return reinterpret_cast<BSTR>(::SysAllocString(reinterpret_cast<const OLECHAR*>(text)));
}

BSTR SysAllocStringLen(const char16_t* text, std::uint32_t length) {
  return reinterpret_cast<BSTR>(
      ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text), length));
}

void SysFreeString(BSTR string) { ::SysFreeString(reinterpret_cast<::BSTR>(string)); }

std::uint32_t SysStringLen(BSTR string) { return ::SysStringLen(reinterpret_cast<::BSTR>(string)); }

HRESULT CoInitializeEx(void* reserved, std::uint32_t coinit) {
  return ::CoInitializeEx(reserved, coinit);
}

void CoUninitialize() { ::CoUninitialize(); }

HRESULT CoRegisterClassFactory(const CLSID& clsid, ClassFactoryFunction create) {
  if (create == nullptr) return E_INVALIDARG;
  // Registered for the life of the process, the factory is never freed.
  auto* factory = new win32::ClassFactory(create);
  DWORD cookie = 0;
  return ::CoRegisterClassObject(win32::Native(clsid), factory, CLSCTX_INPROC_SERVER,
                                 REGCLS_MULTIPLEUSE, &cookie);
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t context, const IID& iid,
                         void** object) {
  // This layer's IUnknown has the layout of the system's: the same three slots in order.
  return ::CoCreateInstance(win32::Native(clsid), reinterpret_cast<::IUnknown*>(outer), context,
                            win32::Native(iid), object);
}

}  // namespace orvex::platform
