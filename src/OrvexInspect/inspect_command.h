#pragma once
// The commands of OrvexInspect: check a migration XML, diff two profile archives, derive the rules
// from one archive to another.

#include <cstdint>
#include <string>
#include <string_view>

#include "migration/command_line.h"
#include "reports/command_output.h"

namespace orvex {

/// Exit codes: 0 nothing found (check: no error; diff: equal; derive: every difference
/// expressed), 1 something found, 2 the command could not do its work.
inline constexpr std::uint32_t kInspectFound = 1;
inline constexpr std::uint32_t kInspectFailed = 2;

/// A command that cannot do its work: "OrvexInspect: <message>" on standard error, exit code 2.
CommandOutput Failure(std::u16string message);

/// The named file made absolute, symbolic links followed; empty after `*failure` is filled when it
/// is not there or is no file.
std::u16string ExistingFile(std::u16string_view name, CommandOutput* failure);

/// Runs the command that `args` (entry 0 being the program) names.
CommandOutput RunInspectCommand(const ArgumentList& args);

}  // namespace orvex
