#pragma once
// The per-run working area: a numbered directory under the temporary folder, and the directory
// the input archive is unpacked into with the engine's log file beside it.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"

namespace orvex {

/// The name pattern of working directories and how many numbers a run tries.
inline constexpr std::u16string_view kWorkingDirectoryPattern = u"KVA%05u";
inline constexpr std::uint32_t kWorkingDirectoryTries = 10000;

/// Creates the first free directory named by `pattern` formatted with 1, 2, ... `max_tries`
/// (its one conversion takes the number) under `base_directory`, or under the temporary folder
/// when that is empty; `path` receives it with a final separator. Creating the directory is what
/// claims a number, so runs started together never share one. HRESULT of ERROR_ALREADY_EXISTS
/// when every number is taken, E_INVALIDARG for an empty or unusable pattern or no tries.
[[nodiscard]] HRESULT CreateUniqueDirectory(std::u16string_view base_directory,
                                            std::u16string_view pattern, std::uint32_t max_tries,
                                            std::u16string* path);

/// The directory the input archive is unpacked into: the working directory joined with the
/// archive's file name (".../KVA00001/Profile.zip").
[[nodiscard]] HRESULT FormArchiveDirectory(std::u16string_view working_directory,
                                           std::u16string_view input_path,
                                           std::u16string* archive_directory);

/// The engine's log file: the archive directory without its extension, then ".log".
std::u16string FormEngineLogFile(std::u16string_view archive_directory);

}  // namespace orvex
