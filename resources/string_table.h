#pragma once
// The program's string table (the Windows build keeps it as a string-table resource). Its texts
// come from the data files in this folder.

#include <cstdint>
#include <string_view>

namespace orvex {

/// The text of string `id` (LoadStringW); empty when the table has no such string.
std::u16string_view LoadStringResource(std::uint32_t id);

}  // namespace orvex
