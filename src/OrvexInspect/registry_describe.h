#pragma once
// Registry values and their differences as people and scripts read them: text, numbers and bytes
// described, value names quoted, values as JSON.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "OrvexInspect/registry_diff.h"
#include "regfile/registry_document.h"

namespace orvex {

/// The text of a REG_SZ or REG_EXPAND_SZ value that a rule can write: false unless the data is
/// UTF-16 text with exactly one NUL, at its end.
bool ValueText(const RegistryValueRef& value, std::u16string* text);

/// The strings of a REG_MULTI_SZ value: false unless the data is NUL-terminated strings (empty
/// ones too) followed by one more NUL (or that NUL alone).
bool ValueStrings(const RegistryValueRef& value, std::vector<std::u16string>* strings);

/// How a value reads for a person: the first line ("string \"text\"", "integer 42", "qword 7",
/// "multi", "binary 2c 00 ...", "hex(b) ...") and the lines that follow it (the strings of a
/// multi-string, long byte lists).
struct ValueDescription {
  std::u16string head;
  std::vector<std::u16string> more;
};
ValueDescription DescribeValue(const RegistryValueRef& value);

/// What a description adds for a value whose key holds `count` > 1 values of its name: "(the key
/// holds this name twice; an import keeps this last value)".
std::u16string NameCountText(std::size_t count);

/// Whether a move only changed the letter case of a path or name.
bool LetterCaseOnly(std::u16string_view from, std::u16string_view to);

/// How a difference names its value: "\"Name\"", or for a renamed value "\"Old\" -> \"New\"", with
/// " (letter case only)" when that is all that changed; a value moved from another key adds
/// " from [Key]".
std::u16string ValueNamesText(const ValueDifference& value);

/// The value name as a .reg file writes it: @ for the default value, else in double quotes.
std::u16string ValueNameText(std::u16string_view name);

/// Appends the value as a JSON object {"type": ..., "data": ...}: text for strings, a number for
/// integers, an array for multi-strings, lowercase hexadecimal for everything else; with
/// "name_count" when its key holds `count` > 1 values of its name.
void AppendValueJson(std::u16string* out, const RegistryValueRef& value, std::size_t count);

}  // namespace orvex
