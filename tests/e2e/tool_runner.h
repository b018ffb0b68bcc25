#pragma once
// Runs the built OrvexMigrate (or OrvexInspect, OrvexRollout) binary the way a user would and
// collects what it left behind. The tool is the Linux build's, or, when ORVEX_E2E_EXE names
// OrvexMigrate.exe, ORVEX_E2E_INSPECT_EXE OrvexInspect.exe, ORVEX_E2E_ROLLOUT_EXE OrvexRollout.exe
// and ORVEX_E2E_WINE_PREFIX a Wine prefix, the Windows build's run under Wine: the same tests then
// check the Windows programs, with paths as Windows writes them.

#include <filesystem>
#include <string>
#include <vector>

namespace orvex::testing {

/// What one run of the tool produced.
struct ToolResult {
  int status = -1;      ///< the process exit status
  std::string console;  ///< standard output
};

/// The programs under test.
enum class Tool { kMigrate, kInspect, kRollout };

/// Runs the tool with `args` in the directory `cwd`; `environment` entries ("NAME=value") are
/// added to the tool's environment. TMPDIR becomes the Windows program's TEMP and TMP.
ToolResult RunTool(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                   const std::vector<std::string>& environment = {}, Tool tool = Tool::kMigrate);

/// Whether the tool under test is the Windows program.
bool ToolIsWindows();

/// How the tool names itself in its usage line.
std::string ToolProgram();

/// `path` as the tool writes it (Z:\tmp\... for a Linux path seen from Wine).
std::string ToolPath(const std::filesystem::path& path);

/// The separator that ends the directories the tool names.
std::string ToolSeparator();

/// The exit status a failure with the exit code `code` shows: Linux keeps 8 bits and gives 255
/// for a larger code, Windows keeps the code.
int ToolStatus(int code);

/// For the Windows program only: what `command` prints when cmd.exe runs it in the Wine prefix.
std::string WindowsShell(const std::string& command);

/// For the Windows program only: the Linux path of a Windows folder such as "%APPDATA%".
std::filesystem::path WindowsFolder(const std::string& folder);

/// The lines of a log file with their time stamps removed ("[INFO ] text"); fails the test when a
/// line does not start with a well-formed stamp or does not end in CR LF.
std::vector<std::string> LogLines(const std::filesystem::path& log_file);

/// The banner every run prints first.
inline constexpr const char* kBanner =
    "Halvane Application Migration v9.2.0.701, settings migration for user-profile archives.\n\n";

}  // namespace orvex::testing
