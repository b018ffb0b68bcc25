#pragma once
// Windows only: what platform::Stream holds, for the readers of this layer.

#include "platform/win32/windows_api.h"

namespace orvex::platform {

/// An IStream of the system, released with the last holder.
struct StreamObject {
  explicit StreamObject(::IStream* stream) : native(stream) {}
  ~StreamObject() {
    if (native != nullptr) native->Release();
  }
  StreamObject(const StreamObject&) = delete;
  StreamObject& operator=(const StreamObject&) = delete;

  ::IStream* native;
};

}  // namespace orvex::platform
