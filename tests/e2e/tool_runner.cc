#include "tool_runner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>

#include "testing/temp_dir.h"

namespace orvex::testing {
namespace {

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

}  // namespace

ToolResult RunTool(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                   const std::vector<std::string>& environment) {
  ScopedTempDir capture;
  const auto out = capture.path() / "stdout";
  const auto status = capture.path() / "status";
  std::string command = "cd " + ShellQuote(cwd.string()) + " && env";
  for (const std::string& variable : environment) command += " " + ShellQuote(variable);
  command += " " + ShellQuote(ORVEX_BINARY);
  for (const std::string& arg : args) command += " " + ShellQuote(arg);
  command += " >" + ShellQuote(out.string()) + " 2>&1; echo $? >" + ShellQuote(status.string());
  EXPECT_EQ(std::system(command.c_str()), 0) << command;

  ToolResult result;
  result.console = ReadFile(out);
  result.status = std::stoi("0" + ReadFile(status));
  return result;
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
