// Linux only: there is no registry; a user's registry settings are kept as .reg files.
#include "platform/registry.h"

namespace orvex::platform {

bool HasRegistry() { return false; }

std::uint32_t RegCreateKeyEx(RegistryRoot, std::u16string_view, std::uint32_t, RegistryKey*) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}

std::uint32_t RegOpenKeyEx(RegistryRoot, std::u16string_view, std::uint32_t, RegistryKey*) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}

std::uint32_t RegSetValueEx(RegistryKey&, std::u16string_view, std::uint32_t,
                            std::span<const std::uint8_t>) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}

std::uint32_t RegQueryValueEx(RegistryKey&, std::u16string_view, std::uint32_t*,
                              std::vector<std::uint8_t>*) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}

std::uint32_t RegDeleteTree(RegistryRoot, std::u16string_view) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}

void RegCloseKey(RegistryKey& key) { key.release(); }

}  // namespace orvex::platform
