#pragma once
// Windows only: a class factory over the function that makes a class's objects.

#include <atomic>

#include "platform/win32/windows_api.h"

namespace orvex::platform::win32 {

// COM interfaces have no virtual destructor: their objects go with their last Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

/// Lives as long as whatever serves the class; its references and LockServer calls only count,
/// as locks on the server.
class ClassFactory final : public ::IClassFactory {
 public:
  explicit ClassFactory(ClassFactoryFunction create) : create_(create) {}

  ::HRESULT STDMETHODCALLTYPE QueryInterface(const ::IID& iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == ::IID_IUnknown || iid == ::IID_IClassFactory) {
      *object = static_cast<::IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++locks_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--locks_); }

  ::HRESULT STDMETHODCALLTYPE CreateInstance(::IUnknown* outer, const ::IID& iid,
                                             void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return create_(reinterpret_cast<const IID&>(iid), object);
  }
  ::HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++locks_;
    } else {
      --locks_;
    }
    return S_OK;
  }

  /// Whether anything holds the factory or has locked the server.
  bool Locked() const { return locks_ != 0; }

 private:
  ClassFactoryFunction create_;
  std::atomic<long> locks_{0};
};

#pragma GCC diagnostic pop

}  // namespace orvex::platform::win32
