// Linux only: COM strings, the process's own class registry, and the COM start-up calls, which
// have nothing to do here.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "common/result.h"
#include "platform/com.h"

namespace orvex::platform {
namespace {

std::uint32_t* Prefix(BSTR string) {
  return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(string) - sizeof(std::uint32_t));
}

// Allocates room for `length` characters and the NUL, with the prefix filled in.
BSTR Allocate(std::uint64_t length) {
  if (length > kMaxBstrLength) return nullptr;
  void* block = std::malloc(sizeof(std::uint32_t) + (length + 1) * sizeof(char16_t));
  if (block == nullptr) return nullptr;
  *static_cast<std::uint32_t*>(block) = static_cast<std::uint32_t>(length * sizeof(char16_t));
  BSTR string = reinterpret_cast<BSTR>(static_cast<char*>(block) + sizeof(std::uint32_t));
  string[length] = u'\0';
  return string;
}

struct Registration {
  CLSID clsid;
  ClassFactoryFunction create;
};

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<Registration>& Registry() {
  static std::vector<Registration> registry;
  return registry;
}

}  // namespace

BSTR SysAllocString(const char16_t* text) {
  if (text == nullptr) return nullptr;
  return SysAllocStringLen(text, static_cast<std::uint32_t>(std::u16string_view(text).size()));
}

BSTR SysAllocStringLen(const char16_t* text, std::uint32_t length) {
  BSTR string = Allocate(length);
  if (string == nullptr) return nullptr;
  if (text != nullptr) {
    std::memcpy(string, text, length * sizeof(char16_t));
  } else {
    std::memset(string, 0, length * sizeof(char16_t));
  }
  return string;
}

void SysFreeString(BSTR string) {
  if (string != nullptr) std::free(Prefix(string));
}

std::uint32_t SysStringLen(BSTR string) {
  return string == nullptr ? 0 : *Prefix(string) / sizeof(char16_t);
}

HRESULT CoInitializeEx(void* /*reserved*/, std::uint32_t /*coinit*/) { return S_OK; }

void CoUninitialize() {}

HRESULT CoRegisterClassFactory(const CLSID& clsid, ClassFactoryFunction create) {
  if (create == nullptr) return E_INVALIDARG;
  const std::lock_guard lock(RegistryMutex());
  for (Registration& registration : Registry()) {
    if (registration.clsid == clsid) {
      registration.create = create;
      return S_OK;
    }
  }
  Registry().push_back({clsid, create});
  return S_OK;
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t context, const IID& iid,
                         void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  // Every class here lives in the process itself.
  if ((context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) == 0) return REGDB_E_CLASSNOTREG;
  ClassFactoryFunction create = nullptr;
  {
    const std::lock_guard lock(RegistryMutex());
    for (const Registration& registration : Registry()) {
      if (registration.clsid == clsid) create = registration.create;
    }
  }
  if (create == nullptr) return REGDB_E_CLASSNOTREG;
  return create(iid, object);
}

}  // namespace orvex::platform
