#pragma once
// The .reg file writer: UTF-16LE with a byte-order mark, CR LF line ends, the version 5.00
// header, then each key line, its value lines and an empty line. Byte lists wrap after column 75.

#include <string_view>

#include "common/result.h"
#include "regfile/registry_document.h"

namespace orvex {

/// Writes `document` to `path`, replacing any file there. S_OK, the platform error as HRESULT,
/// or E_INVALIDARG (before the file is touched) for a key path or value name holding CR or LF,
/// which no .reg line can carry, or for a REG_SZ value without any data. A REG_SZ value whose data
/// a quoted string cannot carry exactly (no NUL code unit, or a CR or LF before the first one) is
/// written as hex(1) with all its bytes.
[[nodiscard]] HRESULT ExportRegFile(const RegistryDocument& document, std::u16string_view path);

}  // namespace orvex
