// Ownership of registry keys, the same on every platform.
#include "platform/registry.h"

namespace orvex::platform {

RegistryKey::~RegistryKey() { RegCloseKey(*this); }

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    RegCloseKey(*this);
    native_ = other.release();
  }
  return *this;
}

}  // namespace orvex::platform
