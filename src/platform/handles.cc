// Ownership of file handles and registry keys, the same on every platform.
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

FileView::~FileView() { UnmapViewOfFile(*this); }

RegistryKey::~RegistryKey() { RegCloseKey(*this); }

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    RegCloseKey(*this);
    native_ = other.release();
  }
  return *this;
}

}  // namespace orvex::platform
