#pragma once
// The per-run working area: a numbered directory under the temporary folder, and the directory
// the input archive is unpacked into with the engine's log file beside it.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/file_handles.h"

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

/// Marks the new working directory `path` (with its final separator) as a live run's for as
/// long as `hold` stays open: a file in it, "run.lock", held locked (platform CreateHeldFile).
[[nodiscard]] HRESULT HoldWorkingDirectory(std::u16string_view path, platform::FileHandle* hold);

/// Removes the working directory `path` whose mark `hold` holds, the mark last: until the
/// directory is gone no other run can take it for abandoned.
void RemoveHeldDirectory(std::u16string_view path, platform::FileHandle& hold);

/// Keeps the working directory `path` that the user asked to keep: its mark goes, so no later run
/// takes it for abandoned.
void KeepHeldDirectory(std::u16string_view path, platform::FileHandle& hold);

/// Removes the working directories beside `own` that `pattern` names and whose runs ended without
/// removing them (killed): their mark is there and no run holds it. A directory without a mark
/// (kept on request, or of a run killed before it marked it) stays.
void RemoveAbandonedDirectories(std::u16string_view own, std::u16string_view pattern);

/// The directory the input archive is unpacked into: the working directory joined with the
/// archive's file name (".../KVA00001/Profile.zip").
[[nodiscard]] HRESULT FormArchiveDirectory(std::u16string_view working_directory,
                                           std::u16string_view input_path,
                                           std::u16string* archive_directory);

/// The engine's log file: the archive directory without its extension, then ".log".
std::u16string FormEngineLogFile(std::u16string_view archive_directory);

}  // namespace orvex
