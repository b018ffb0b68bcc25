#include "tool_runner.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <regex>
#include <sstream>

#include "testing/temp_dir.h"

namespace orvex::testing {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string WineRun() {
  return ShellQuote(std::string(ORVEX_SOURCE_DIR) + "/scripts/wine-run.sh") + " " +
         ShellQuote(Environment("ORVEX_E2E_WINE_PREFIX"));
}

// The Windows program runs from a batch file, which sets its temporary folder and writes its
// whole exit code where the test can read it (a Unix exit status would keep 8 bits).
std::string WindowsCommand(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& environment,
                           const std::filesystem::path& status,
                           const std::filesystem::path& batch) {
  std::string script = "@echo off\r\n";
  for (const std::string& variable : environment) {
    if (variable.starts_with("TMPDIR=")) {
      const std::string temp = ToolPath(variable.substr(7));
      script += "set TEMP=" + temp + "\r\nset TMP=" + temp + "\r\n";
    }
  }
  script += "\"" + ToolPath(program) + "\"";
  // Quoted as a Windows shell would, only where needed: the tool reads its command line itself.
  for (const std::string& arg : args) {
    script += arg.empty() || arg.find_first_of(" \t") != std::string::npos ? " \"" + arg + "\""
                                                                           : " " + arg;
  }
  script += "\r\n> \"" + ToolPath(status) + "\" echo %ERRORLEVEL%\r\nexit /b 0\r\n";
  WriteFile(batch, script);
  return WineRun() + " cmd /c " + ShellQuote(ToolPath(batch));
}

}  // namespace

bool ToolIsWindows() { return !Environment("ORVEX_E2E_EXE").empty(); }

std::string ToolProgram() {
  return ToolIsWindows() ? ToolPath(Environment("ORVEX_E2E_EXE")) : ORVEX_BINARY;
}

std::string ToolPath(const std::filesystem::path& path) {
  if (!ToolIsWindows()) return path.string();
  std::string windows = "Z:" + path.string();
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

std::string ToolSeparator() { return ToolIsWindows() ? "\\" : "/"; }

int ToolStatus(int code) { return ToolIsWindows() || code <= 255 ? code : 255; }

ToolResult RunTool(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                   const std::vector<std::string>& environment, Tool tool) {
  static constexpr const char* kWindowsPrograms[] = {"ORVEX_E2E_EXE", "ORVEX_E2E_INSPECT_EXE",
                                                     "ORVEX_E2E_ROLLOUT_EXE"};
  static constexpr const char* kPrograms[] = {ORVEX_BINARY, ORVEX_INSPECT_BINARY,
                                              ORVEX_ROLLOUT_BINARY};
  const auto program = static_cast<std::size_t>(tool);
  ScopedTempDir capture;
  const auto out = capture.path() / "stdout";
  const auto status = capture.path() / "status";
  std::string command = "cd " + ShellQuote(cwd.string()) + " && env";
  for (const std::string& variable : environment) {
    // Wine's own server would take TMPDIR for its socket: the Windows program gets it as TEMP.
    if (!ToolIsWindows() || !variable.starts_with("TMPDIR=")) command += " " + ShellQuote(variable);
  }
  if (ToolIsWindows()) {
    command += " " + WindowsCommand(Environment(kWindowsPrograms[program]), args, environment,
                                    status, capture.path() / "run.bat");
    command += " >" + ShellQuote(out.string()) + " 2>/dev/null";
  } else {
    command += " " + ShellQuote(kPrograms[program]);
    for (const std::string& arg : args) command += " " + ShellQuote(arg);
    command += " >" + ShellQuote(out.string()) + " 2>&1; echo $? >" + ShellQuote(status.string());
  }
  EXPECT_EQ(std::system(command.c_str()), 0) << command;

  ToolResult result;
  result.console = ReadFile(out);
  result.status = std::stoi("0" + ReadFile(status));
  return result;
}

std::string WindowsShell(const std::string& command) {
  ScopedTempDir capture;
  const auto out = capture.path() / "stdout";
  const std::string line = WineRun() + " cmd /c " + ShellQuote(command) + " >" +
                           ShellQuote(out.string()) + " 2>/dev/null";
  EXPECT_EQ(std::system(line.c_str()), 0) << line;
  return ReadFile(out);
}

std::filesystem::path WindowsFolder(const std::string& folder) {
  std::string path = WindowsShell("echo " + folder);
  while (!path.empty() && (path.back() == '\r' || path.back() == '\n')) path.pop_back();
  EXPECT_TRUE(path.size() > 2 && path[1] == ':') << path;
  if (path.size() <= 2) return {};
  // Wine keeps each drive as a link in the prefix's dosdevices folder.
  std::string rest = path.substr(2);
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  return std::filesystem::path(Environment("ORVEX_E2E_WINE_PREFIX")) / "dosdevices" /
         (std::string(1, static_cast<char>(std::tolower(path[0]))) + ":" + rest);
}

std::vector<std::string> LogLines(const std::filesystem::path& log_file) {
  static const std::regex kStamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
  std::vector<std::string> lines;
  std::istringstream text(ReadFile(log_file));
  for (std::string line; std::getline(text, line);) {
    EXPECT_TRUE(!line.empty() && line.back() == '\r') << "no CR LF: " << line;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    EXPECT_TRUE(std::regex_search(line, kStamp, std::regex_constants::match_continuous)) << line;
    lines.push_back(line.size() > 24 ? line.substr(24) : line);
  }
  return lines;
}

}  // namespace orvex::testing
