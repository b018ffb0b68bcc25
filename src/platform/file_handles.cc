// Ownership of file handles and mapped views, the same on every platform.
#include "platform/file_handles.h"

#include <chrono>
#include <thread>

namespace orvex::platform {

FileHandle::~FileHandle() { CloseHandle(*this); }

FileHandle::FileHandle(FileHandle&& other) noexcept : native_(other.release()) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    CloseHandle(*this);
    native_ = other.release();
  }
  return *this;
}

FileView::~FileView() { UnmapViewOfFile(*this); }

std::uint32_t LockFileWithin(FileHandle& file, std::uint32_t milliseconds) {
  constexpr auto kPause = std::chrono::milliseconds(50);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    const std::uint32_t error =
        LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY);
    if (error != ERROR_LOCK_VIOLATION || std::chrono::steady_clock::now() >= deadline) {
      return error;
    }
    std::this_thread::sleep_for(kPause);
  }
}

}  // namespace orvex::platform
