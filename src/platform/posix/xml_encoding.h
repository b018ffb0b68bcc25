#pragma once
// Linux only: what the first bytes of an XML document say about its encoding, judged as XmlLite
// judges it.

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/result.h"

namespace orvex::platform::posix {

/// What the first bytes say about the encoding, as far as this reader has to judge it itself.
struct EncodingCheck {
  HRESULT result = S_OK;
  std::uint32_t column = 1;         ///< where a refused encoding name starts
  bool ignore_declaration = false;  ///< the byte-order mark or the byte pattern decides
  std::string declared;             ///< the declaration's encoding name, if any
};

/// XmlLite takes the encoding from the byte-order mark when there is one and refuses a declaration
/// that names another; libxml2 would switch decoders in mid-stream instead. UCS-4 is refused as an
/// unknown signature.
EncodingCheck CheckEncoding(const std::uint8_t* bytes, std::size_t size);

}  // namespace orvex::platform::posix
