#pragma once
// The environment of the process: environment variables, the current directory, full paths
// and the temporary folder, the C library's character set.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"

namespace orvex::platform {

/// Replaces every %NAME% by the variable's value; unknown names stay as written.
std::uint32_t ExpandEnvironmentStrings(std::u16string_view text, std::u16string* expanded);
/// GetEnvironmentVariableW: the variable's value, its name matched ignoring case; false when it
/// is not set.
bool GetEnvironmentVariable(std::u16string_view name, std::u16string* value);
/// SetEnvironmentVariableW: sets the variable, or removes it when `value` is null.
std::uint32_t SetEnvironmentVariable(std::u16string_view name, const std::u16string* value);

/// Makes `path` absolute against the current directory with "." and ".." resolved
/// (GetFullPathNameW). `file_part` receives the index where the final name component begins.
std::uint32_t GetFullPathName(std::u16string_view path, std::u16string* full,
                              std::size_t* file_part);

/// The separator that joined and absolute paths are written with.
char16_t PathSeparator();
/// Whether paths of 259 characters or more need the long-path prefix ("\\?\") here.
bool NeedsLongPathPrefix();

std::uint32_t GetCurrentDirectory(std::u16string* path);
std::uint32_t SetCurrentDirectory(std::u16string_view path);

/// The temporary folder, always ending in a separator (GetTempPathW).
std::uint32_t GetTempPath(std::u16string* path);

/// While it lives, the calling thread's C-library character set is UTF-8, so that libraries which
/// convert names through the C locale (the archive library) see UTF-8 whatever the process locale.
class ScopedUtf8Locale {
 public:
  ScopedUtf8Locale();
  ~ScopedUtf8Locale();
  ScopedUtf8Locale(const ScopedUtf8Locale&) = delete;
  ScopedUtf8Locale& operator=(const ScopedUtf8Locale&) = delete;

  /// False when no UTF-8 locale could be made; the thread keeps its locale then.
  bool active() const { return locale_ != nullptr; }

 private:
  void* locale_ = nullptr;
  void* previous_ = nullptr;
};

}  // namespace orvex::platform
