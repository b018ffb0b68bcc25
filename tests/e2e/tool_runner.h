#pragma once
// Runs the built OrvexMigrate binary the way a user would and collects what it left behind.

#include <filesystem>
#include <string>
#include <vector>

namespace orvex::testing {

/// What one run of the tool produced.
struct ToolResult {
  int status = -1;      ///< the process exit status
  std::string console;  ///< standard output
};

/// Runs the tool with `args` in the directory `cwd`; `environment` entries ("NAME=value") are
/// added to the tool's environment.
ToolResult RunTool(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                   const std::vector<std::string>& environment = {});

/// The lines of a log file with their time stamps removed ("[INFO ] text"); fails the test when a
/// line does not start with a well-formed stamp or does not end in CR LF.
std::vector<std::string> LogLines(const std::filesystem::path& log_file);

/// The banner every run prints first.
inline constexpr const char* kBanner =
    "Halvane Application Migration v9.2.0.701, settings migration for user-profile archives.\n\n";

}  // namespace orvex::testing
