#pragma once
// The program's main flow, from a complete command line to the process exit code.

#include <cstdint>

#include "migration/command_line.h"

namespace orvex {

/// Runs the migration the options describe and returns the exit code (the low 16 bits of the
/// last result, or 87 for the failures the user can fix on the command line).
std::uint32_t RunMigration(ProgramOptions options, ConsoleWriter& console);

}  // namespace orvex
