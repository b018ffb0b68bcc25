#pragma once
// Windows only: what makes a DLL an in-process COM server. The DLL names the one class it serves;
// the platform layer gives it the exports COM looks for (DllGetClassObject, DllCanUnloadNow,
// DllRegisterServer, DllUnregisterServer) and the class factory behind them.

#include <cstdint>

#include "platform/com.h"

namespace orvex::platform {

/// The class a server DLL serves.
struct ServedClass {
  CLSID clsid;
  /// Makes a new object and returns the interface asked for (AddRef'ed).
  ClassFactoryFunction create;
  /// How many objects of the class are alive: the DLL may go only when none are.
  std::uint32_t (*live_objects)();
};

/// Defined once by the server DLL.
extern const ServedClass kServedClass;

}  // namespace orvex::platform
