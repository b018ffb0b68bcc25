// What is the same on every platform of the services of files.h.
#include "platform/files.h"

namespace orvex::platform {

namespace {

// "<target>.<n>.tmp"
std::u16string NameBeside(std::u16string_view target, std::uint32_t n) {
  std::u16string number;
  for (std::uint32_t rest = n; rest > 0; rest /= 10) {
    number.insert(number.begin(), static_cast<char16_t>(u'0' + rest % 10));
  }
  return std::u16string(target) + u'.' + number + u".tmp";
}

}  // namespace

std::uint32_t CreateHeldFile(std::u16string_view path, FileHandle* file) {
  FileHandle created;
  if (const std::uint32_t error = CreateFile(path, GENERIC_WRITE, CREATE_NEW, &created)) {
    return error;
  }
  // Waits only while someone who found it empty looks at it.
  if (const std::uint32_t error = LockFileEx(created, LOCKFILE_EXCLUSIVE_LOCK)) {
    CloseHandle(created);
    (void)DeleteFile(path);
    return error;
  }
  *file = std::move(created);
  return ERROR_SUCCESS;
}

std::uint32_t TakeAbandonedFile(std::u16string_view path, FileHandle* file) {
  FileHandle found;
  if (const std::uint32_t error = CreateFile(path, GENERIC_READ, OPEN_EXISTING, &found)) {
    return error;
  }
  if (const std::uint32_t error =
          LockFileEx(found, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY)) {
    return error;
  }
  // Its maker may have removed it between the open and the lock, and another file may bear the
  // name by now.
  FileState held, named;
  if (GetFileState(found, &held) != ERROR_SUCCESS || held.size == 0 ||
      GetFileState(path, &named) != ERROR_SUCCESS || !(named.identity == held.identity)) {
    return ERROR_LOCK_VIOLATION;
  }
  *file = std::move(found);
  return ERROR_SUCCESS;
}

std::uint32_t CreateFileBeside(std::u16string_view target, FileHandle* file, std::u16string* name) {
  constexpr std::uint32_t kTries = 100;
  {
    const NameCacheScope names;  // one listing of the folder for all the names looked at
    for (std::uint32_t n = 1; n <= kTries; ++n) {
      const std::u16string left = NameBeside(target, n);
      FileHandle abandoned;
      if (TakeAbandonedFile(left, &abandoned) == ERROR_SUCCESS) (void)DeleteFile(left);
    }
  }
  std::uint32_t error = ERROR_FILE_EXISTS;
  for (std::uint32_t n = 1; n <= kTries; ++n) {
    *name = NameBeside(target, n);
    error = CreateHeldFile(*name, file);
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  return error;
}

}  // namespace orvex::platform
