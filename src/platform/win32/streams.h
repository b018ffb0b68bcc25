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

namespace win32 {

/// The bytes of `source`, unchanged and in order, through a sequential stream each of whose reads
/// but the last ends right after a byte below 0x80 (in UTF-8, an ASCII character) when the bytes
/// asked for hold one, and gives all of them when they hold none; no read gives more than 64 KiB.
/// A read that stops short returns S_OK, as a pipe's may; the last returns what `source` said at
/// its end (S_FALSE for a file). The stream holds a reference to `source`; `*stream` starts with
/// the caller's one. Why the XML reader reads through it: see XmlLiteReader::SetInput.
HRESULT CreateAsciiEndedReads(::ISequentialStream* source, ::ISequentialStream** stream);

}  // namespace win32
}  // namespace orvex::platform
