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

/// The bytes of `source`, unchanged and in order, read through a sequential stream whose every read
/// that is not the last one ends right after a byte below 0x80 (an ASCII character, or the last
/// byte of a UTF-16 unit below 0x80) when the bytes asked for hold one; a read with none gives all
/// the bytes asked for. A read that stops short of the bytes asked for returns S_OK, as reads of
/// a pipe do; the last one returns what `source` said at its end (S_FALSE for a file). The stream
/// holds a reference to `source`; `*stream` starts with one reference, the caller's.
/// Why the XML reader reads its input through it: see XmlLiteReader::SetInput in xml_reader.cc.
HRESULT CreateAsciiEndedReads(::ISequentialStream* source, ::ISequentialStream** stream);

}  // namespace win32
}  // namespace orvex::platform
