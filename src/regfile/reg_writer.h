#pragma once
// The .reg file writer: UTF-16LE with a byte-order mark, CR LF line ends, the version 5.00
// header, then each key line, its value lines and an empty line. Byte lists wrap after column 75.

#include <string_view>

#include "common/result.h"
#include "regfile/registry_document.h"

namespace orvex {

/// Writes `document` to `path`, replacing any file there. S_OK, the platform error as HRESULT,
/// or E_INVALIDARG (before the file is touched) for a key path or value name holding CR or LF,
/// which no .reg line can carry, for a REG_SZ value without any data, and for anything the reader
/// could not read back (a key path, name or value over its capacity). A REG_SZ value whose data
/// a quoted string cannot carry exactly (no NUL code unit, a CR or LF before the first one, or
/// text over the reader's capacity) is written as hex(1) with all its bytes.
[[nodiscard]] HRESULT ExportRegFile(const RegistryDocument& document, std::u16string_view path);

/// Whether a key line carries `path` as ParseRegFile reads it back: no CR or LF, and with its
/// closing bracket within kMaxKeyLineUnits.
[[nodiscard]] bool FitsKeyLine(std::u16string_view path);
/// Whether a value line carries `pair` as ParseRegFile reads it back: a name without CR or LF of
/// at most kMaxValueNameUnits, a value FitsRegFile takes, and some data for a REG_SZ value (no
/// data at all is no text).
[[nodiscard]] bool FitsValueLine(const RegistryValuePair& pair);

/// Whether ParseRegFile reads `value` back as ExportRegFile writes it: every value of at most
/// kMaxHexBytes bytes does, a larger one only when it is a REG_SZ text written between quotes.
[[nodiscard]] bool FitsRegFile(const RegistryValueRef& value);

}  // namespace orvex
