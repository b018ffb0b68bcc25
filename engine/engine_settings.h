#pragma once
// Settings an administrator may give the engine in the environment, read where each operation
// starts.

#include <cstdint>
#include <string_view>

#include "common/result.h"
#include "engine/engine_log.h"
#include "engine/extract.h"

namespace orvex::engine {

/// The environment variable that has Unzip write every file, whatever paths a migration names.
inline constexpr std::u16string_view kWriteAllVariable = u"ORVEX_WRITE_ALL_ENTRIES";

/// Reads the whole number above 0 that the environment variable `name` holds: S_FALSE when it is
/// not set. A value that is no such number fails the operation `operation` with a line in `log`:
/// a setting meant to change something must not quietly stay as it was.
[[nodiscard]] HRESULT ReadSetting(EngineLog& log, std::u16string_view operation,
                                  std::u16string_view name, std::uint64_t* value);

/// The archive-bomb limits, each replaced by its environment variable when an administrator sets
/// it.
[[nodiscard]] HRESULT ReadExtractLimits(EngineLog& log, std::u16string_view operation,
                                        ExtractLimits* limits);

}  // namespace orvex::engine
