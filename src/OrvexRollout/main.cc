// The roll-out program: runs OrvexMigrate over every profile archive of a share, in place with
// backups or into an output folder, rolls it back, and reports on it.
#include <cstdlib>

#include "OrvexRollout/rollout.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  orvex::platform::SetProcessArguments(argc, argv);
  orvex::ArgumentList args;
  if (orvex::SplitCommandLine(orvex::platform::GetCommandLine(), &args) != 0) {
    return static_cast<int>(orvex::kRolloutUnusable);
  }
  // Quotes around an argument group it; they are not part of it.
  for (std::u16string& arg : args) {
    while (!arg.empty() && arg.back() == u'"') arg.pop_back();
    while (!arg.empty() && arg.front() == u'"') arg.erase(0, 1);
  }
  const orvex::CommandOutput output = orvex::RunRolloutCommand(args);
  orvex::platform::WriteConsole(output.out);
  orvex::platform::WriteConsoleError(output.err);
  return static_cast<int>(output.exit_code);
}
