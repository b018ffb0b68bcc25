#pragma once
// The live registry of the current user and of the machine. Where there is none (Linux), a
// user's registry settings are kept as .reg files instead, and every call below answers
// ERROR_CALL_NOT_IMPLEMENTED.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace orvex::platform {

/// What Windows answers for a service it does not have.
constexpr std::uint32_t ERROR_CALL_NOT_IMPLEMENTED = 120;

/// Whether there is a live registry that the calls below read and write.
bool HasRegistry();

/// The predefined keys that key paths start from.
enum class RegistryRoot { kCurrentUser, kLocalMachine };

constexpr std::uint32_t KEY_QUERY_VALUE = 0x1;
constexpr std::uint32_t KEY_SET_VALUE = 0x2;
constexpr std::uint32_t KEY_CREATE_SUB_KEY = 0x4;
constexpr std::uint32_t KEY_READ = 0x20019;
constexpr std::uint32_t KEY_WRITE = 0x20006;

/// An open registry key; closed when it goes away or by RegCloseKey.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept : native_(other.release()) {}
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  /// Takes ownership of an operating-system handle (the platform implementation's business).
  explicit RegistryKey(std::uintptr_t native) : native_(native) {}
  bool valid() const { return native_ != 0; }
  std::uintptr_t native() const { return native_; }
  /// Gives up ownership without closing.
  std::uintptr_t release() {
    const std::uintptr_t native = native_;
    native_ = 0;
    return native;
  }

 private:
  std::uintptr_t native_ = 0;
};

/// RegCreateKeyExW: opens `subkey` of `root` (backslash-separated; empty for the root itself)
/// with `access`, creating it and every missing key above it (non-volatile, default security).
std::uint32_t RegCreateKeyEx(RegistryRoot root, std::u16string_view subkey, std::uint32_t access,
                             RegistryKey* key);
/// RegOpenKeyExW: opens an existing key; ERROR_FILE_NOT_FOUND when there is none,
/// ERROR_ACCESS_DENIED when the process may not have `access` to it.
std::uint32_t RegOpenKeyEx(RegistryRoot root, std::u16string_view subkey, std::uint32_t access,
                           RegistryKey* key);
/// RegSetValueExW: gives the value `name` of an open key (the empty name: the key's default
/// value) the type and exactly the bytes given, whatever the type.
std::uint32_t RegSetValueEx(RegistryKey& key, std::u16string_view name, std::uint32_t type,
                            std::span<const std::uint8_t> data);
/// RegQueryValueExW: the type and the bytes of a value; ERROR_FILE_NOT_FOUND when there is none.
std::uint32_t RegQueryValueEx(RegistryKey& key, std::u16string_view name, std::uint32_t* type,
                              std::vector<std::uint8_t>* data);
/// RegDeleteTreeW: removes `subkey` of `root` with every key and value below it; an empty
/// `subkey`, which would empty the root itself, is refused with ERROR_INVALID_PARAMETER.
std::uint32_t RegDeleteTree(RegistryRoot root, std::u16string_view subkey);
/// RegCloseKey.
void RegCloseKey(RegistryKey& key);

}  // namespace orvex::platform
