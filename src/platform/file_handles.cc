// Ownership of file handles and mapped views, the same on every platform.
#include "platform/file_handles.h"

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

}  // namespace orvex::platform
