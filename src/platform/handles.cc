// Ownership of file handles, the same on every platform.
#include "platform/platform.h"

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

}  // namespace orvex::platform
