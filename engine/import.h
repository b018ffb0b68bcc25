#pragma once
// Importing a profile archive for the current user: its folder-token folders into the user's
// shell folders, its registry files into the user's registry store.

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

/// The user's registry store: $XDG_STATE_HOME/OrvexEngine/Registry when that variable holds an
/// absolute path, else $HOME/.local/state/OrvexEngine/Registry.
[[nodiscard]] HRESULT GetRegistryStore(std::u16string* store);

/// Imports `archive`: a top-level folder named by a folder token (AppData, Desktop ...) goes to
/// that shell folder, a .reg file directly in the top-level Registry folder goes to the registry
/// store; files of the same name are replaced; every other entry is left out.
[[nodiscard]] HRESULT ImportArchive(std::u16string_view archive, const ExtractLimits& limits,
                                    EngineLog& log, ExtractCounts* counts);

}  // namespace orvex::engine
