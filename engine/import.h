#pragma once
// Importing a profile archive for the current user: its folder-token folders into the user's
// shell folders, its registry files into the user's registry, or where there is no live registry
// into the user's registry store, a folder of .reg files.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"
#include "engine/engine_log.h"
#include "engine/extract.h"

namespace orvex::engine {

/// Reads an import command line: the option -r followed by the archive path, in double quotes
/// or without blanks. E_INVALIDARG for anything else.
[[nodiscard]] HRESULT ParseImportCommandLine(std::u16string_view command_line,
                                             std::u16string* archive);

/// Imports `archive`: a top-level folder named by a folder token (AppData, Desktop ...) goes to
/// that shell folder, a .reg file directly in the top-level Registry folder goes to the registry
/// store, or into the live registry where there is one; files of the same name and values of the
/// same name are replaced; every other entry is left out. Into the live registry, every registry
/// file is read and checked before anything of the archive is put in place (see
/// RegistryImporter), and its values are written after the folders.
///
/// Where there is no live registry, the store is held for the whole import, so that imports into
/// it take turns: one waits up to `store_wait_ms` for another to finish, then fails with
/// ERROR_LOCK_VIOLATION. A store that cannot be a folder (a file bears its name or a parent's)
/// fails it with ERROR_DIRECTORY.
[[nodiscard]] HRESULT ImportArchive(std::u16string_view archive, const ExtractLimits& limits,
                                    std::uint32_t store_wait_ms, EngineLog& log,
                                    ExtractCounts* counts);

/// How long an import waits for another into the same store: ten minutes.
inline constexpr std::uint32_t kStoreWaitMs = 10 * 60 * 1000;

}  // namespace orvex::engine
