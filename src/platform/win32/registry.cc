// Windows only: the live registry on advapi32.
#include "platform/registry.h"
#include <cstring>
#include <vector>

#include "platform/win32/windows_api.h"

// The calls this layer is named after, not their Unicode forms.
#undef RegCreateKeyEx
#undef RegOpenKeyEx
#undef RegSetValueEx
#undef RegQueryValueEx
#undef RegDeleteTree

namespace orvex::platform {
namespace {

::HKEY Predefined(RegistryRoot root) {
  return root == RegistryRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

::HKEY Native(const RegistryKey& key) { return reinterpret_cast<::HKEY>(key.native()); }

bool IsStringType(std::uint32_t type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

}  // namespace

bool HasRegistry() { return true; }

std::uint32_t RegCreateKeyEx(RegistryRoot root, std::u16string_view subkey, std::uint32_t access,
                             RegistryKey* key) {
  RegCloseKey(*key);
  const std::u16string name(subkey);
  ::HKEY opened = nullptr;
  const LSTATUS status =
      ::RegCreateKeyExW(Predefined(root), win32::Wide(name), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        access, nullptr, &opened, nullptr);
  if (status != ERROR_SUCCESS) return static_cast<std::uint32_t>(status);
  *key = RegistryKey(reinterpret_cast<std::uintptr_t>(opened));
  return ERROR_SUCCESS;
}

std::uint32_t RegOpenKeyEx(RegistryRoot root, std::u16string_view subkey, std::uint32_t access,
                           RegistryKey* key) {
  RegCloseKey(*key);
  const std::u16string name(subkey);
  ::HKEY opened = nullptr;
  const LSTATUS status = ::RegOpenKeyExW(Predefined(root), win32::Wide(name), 0, access, &opened);
  if (status != ERROR_SUCCESS) return static_cast<std::uint32_t>(status);
  *key = RegistryKey(reinterpret_cast<std::uintptr_t>(opened));
  return ERROR_SUCCESS;
}

std::uint32_t RegSetValueEx(RegistryKey& key, std::u16string_view name, std::uint32_t type,
                            std::span<const std::uint8_t> data) {
  const std::u16string value_name(name);
  if (!IsStringType(type) || data.empty()) {
    return static_cast<std::uint32_t>(::RegSetValueExW(Native(key), win32::Wide(value_name), 0,
                                                       type, data.data(),
                                                       static_cast<DWORD>(data.size())));
  }
  // For string types the call looks at the code unit before the data's end and at the one after
  // it, and counts one more when the text lacks its NUL and the next unit happens to be one. A
  // copy with a unit of room in front and a non-NUL unit behind keeps both reads inside memory
  // of ours and the stored bytes exactly those given.
  std::vector<std::uint8_t> guarded(data.size() + 4, 0xFF);
  std::memcpy(guarded.data() + 2, data.data(), data.size());
  return static_cast<std::uint32_t>(::RegSetValueExW(Native(key), win32::Wide(value_name), 0, type,
                                                     guarded.data() + 2,
                                                     static_cast<DWORD>(data.size())));
}

std::uint32_t RegQueryValueEx(RegistryKey& key, std::u16string_view name, std::uint32_t* type,
                              std::vector<std::uint8_t>* data) {
  const std::u16string value_name(name);
  for (;;) {
    DWORD size = static_cast<DWORD>(data->size());
    DWORD found = 0;
    const LSTATUS status = ::RegQueryValueExW(Native(key), win32::Wide(value_name), nullptr, &found,
                                              data->empty() ? nullptr : data->data(), &size);
    // Without a buffer the call answers the size; a value that grew meanwhile asks again.
    if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && data->empty() && size > 0)) {
      data->resize(size);
      continue;
    }
    if (status != ERROR_SUCCESS) return static_cast<std::uint32_t>(status);
    data->resize(size);
    *type = found;
    return ERROR_SUCCESS;
  }
}

std::uint32_t RegDeleteTree(RegistryRoot root, std::u16string_view subkey) {
  // The call given no subkey empties the root itself: never meant here.
  if (subkey.empty()) return ERROR_INVALID_PARAMETER;
  const std::u16string name(subkey);
  return static_cast<std::uint32_t>(::RegDeleteTreeW(Predefined(root), win32::Wide(name)));
}

void RegCloseKey(RegistryKey& key) {
  if (key.valid()) ::RegCloseKey(reinterpret_cast<::HKEY>(key.release()));
}

}  // namespace orvex::platform
