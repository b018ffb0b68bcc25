// What is the same on every platform of the services of files.h.
#include "platform/files.h"

namespace orvex::platform {

std::uint32_t CreateFileBeside(std::u16string_view target, FileHandle* file, std::u16string* name) {
  constexpr std::uint32_t kTries = 100;
  std::uint32_t error = ERROR_FILE_EXISTS;
  for (std::uint32_t n = 1; n <= kTries; ++n) {
    std::u16string number;
    for (std::uint32_t rest = n; rest > 0; rest /= 10) {
      number.insert(number.begin(), static_cast<char16_t>(u'0' + rest % 10));
    }
    *name = std::u16string(target) + u'.' + number + u".tmp";
    error = CreateFile(*name, GENERIC_WRITE, CREATE_NEW, file);
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  return error;
}

}  // namespace orvex::platform
